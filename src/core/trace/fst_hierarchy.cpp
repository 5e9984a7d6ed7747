#include "trace/fst_hierarchy.h"

namespace quarn {

FstHierarchyBuilder::FstHierarchyBuilder(TraceRecord& record, std::size_t handles, std::size_t vars)
    : r_(record), handle_to_id_(handles, kNoId) {
  // Sized once, the maps never rehash (which hashes every name again) while
  // the names come in.
  r_.name_to_id.reserve(vars);
  r_.name_to_width.reserve(vars);
  r_.signal_names.reserve(vars);
}

void FstHierarchyBuilder::scope(std::string_view name) {
  path_marks_.push_back(path_.size());
  if (path_marks_.size() > 1) path_ += '.';  // even after an empty scope name
  path_ += name;
  // A set beside the list: a design reopens scopes often, and a linear search
  // per scope is quadratic in big designs.
  if (scope_set_.insert(path_).second) r_.scopes.push_back(path_);
}

void FstHierarchyBuilder::upscope() {
  if (path_marks_.empty()) return;
  path_.resize(path_marks_.back());
  path_marks_.pop_back();
}

void FstHierarchyBuilder::var(std::string_view name, Width width, std::uint32_t handle) {
  // One allocation for the full name: this runs once per variable of designs
  // with hundreds of thousands.
  std::string full;
  full.reserve(path_.size() + 1 + name.size());
  if (!path_marks_.empty()) full.append(path_).push_back('.');
  full.append(name);
  const auto [slot, fresh] = r_.name_to_id.try_emplace(full, 0);
  if (!fresh) return;
  SignalId id;
  const std::size_t index = handle - std::size_t{1};
  if (handle != 0 && index < handle_to_id_.size()) {
    if (handle_to_id_[index] == kNoId) handle_to_id_[index] = next_id_++;
    id = handle_to_id_[index];
  } else {
    id = next_id_++;  // a handle the file has no values for
  }
  slot->second = id;
  r_.name_to_width.emplace(full, width);
  r_.signal_names.push_back(std::move(full));
}

}  // namespace quarn
