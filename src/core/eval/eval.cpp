#include "eval/eval.h"

#include "eval/block_eval.h"
#include "eval/program.h"

namespace quarn {

// One index is a window of one lane: the same code as the searches, so both
// give the same answers by construction.
SignalValue eval(const Trace& trace, const Expr& expr, Index index) {
  const Program program = compile(trace, expr);
  BlockEvaluator ev(program);
  ev.run(index, 1);
  return ev.first_value();
}

bool eval_bool(const Trace& trace, const Expr& expr, Index index) {
  const Program program = compile(trace, expr);
  BlockEvaluator ev(program);
  ev.run(index, 1);
  return ev.truth()[0] != 0;
}

}  // namespace quarn
