#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "signal/types.h"

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
struct DecodeLimits {
  /// Events all toggle stages together may add; a block whose toggle stage
  /// would go past it is not toggled.
  std::uint64_t toggle_events = 10'000'000;
  /// Events all delta stages together may add; a block whose delta stage
  /// would go past it is not decoded by that stage.
  std::uint64_t delta_events = 10'000'000;
};

/// Decodes one whole transition file for a design with `name_count` signals.
/// nullopt when the file is skipped: shorter than 24 bytes, another magic, or
/// no signals at all.
std::optional<ShmFileEvents> decode_transitions(std::string_view data, std::uint64_t name_count,
                                                const DecodeLimits& limits = {});

}  // namespace quarn::shm
