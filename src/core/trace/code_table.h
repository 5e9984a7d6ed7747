#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "signal/types.h"
#include "trace/string_map.h"

namespace quarn {

/// Map from VCD identifier code to signal id. Writers number their codes in
/// base 94 over the printable characters '!'..'~', so codes of up to three
/// such characters index a flat array directly (no hashing, and neighbouring
/// codes share cache lines); any other code goes to a string map.
class CodeTable {
 public:
  /// What `lookup` answers for an unknown code.
  static constexpr SignalId kUnknown = ~SignalId{0};

  /// The code's id, or kUnknown. (A plain integer: returning an optional here
  /// cost a store-forwarding stall per value change.)
  [[gnu::always_inline]] SignalId lookup(std::string_view code) const {
    const std::size_t slot = direct_slot(code);
    if (slot < direct_.size() && direct_[slot] != 0) return direct_[slot] - 1;
    if (others_.empty()) return kUnknown;
    return find_other(code);
  }
  std::optional<SignalId> find(std::string_view code) const {
    const SignalId id = lookup(code);
    if (id == kUnknown) return std::nullopt;
    return id;
  }
  /// Adds `code` unless present; returns the id it maps to.
  SignalId insert(std::string_view code, SignalId id);
  std::size_t size() const { return count_ + others_.size(); }

  /// What `direct_slot` answers for a code kept in the string map.
  static constexpr std::size_t kNoSlot = ~std::size_t{0};
  /// Where `code` sits in the flat array (codes of length 1, 2 and 3 take
  /// consecutive ranges of it), or kNoSlot. Readers may keep their own
  /// arrays by the same slots.
  static std::size_t direct_slot(std::string_view code) {
    if (code.empty() || code.size() > 3) return kNoSlot;
    std::size_t value = 0, scale = 1, base = 0;
    for (std::size_t i = 0; i < code.size(); ++i) {
      const unsigned c = static_cast<unsigned char>(code[i]);
      if (c < 33 || c > 126) return kNoSlot;
      value += (c - 33) * scale;
      base += scale;
      scale *= 94;
    }
    return base - 1 + value;
  }

 private:
  SignalId find_other(std::string_view code) const;

  std::vector<std::uint32_t> direct_;  // id + 1; 0 = no such code
  std::size_t count_ = 0;
  StringMap<SignalId> others_;  // longer codes, odd bytes, ids past 2^32 - 2
};

}  // namespace quarn
