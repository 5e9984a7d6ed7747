#include "trace/fst_hierarchy.h"

#include <algorithm>
#include <new>

#include "trace/name_alias.h"

namespace quarn {

namespace {

// Wider "buses" are not bit-blasted vectors but stray indices.
constexpr std::int64_t kMaxBusWidth = std::int64_t{1} << 16;

}  // namespace

FstHierarchyBuilder::FstHierarchyBuilder(TraceRecord& record, std::size_t handles, std::size_t vars)
    : names_(record.names), next_number_(0, PathTextHash{&names_}, PathTextEqual{&names_}),
      handle_to_id_(handles, kNoId) {
  // Sized once: a scope per few variables, a path per variable and scope.
  names_.reserve(vars, vars + vars / 4 + 16);
  vars_.reserve(vars);
}

void FstHierarchyBuilder::scope(std::string_view name) {
  // Even an empty name adds a component (and its "."); a scope reopened
  // is the one listed before.
  open_scopes_.push_back(names_.add_scope(open_scopes_.empty() ? NameTable::kTop : open_scopes_.back(), name));
}

void FstHierarchyBuilder::upscope() {
  if (!open_scopes_.empty()) open_scopes_.pop_back();
}

void FstHierarchyBuilder::var(std::string_view name, Width width, std::uint32_t handle) {
  const Path scope = open_scopes_.empty() ? NameTable::kTop : open_scopes_.back();
  // Names within 4 GiB of text: more would not fit in memory anyway.
  if (name.size() > 0xFFFFFFFFu - var_names_.size()) throw std::bad_alloc();
  vars_.push_back({scope, static_cast<std::uint32_t>(name.size()), static_cast<std::uint32_t>(var_names_.size()),
                   width, handle});
  var_names_.append(name);
}

SignalId FstHierarchyBuilder::id_of_handle(std::uint32_t handle) {
  const std::size_t index = handle - std::size_t{1};
  if (handle == 0 || index >= handle_to_id_.size()) return next_id_++;  // a handle the file has no values for
  if (handle_to_id_[index] == kNoId) handle_to_id_[index] = next_id_++;
  return handle_to_id_[index];
}

FstHierarchyBuilder::Path FstHierarchyBuilder::unused_name(Path path) {
  if (!names_.find(path)) return path;
  // Numbers handed out stay taken: the next clash of this name goes on
  // from the last one.
  unsigned& k = next_number_.try_emplace(path, 2).first->second;
  for (;; ++k) {
    const Path numbered = names_.add_suffixed(path, "#" + std::to_string(k));
    if (!names_.find(numbered)) {
      ++k;
      return numbered;
    }
  }
}

void FstHierarchyBuilder::finish() {
  // Bit-blasted candidates: one-bit variables named "base [i]", grouped by
  // their full canonical name.
  std::vector<Path> canonical(vars_.size());
  PathMap<std::vector<std::size_t>> groups(0, PathTextHash{&names_}, PathTextEqual{&names_});
  for (std::size_t i = 0; i < vars_.size(); ++i) {
    const VarNameParts parts = split_var_name(var_name(vars_[i]));
    canonical[i] = names_.add_path(vars_[i].scope, parts.base);
    if (vars_[i].width == 1 && parts.single_index) groups[canonical[i]].push_back(i);
  }
  // The bit index of a group member, split again rather than kept for all.
  const auto bit_of = [&](std::size_t m) { return *split_var_name(var_name(vars_[m])).lsb; };
  constexpr std::size_t kNoBus = ~std::size_t{0};
  std::vector<std::size_t> bus_of(vars_.size(), kNoBus);  // first member of the var's bus
  std::vector<std::uint8_t> repeated(vars_.size(), 0);  // a bit declared again (a scope reopened)
  for (auto& [name, members] : groups) {
    std::unordered_map<std::int64_t, std::uint32_t> handle_at;
    std::int64_t lo = bit_of(members[0]), hi = lo;
    bool distinct = true;
    std::vector<std::size_t> bits;
    for (std::size_t m : members) {
      const std::int64_t index = bit_of(m);
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

  std::vector<std::uint8_t> named;  // per id
  const auto mark_named = [&](SignalId id) {
    if (id >= named.size()) named.resize(std::max<std::size_t>(id + 1, 2 * named.size()), 0);
    named[id] = 1;
  };
  for (std::size_t i = 0; i < vars_.size(); ++i) {
    const Var& v = vars_[i];
    if (bus_of[i] != kNoBus) {
      if (bus_of[i] != i) continue;  // emitted with its first bit
      const auto& members = groups.find(canonical[i])->second;
      std::int64_t lo = bit_of(i), hi = lo;
      for (std::size_t m : members) lo = std::min(lo, bit_of(m)), hi = std::max(hi, bit_of(m));
      FstBus bus{next_id_++, static_cast<Width>(hi - lo + 1), {}};
      for (std::size_t m : members)
        bus.bits.push_back({static_cast<Width>(bit_of(m) - lo), id_of_handle(vars_[m].handle)});
      names_.add_signal(unused_name(canonical[i]), bus.id, bus.width);
      mark_named(bus.id);
      buses_.push_back(std::move(bus));
      continue;
    }
    const SignalId id = id_of_handle(v.handle);
    Path name = canonical[i];
    if (const NameTable::Signal* known = names_.find(name)) {
      if (known->id == id) continue;  // the same signal declared twice
      name = unused_name(names_.add_path(v.scope, var_name(v)));
    }
    names_.add_signal(name, id, v.width);
    mark_named(id);
  }

  for (const FstBus& bus : buses_)
    for (const BusBit& bit : bus.bits)
      if (bit.id >= named.size() || !named[bit.id]) hidden_.push_back(bit.id);
  vars_ = {};
  var_names_ = {};
  next_number_.clear();
}

}  // namespace quarn
