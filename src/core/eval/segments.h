#pragma once

#include <algorithm>
#include <cmath>

#include "signal/column.h"
#include "signal/types.h"
#include "signal/value_view.h"

namespace quarn {

/// Calls `f(start, end, value)` for consecutive pieces of the indices
/// 0 .. count-1, in order, over each of which the stored value is constant.
/// Indices past the column's end, and every index of a null column, read as
/// Empty. Neighbouring pieces may hold values that compare equal (runs merge
/// only bit-identical values), so callers compare across piece boundaries.
template <class F>
void for_each_segment(const Column* column, Index count, F&& f) {
  Index done = 0;
  if (column != nullptr) {
    const std::size_t runs = column->run_count();
    for (std::size_t k = 0; k < runs && done < count; ++k) {
      const Index end = std::min(column->run_end(k), count);
      if (end <= done) continue;
      f(done, end, column->run_value(k));
      done = end;
    }
  }
  if (done < count) f(done, count, ValueView::empty());
}

/// Where `find_run` starts looking for `index` (below the column's length):
/// its position if changes were spread evenly.
inline std::size_t guess_run(const Column& column, Index index) {
  const std::size_t n = column.run_count();
  // A double is exact enough for a guess and far cheaper than 128-bit division.
  const double share = static_cast<double>(index) / static_cast<double>(column.length());
  const auto guess = static_cast<std::size_t>(share * static_cast<double>(n));
  return guess < n ? guess : n - 1;
}

/// `find_run` from a guess whose start the caller has read already.
inline std::size_t find_run_from(const Column& column, Index index, std::size_t guess, Index guess_start) {
  const std::size_t n = column.run_count();
  // Invariant of the final search: run_start(lo) <= index < run_start(hi) (hi may be n).
  std::size_t lo, hi;
  if (guess_start <= index) {
    lo = guess;
    std::size_t step = 1;
    while (true) {
      if (step >= n - lo) { hi = n; break; }
      const std::size_t probe = lo + step;
      if (column.run_start(probe) > index) { hi = probe; break; }
      lo = probe;
      step *= 2;
    }
  } else {
    hi = guess;
    std::size_t step = 1;
    while (true) {
      if (step >= hi) { lo = 0; break; }  // run_start(0) == 0 <= index
      const std::size_t probe = hi - step;
      if (column.run_start(probe) <= index) { lo = probe; break; }
      hi = probe;
      step *= 2;
    }
  }
  while (hi - lo > 1) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (column.run_start(mid) <= index) lo = mid;
    else hi = mid;
  }
  return lo;
}

/// The run of `column` that holds `index` (which must be below its length).
/// Starts from where the index would sit if changes were spread evenly and
/// gallops from there: a column's starts are rarely in cache when a query
/// visits thousands of signals, and the guess usually lands within a cache
/// line or two of the answer, where a plain binary search touches ~log2(runs)
/// lines. Worst case stays logarithmic.
inline std::size_t find_run(const Column& column, Index index) {
  const std::size_t guess = guess_run(column, index);
  return find_run_from(column, index, guess, column.run_start(guess));
}

/// A Real NaN: the one value that differs from itself, so every index of a
/// constant NaN piece after its first is a change.
inline bool is_nan_value(const ValueView& v) { return v.tag == ValueTag::Real && std::isnan(v.real_value()); }

}  // namespace quarn
