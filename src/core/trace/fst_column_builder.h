#pragma once

#include <cstdint>
#include <limits>

#include "signal/column.h"
#include "signal/types.h"
#include "signal/value_view.h"

namespace quarn {

/// Builds one FST signal's column from its changes in time order, with the
/// reader's rules: blocks that overlap in time keep the earlier block's
/// values; a variable-length value stored at a step where the final value is
/// Empty (a zero-length string) takes the value before it; after `finish`
/// every value holds to the last index. The eager and the lazy FST traces
/// both build their columns here, so they answer alike.
class FstColumnBuilder {
 public:
  static constexpr Index kNoIndex = std::numeric_limits<Index>::max();

  /// Makes this an event's column: each change is a trigger and stores
  /// Bits(n), n the number of triggers so far, as VCD events are stored, so
  /// a repeated "1" still counts. Call before the first change.
  void count_triggers() { event_ = true; }
  /// One change at `index`; `varlen` for a variable-length (string) signal.
  void record(Index index, const ValueView& v, bool varlen);
  /// The value the first block's frame holds at `index`. For an event only
  /// a "1" is a trigger: the writer puts x in the frame of an event that has
  /// not fired.
  void record_initial(Index index, const ValueView& v);
  /// Whether any change was recorded (a signal without one has no column).
  bool written() const { return written_; }
  /// Applies the Empty rule to the last change and holds the last value
  /// through `last` (the trace's last index); trims the storage.
  void finish(Index last);
  Column& column() { return c_; }

 private:
  void store(Index index, const ValueView& v);
  void trigger(Index index);
  void settle(Index index);

  Column c_;
  Index last_ = kNoIndex;
  bool last_empty_ = false;
  bool written_ = false;
  bool event_ = false;
  std::uint64_t triggers_ = 0;
};

}  // namespace quarn
