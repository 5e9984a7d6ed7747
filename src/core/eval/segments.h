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

/// A Real NaN: the one value that differs from itself, so every index of a
/// constant NaN piece after its first is a change.
inline bool is_nan_value(const ValueView& v) { return v.tag == ValueTag::Real && std::isnan(v.real_value()); }

}  // namespace quarn
