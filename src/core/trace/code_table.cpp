#include "trace/code_table.h"

#include <algorithm>

namespace quarn {

SignalId CodeTable::find_other(std::string_view code) const {
  auto it = others_.find(code);
  return it == others_.end() ? kUnknown : it->second;
}

SignalId CodeTable::insert(std::string_view code, SignalId id) {
  const std::size_t slot = direct_slot(code);
  if (auto known = find(code)) return *known;
  if (slot == kNoSlot || id >= UINT32_MAX - 1) return others_.emplace(std::string(code), id).first->second;
  if (slot >= direct_.size()) direct_.resize(std::max(slot + 1, direct_.size() * 2), 0);
  if (direct_[slot] == 0) {
    direct_[slot] = static_cast<std::uint32_t>(id + 1);
    ++count_;
  }
  return direct_[slot] - 1;
}

}  // namespace quarn
