#pragma once

#include <cstdint>

namespace quarn {

/// Position in a trace's list of timestamps (0 .. max_index).
using Index = std::uint64_t;
/// A simulation time as written in the source (unit left to the source).
using Time = std::uint64_t;
/// Reader-assigned number of a signal; aliases share one.
using SignalId = std::uint64_t;
/// Bit width of a signal.
using Width = std::uint32_t;

}  // namespace quarn
