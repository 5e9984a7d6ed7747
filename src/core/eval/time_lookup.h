#pragma once

#include <optional>
#include <span>

#include "signal/types.h"

namespace quarn {

/// The index in force at simulation time `time`: the last index whose
/// timestamp is <= time. Absent before the first timestamp (and for an empty
/// list). Timestamps must be ascending, as every reader leaves them.
std::optional<Index> index_at(std::span<const Time> timestamps, Time time);

/// A half-open range of indices.
struct IndexRange {
  Index first = 0;
  Index end = 0;
};

/// The indices in force at some time in [t0, t1]: from the index in force at
/// t0 (or the first index, when t0 comes before it) to one past the index in
/// force at t1. Empty (first == end) when t1 < t0 or t1 comes before the
/// first timestamp.
IndexRange time_window(std::span<const Time> timestamps, Time t0, Time t1);

}  // namespace quarn
