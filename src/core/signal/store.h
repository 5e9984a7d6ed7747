#pragma once

#include <cstddef>
#include <memory>
#include <unordered_map>
#include <vector>

#include "signal/column.h"
#include "signal/signal_value.h"
#include "signal/types.h"
#include "signal/value_view.h"

namespace quarn {

/// All values of a trace: one `Column` per signal id. Reads answer exactly what
/// dense, forward-filled columns (one value per index) would answer after the
/// same `set` and `forward_fill` calls, but storage grows with changes only.
class SignalStore {
 public:
  /// Stores `v` at `index` of the id's column, creating the column if needed.
  void set(SignalId id, Index index, const SignalValue& v) { set(id, index, view_of(v)); }
  void set(SignalId id, Index index, const ValueView& v);
  /// For readers that store changes in index order and hold values until the
  /// next change: `forward_fill` of every skipped index of this column, then set.
  void record_change(SignalId id, Index index, const ValueView& v);

  /// A copy of the value at `index`; Empty for an unknown id or past the end.
  SignalValue get(SignalId id, Index index) const;
  ValueView view(SignalId id, Index index) const;
  /// The values at start .. end-1 (empty when end <= start).
  std::vector<SignalValue> get_range(SignalId id, Index start, Index end) const;

  /// Carries every column's value at index-1 to `index` where the former is not
  /// Empty and the latter is missing or Empty. Index 0 does nothing.
  void forward_fill(Index index);
  /// `forward_fill` of every index up to `last` when nothing else is written.
  void hold_through(Index last);

  /// The id's column, or null when nothing was ever stored for it.
  const Column* column(SignalId id) const;
  /// The id's column, created empty if needed; valid until another id's
  /// column is created.
  Column& column_for_write(SignalId id);

  void shrink_to_fit();
  std::size_t memory_bytes() const;

 private:
  template <class F>
  void for_each_column(F f);

  // Readers number ids from 0, so most live in a vector; far-off ids (a
  // corrupt file) go to a map rather than a huge vector.
  std::vector<Column> dense_;
  std::vector<bool> dense_used_;
  std::unordered_map<SignalId, Column> sparse_;
};

}  // namespace quarn
