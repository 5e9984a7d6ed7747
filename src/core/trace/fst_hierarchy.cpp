#include "trace/fst_hierarchy.h"

#include <algorithm>

#include "trace/name_alias.h"

namespace quarn {

namespace {

// Wider "buses" are not bit-blasted vectors but stray indices.
constexpr std::int64_t kMaxBusWidth = std::int64_t{1} << 16;

}  // namespace

FstHierarchyBuilder::FstHierarchyBuilder(TraceRecord& record, std::size_t handles, std::size_t vars)
    : r_(record), handle_to_id_(handles, kNoId) {
  // Sized once, the maps never rehash (which hashes every name again) while
  // the names come in.
  r_.name_to_id.reserve(vars);
  r_.name_to_width.reserve(vars);
  r_.signal_names.reserve(vars);
  vars_.reserve(vars);
}

void FstHierarchyBuilder::scope(std::string_view name) {
  path_marks_.push_back(path_.size());
  if (path_marks_.size() > 1) path_ += '.';  // even after an empty scope name
  path_ += name;
  // A map beside the list: a design reopens scopes often, and a linear search
  // per scope is quadratic in big designs.
  auto [it, added] = scope_index_.try_emplace(path_, r_.scopes.size());
  if (added) r_.scopes.push_back(path_);
  open_scopes_.push_back(it->second);
}

void FstHierarchyBuilder::upscope() {
  if (path_marks_.empty()) return;
  path_.resize(path_marks_.back());
  path_marks_.pop_back();
  open_scopes_.pop_back();
}

void FstHierarchyBuilder::var(std::string_view name, Width width, std::uint32_t handle) {
  vars_.push_back({open_scopes_.empty() ? kTop : open_scopes_.back(), std::string(name), width, handle});
}

SignalId FstHierarchyBuilder::id_of_handle(std::uint32_t handle) {
  const std::size_t index = handle - std::size_t{1};
  if (handle == 0 || index >= handle_to_id_.size()) return next_id_++;  // a handle the file has no values for
  if (handle_to_id_[index] == kNoId) handle_to_id_[index] = next_id_++;
  return handle_to_id_[index];
}

std::string FstHierarchyBuilder::full_name(std::size_t scope, std::string_view name) const {
  if (scope == kTop) return std::string(name);
  std::string full;
  full.reserve(r_.scopes[scope].size() + 1 + name.size());
  return full.append(r_.scopes[scope]).append(1, '.').append(name);
}

void FstHierarchyBuilder::add_name(std::string name, SignalId id, Width width) {
  r_.name_to_id.emplace(name, id);
  r_.name_to_width.emplace(name, width);
  r_.signal_names.push_back(std::move(name));
}

std::string FstHierarchyBuilder::unused_name(std::string name) const {
  if (r_.name_to_id.find(name) == r_.name_to_id.end()) return name;
  for (unsigned k = 2;; ++k) {
    std::string numbered = name + "#" + std::to_string(k);
    if (r_.name_to_id.find(numbered) == r_.name_to_id.end()) return numbered;
  }
}

void FstHierarchyBuilder::finish() {
  // Bit-blasted candidates: one-bit variables named "base [i]", grouped by
  // their full canonical name.
  std::vector<std::string> canonical(vars_.size());
  std::vector<VarNameParts> parts(vars_.size());
  std::unordered_map<std::string_view, std::vector<std::size_t>> groups;
  for (std::size_t i = 0; i < vars_.size(); ++i) {
    parts[i] = split_var_name(vars_[i].name);
    canonical[i] = full_name(vars_[i].scope, parts[i].base);
    if (vars_[i].width == 1 && parts[i].single_index) groups[canonical[i]].push_back(i);
  }
  constexpr std::size_t kNoBus = ~std::size_t{0};
  std::vector<std::size_t> bus_of(vars_.size(), kNoBus);  // first member of the var's bus
  std::vector<std::uint8_t> repeated(vars_.size(), 0);  // a bit declared again (a scope reopened)
  for (auto& [name, members] : groups) {
    std::unordered_map<std::int64_t, std::uint32_t> handle_at;
    std::int64_t lo = *parts[members[0]].lsb, hi = lo;
    bool distinct = true;
    std::vector<std::size_t> bits;
    for (std::size_t m : members) {
      const std::int64_t index = *parts[m].lsb;
      auto [it, added] = handle_at.try_emplace(index, vars_[m].handle);
      if (!added) {
        distinct = distinct && it->second == vars_[m].handle;
        repeated[m] = 1;
        continue;
      }
      bits.push_back(m);
      lo = std::min(lo, index), hi = std::max(hi, index);
    }
    if (bits.size() < 2 || !distinct || hi - lo >= kMaxBusWidth) continue;
    for (std::size_t m : members) bus_of[m] = members[0];
    members = std::move(bits);
  }

  std::vector<SignalId> named;
  for (std::size_t i = 0; i < vars_.size(); ++i) {
    const Var& v = vars_[i];
    if (bus_of[i] != kNoBus) {
      if (bus_of[i] != i) continue;  // emitted with its first bit
      const auto& members = groups[canonical[i]];
      std::int64_t lo = *parts[i].lsb, hi = lo;
      for (std::size_t m : members) lo = std::min(lo, *parts[m].lsb), hi = std::max(hi, *parts[m].lsb);
      FstBus bus{next_id_++, static_cast<Width>(hi - lo + 1), {}};
      for (std::size_t m : members)
        bus.bits.push_back({static_cast<Width>(*parts[m].lsb - lo), id_of_handle(vars_[m].handle)});
      add_name(unused_name(canonical[i]), bus.id, bus.width);
      named.push_back(bus.id);
      buses_.push_back(std::move(bus));
      continue;
    }
    const SignalId id = id_of_handle(v.handle);
    std::string name = canonical[i];  // a copy: `groups` views these strings
    if (auto it = r_.name_to_id.find(name); it != r_.name_to_id.end()) {
      if (it->second == id) continue;  // the same signal declared twice
      name = unused_name(full_name(v.scope, v.name));
    }
    add_name(std::move(name), id, v.width);
    named.push_back(id);
  }

  std::sort(named.begin(), named.end());
  for (const FstBus& bus : buses_)
    for (const BusBit& bit : bus.bits)
      if (!std::binary_search(named.begin(), named.end(), bit.id)) hidden_.push_back(bit.id);
  vars_ = {};
}

}  // namespace quarn
