#include "eval/time_lookup.h"

#include <algorithm>

namespace quarn {

std::optional<Index> index_at(std::span<const Time> timestamps, Time time) {
  const auto it = std::upper_bound(timestamps.begin(), timestamps.end(), time);
  if (it == timestamps.begin()) return std::nullopt;
  return static_cast<Index>(it - timestamps.begin() - 1);
}

IndexRange time_window(std::span<const Time> timestamps, Time t0, Time t1) {
  const auto last = index_at(timestamps, t1);
  if (t1 < t0 || !last) return {};
  const Index first = index_at(timestamps, t0).value_or(0);
  return {first, *last + 1};
}

}  // namespace quarn
