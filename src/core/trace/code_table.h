#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "signal/types.h"
#include "trace/string_map.h"

namespace quarn {

/// Map from VCD identifier code to signal id. Codes of up to 7 bytes (nearly
/// all of them) are packed into one integer key of an open-addressing table,
/// so a lookup hashes one word instead of a string.
class CodeTable {
 public:
  std::optional<SignalId> find(std::string_view code) const;
  /// Adds `code` unless present; returns the id it maps to.
  SignalId insert(std::string_view code, SignalId id);
  std::size_t size() const { return count_ + long_codes_.size(); }

 private:
  struct Slot {
    std::uint64_t key = 0;  // 0 = free; packed keys are never 0 (length byte)
    SignalId id = 0;
  };
  static bool packable(std::string_view code) { return code.size() <= 7; }
  static std::uint64_t pack(std::string_view code);
  std::size_t probe(std::uint64_t key) const;
  void grow();

  std::vector<Slot> slots_;
  std::size_t count_ = 0;
  StringMap<SignalId> long_codes_;
};

}  // namespace quarn
