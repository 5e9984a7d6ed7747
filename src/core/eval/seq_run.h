#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "eval/seq_ast.h"
#include "eval/seq_nfa.h"
#include "signal/types.h"

namespace quarn {

class Trace;

/// A property with each sequence compiled to its automaton.
struct CompiledProp {
  PropNode::Kind kind = PropNode::Kind::Seq;
  bool overlapping = true;
  std::uint32_t leaf = 0;  // Disable: the condition
  Nfa nfa;                 // Seq, Implies (the antecedent)
  std::unique_ptr<CompiledProp> child;
};

/// A parsed program ready to run: `disable_leaf` when the caller adds a
/// disable condition of its own.
struct CompiledProgram {
  std::vector<ExprPtr> leaves;
  std::unique_ptr<CompiledProp> prop;
};

/// Compiles every sequence of `program`; false with `error` set when one
/// needs more states than allowed, or `disable iff` is not outermost.
bool compile_program(SeqProgram program, CompiledProgram& out, std::string& error);

/// The truth of each leaf at every cycle of `cycles` (a trace whose indices
/// are cycles), bit-packed: bit c of words[c / 64]. Evaluated over change
/// runs, windows in parallel.
std::vector<std::vector<std::uint64_t>> leaf_truths(const Trace& cycles, std::size_t cycle_count,
                                                    const std::vector<ExprPtr>& leaves);

/// First-match ends: one row per start cycle from which the sequence
/// matches, with its earliest end.
struct SeqMatches {
  std::vector<Index> start;
  std::vector<Index> end;
};

/// How one attempt ended.
enum class Outcome : std::uint8_t { Passed, Failed, Vacuous, Pending, Disabled };

/// Counts over the attempts (one per cycle) and the failed ones in start order.
struct CheckResult {
  std::uint64_t attempts = 0, passed = 0, failed = 0, vacuous = 0, pending = 0, disabled = 0;
  std::vector<Index> failure_start;
  std::vector<Index> failure_cycle;  // where the failure became certain
};

/// Runs the sequence of a `PropNode::Kind::Seq` program from every start
/// cycle. `parallel` spreads the starts over the pool; the chunks do not
/// depend on the pool's size, so the result is the same for any.
SeqMatches run_matches(const CompiledProgram& program, const std::vector<std::vector<std::uint64_t>>& truths,
                       std::size_t cycle_count, bool parallel);

/// Checks the property from every start cycle (as `run_matches` for threads).
CheckResult run_check(const CompiledProgram& program, const std::vector<std::vector<std::uint64_t>>& truths,
                      std::size_t cycle_count, bool parallel);

}  // namespace quarn
