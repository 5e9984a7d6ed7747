#include "trace/fst_column_builder.h"

#include "signal/signal_value.h"

namespace quarn {

void FstColumnBuilder::record(Index index, const ValueView& v, bool varlen) {
  if (event_) return trigger(index);
  if (varlen) {
    written_ = true;
    store(index, v);
    return;
  }
  if (last_ != kNoIndex && index < last_) return;  // blocks that overlap in time
  last_ = index;
  written_ = true;
  c_.record_change(index, v);
}

void FstColumnBuilder::record_initial(Index index, const ValueView& v) {
  if (!event_) return record(index, v, false);
  if (v.tag == ValueTag::Bits && v.scalar == 1) trigger(index);
}

// One trigger per step at most: the frame and the first block's chain may
// both hold the trigger at the start time.
void FstColumnBuilder::trigger(Index index) {
  if (last_ != kNoIndex && index <= last_) return;
  last_ = index;
  written_ = true;
  c_.record_change(index, ValueView::bits(++triggers_));
}

// Stores changes as they come (time order) and applies the load-then-fill
// rule: a position whose final value is Empty takes the value before it;
// skipped positions hold the last value.
void FstColumnBuilder::store(Index index, const ValueView& v) {
  if (last_ == kNoIndex || index > last_) {
    if (last_ != kNoIndex) settle(last_);
    c_.record_change(index, v);
    last_ = index;
    last_empty_ = v.tag == ValueTag::Empty;
  } else {
    c_.set(index, v);  // same step again: the later change wins
    if (index == last_) last_empty_ = v.tag == ValueTag::Empty;
  }
}

void FstColumnBuilder::settle(Index index) {
  if (!last_empty_ || index == 0) return;
  const SignalValue before = c_.get(index - 1);  // a copy: set may move the column's bytes
  if (!before.is_empty()) c_.set(index, view_of(before));
}

void FstColumnBuilder::finish(Index last) {
  if (last_empty_) settle(last_);
  c_.hold_through(last);
  c_.shrink_to_fit();
}

}  // namespace quarn
