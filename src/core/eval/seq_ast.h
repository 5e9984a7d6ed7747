#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "eval/expr.h"

namespace quarn {

/// Upper bound of `##[m:$]`, `[*m:$]`.
inline constexpr std::uint64_t kUnbounded = std::numeric_limits<std::uint64_t>::max();

/// A sequence as written. Leaves are boolean expressions numbered in
/// `SeqProgram::leaves`.
struct SeqNode {
  enum class Kind {
    Leaf,        // leaf holds at the cycle
    Concat,      // a ##[lo:hi] b; `a` null for a leading delay
    Repeat,      // a[*lo:hi]
    Goto,        // leaf[->lo:hi]
    And,         // both match from the same start; ends at the later end
    Or,          // either
    Intersect,   // both, ending together
    Throughout,  // leaf holds at every cycle of a's match
    FirstMatch,  // only a's earliest end
  };
  Kind kind = Kind::Leaf;
  std::uint32_t leaf = 0;
  std::uint64_t lo = 0;
  std::uint64_t hi = 0;
  std::unique_ptr<SeqNode> a;
  std::unique_ptr<SeqNode> b;
};

/// A property as written.
struct PropNode {
  enum class Kind {
    Seq,      // the sequence matches from the start (weakly: undecided at the end is pending)
    Not,      // child
    Implies,  // seq |-> child (overlapping) or seq |=> child
    Disable,  // disable iff (leaf) child
  };
  Kind kind = Kind::Seq;
  bool overlapping = true;
  std::uint32_t leaf = 0;
  std::unique_ptr<SeqNode> seq;
  std::unique_ptr<PropNode> child;
};

/// A parsed property or sequence with its distinct boolean leaves.
struct SeqProgram {
  std::vector<ExprPtr> leaves;
  std::unique_ptr<PropNode> prop;  // for a sequence: kind Seq
};

}  // namespace quarn
