#include "trace/code_table.h"

#include <cstring>

namespace quarn {

std::uint64_t CodeTable::pack(std::string_view code) {
  std::uint64_t key = 0;
  std::memcpy(&key, code.data(), code.size());
  // The length in the top byte keeps codes with trailing NULs apart and makes
  // every key nonzero.
  return key | (static_cast<std::uint64_t>(code.size() + 1) << 56);
}

std::size_t CodeTable::probe(std::uint64_t key) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 20) & mask;
  while (slots_[i].key != 0 && slots_[i].key != key) i = (i + 1) & mask;
  return i;
}

std::optional<SignalId> CodeTable::find(std::string_view code) const {
  if (!packable(code)) {
    auto it = long_codes_.find(code);
    if (it == long_codes_.end()) return std::nullopt;
    return it->second;
  }
  if (slots_.empty()) return std::nullopt;
  const Slot& s = slots_[probe(pack(code))];
  if (s.key == 0) return std::nullopt;
  return s.id;
}

void CodeTable::grow() {
  std::vector<Slot> old;
  old.swap(slots_);
  slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
  for (const Slot& s : old)
    if (s.key != 0) slots_[probe(s.key)] = s;
}

SignalId CodeTable::insert(std::string_view code, SignalId id) {
  if (!packable(code)) return long_codes_.emplace(std::string(code), id).first->second;
  if ((count_ + 1) * 2 > slots_.size()) grow();
  const std::uint64_t key = pack(code);
  Slot& s = slots_[probe(key)];
  if (s.key == 0) {
    s = Slot{key, id};
    ++count_;
  }
  return s.id;
}

}  // namespace quarn
