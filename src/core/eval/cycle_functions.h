#pragma once

#include "eval/expr_parse.h"

namespace quarn {

/// The functions of expressions evaluated per clock cycle: those of
/// `index_functions` (prev/next then step by cycles) and the temporal ones,
/// each also written with a leading '$': rose, fell, stable, changed (against
/// the previous cycle's sampled value; before the first cycle that value is
/// unknown), past(x[, n]), countones, onehot, onehot0, isunknown.
const FunctionTable& cycle_functions();

}  // namespace quarn
