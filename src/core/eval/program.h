#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "eval/expr.h"
#include "signal/types.h"

namespace quarn {

class Column;
class Trace;

/// Index arithmetic wide enough for an index plus any sum of RelEval offsets.
__extension__ typedef __int128 WideIndex;

inline constexpr std::uint32_t kNoSlot = std::numeric_limits<std::uint32_t>::max();

/// One node of the tree, scheduled: reads the slots of its operands and
/// writes its own slot.
struct Step {
  const Expr* node = nullptr;
  /// Signal: the id's column (null when the trace holds none).
  const Column* column = nullptr;
  /// Signal: every run of the column holds Bits (no Empty, no other variant).
  bool all_bits = false;
  /// Signal: all_bits, and every number is 0 or 1.
  bool all_0_1 = false;
  /// The node evaluates at (index + shift): the sum of the offsets of the
  /// RelEval nodes above it.
  WideIndex shift = 0;
  std::uint32_t out = kNoSlot;
  std::uint32_t left = kNoSlot;   // operand slots, kNoSlot when absent
  std::uint32_t right = kNoSlot;
};

/// An expression flattened for evaluation against one trace: steps in an
/// order where operands come first. A subtree that occurs several times at
/// the same shift is computed once. Slots are reused once their value is
/// consumed, so a chain of any length needs few of them. Borrows the tree and
/// the trace, which must outlive the program.
struct Program {
  std::vector<Step> steps;
  std::uint32_t slot_count = 0;
  std::uint32_t result_slot = 0;
  /// Signal steps joined to the root by And nodes only: wherever one of them
  /// is false (or Empty) over a whole window, so is the result, whatever the
  /// rest of the tree holds.
  std::vector<std::uint32_t> guards;
  Index max_index = 0;
};

/// Flattens `root` without recursion; reads `max_index` and the columns of the
/// referenced ids once.
Program compile(const Trace& trace, const Expr& root);

}  // namespace quarn
