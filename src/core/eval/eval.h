#pragma once

#include "signal/signal_value.h"
#include "signal/types.h"

namespace quarn {

struct Expr;
class Trace;

/// Value of `expr` at `index` of `trace`. Never fails: whatever cannot be
/// computed (unknown ids, indices past the end, RelEval targets outside
/// 0 .. max_index, operands without a numeric reading) ends as Empty, or as
/// Bits 0/1 for the logical and test nodes. Trees of any depth are safe.
SignalValue eval(const Trace& trace, const Expr& expr, Index index);

/// Truthiness of `eval` at the same index.
bool eval_bool(const Trace& trace, const Expr& expr, Index index);

}  // namespace quarn
