#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "eval/seq_ast.h"

namespace quarn {

/// Leaves that must hold (`pos`) and must not hold (`neg`) at a cycle, one
/// bit per leaf. A guard with a bit in both never fires on a real cycle but
/// still counts as a way forward when asking whether a match is possible.
struct Guard {
  std::uint64_t pos = 0;
  std::uint64_t neg = 0;
  bool holds(std::uint64_t letter) const { return (letter & pos) == pos && (letter & neg) == 0; }
};

struct NfaEdge {
  std::uint32_t to = 0;
  Guard guard;
};

/// A sequence as an automaton over cycles: each edge consumes one cycle
/// (its letter: the bits of the leaves that hold there). A match from a start
/// cycle s ending at e is a path from `init` over the letters of s .. e into
/// an accepting state. `init` has no incoming edges and is not accepting
/// (every match spans at least one cycle).
struct Nfa {
  std::vector<std::vector<NfaEdge>> out;
  std::vector<std::uint8_t> accept;
  /// Some path leads from the state to an accepting one: a thread there can
  /// still match if the trace went on.
  std::vector<std::uint8_t> live;
  std::uint32_t init = 0;
  std::size_t size() const { return out.size(); }
};

/// Builds the automaton of `seq`; on failure (first_match over too many
/// leaves to determinise) returns false with `error` set.
bool build_nfa(const SeqNode& seq, Nfa& out, std::string& error);

}  // namespace quarn
