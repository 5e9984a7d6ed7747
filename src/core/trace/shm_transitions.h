#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "signal/types.h"

namespace quarn {
class LoadControl;
}

namespace quarn::shm {

/// One decoded change: signal `id` has value `bit` (0 or 1) from trace time
/// `time` on. A toggle stage can make millions, so the record is kept small;
/// ids past 32 bits (a design of more than 4 billion names) get no events.
struct ShmEvent {
  Time time;
  std::uint32_t id;
  std::uint8_t bit;
};
static_assert(sizeof(ShmEvent) == 16);

/// A usable block header (raw fields; offsets are file offsets).
struct ShmBlock {
  std::uint32_t e;  ///< block end time, raw
  std::uint32_t n;  ///< time steps, never 0
  std::uint32_t q;  ///< end of the trailer
  std::uint32_t s;  ///< start of the value bytes
  std::uint32_t v;  ///< end of the value bytes, start of the trailer
};

/// Result of the header search over a transition file.
struct BlockScan {
  std::vector<ShmBlock> blocks;  ///< usable blocks in file order
  std::uint32_t max_e = 0;       ///< largest end time of any marker found
};

/// Finds the block headers of a transition file: every marker 00 1B 22 00
/// with 64 header bytes behind it, searching on after each header's end.
BlockScan find_blocks(std::string_view data);

/// What one transition file contributes.
struct ShmFileEvents {
  /// Changes in the order decoded; ids are below the name count.
  std::vector<ShmEvent> events;
  /// The converted largest block end time, when a marker with a non-zero end
  /// time was seen.
  std::optional<Time> end_time;
};

/// Work limits per transition file: a corrupt header can otherwise ask the
/// toggle and delta stages for billions of events. Real files stay far below.
/// A whole database shares one budget of each (`EventBudget`).
struct DecodeLimits {
  /// Events all toggle stages together may add; a block whose toggle stage
  /// would go past it is not toggled.
  std::uint64_t toggle_events = 10'000'000;
  /// Events all delta stages together may add; a block whose delta stage
  /// would go past it is not decoded by that stage.
  std::uint64_t delta_events = 10'000'000;
};

/// Events a whole database may decode: a fixed allowance plus a share of its
/// input bytes, so that memory and time follow the input's size, not the
/// block counts its headers claim times the number of files.
class EventBudget {
 public:
  /// Events of each kind (toggle, delta) allowed before any input is counted.
  static constexpr std::uint64_t kAllowance = std::uint64_t{1} << 19;
  /// Input bytes per event of each kind added by `grant`.
  static constexpr std::uint64_t kBytesPerEvent = 8;

  /// A budget of exactly `limits` (for tests and fuzzing).
  explicit EventBudget(const DecodeLimits& limits) : left_(limits) {}
  /// The budget for inputs: the allowance, plus `grant` per file.
  static EventBudget for_input() { return EventBudget({kAllowance, kAllowance}); }

  /// Adds the share of `bytes` more input.
  void grant(std::uint64_t bytes) {
    left_.toggle_events += bytes / kBytesPerEvent;
    left_.delta_events += bytes / kBytesPerEvent;
  }
  /// The limits for the next file.
  const DecodeLimits& limits() const { return left_; }
  /// Takes what a file used (its events, counted against both kinds).
  void spend(std::uint64_t events) {
    left_.toggle_events -= std::min(events, left_.toggle_events);
    left_.delta_events -= std::min(events, left_.delta_events);
  }

 private:
  DecodeLimits left_;
};

/// Decodes one whole transition file for a design with `name_count` signals.
/// nullopt when the file is skipped: shorter than 24 bytes, another magic, or
/// no signals at all.
/// Stops at a block boundary once `control` says stop.
std::optional<ShmFileEvents> decode_transitions(std::string_view data, std::uint64_t name_count,
                                                const DecodeLimits& limits = {}, LoadControl* control = nullptr);

}  // namespace quarn::shm
