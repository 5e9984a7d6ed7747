#pragma once

#include <functional>
#include <string>

#include "eval/expr.h"

namespace quarn {

/// A signal's name for `expr_text`, or empty when it has none to show.
using SignalNamer = std::function<std::string(SignalId)>;

/// The expression written out in the trace expression language: names (or
/// `signal(id)`), decimal and hexadecimal numbers, `== != < > <= >= + - & |
/// ^ && || !`, `x[h:l]`, `prev(x)`/`next(x)` (other offsets `x.rel_eval(n)`),
/// `isx(x)`, `isz(x)`, `signed(x)`, `true`. Every binary operand that is itself
/// binary is parenthesised. Walks without recursion limits only as deep as
/// the tree: meant for display, not for huge generated trees.
std::string expr_text(const Expr& expr, const SignalNamer& name_of);

/// An integer constant from its two's-complement words, least significant
/// first: one word gives Bits, more give WideBits (none gives Bits 0).
SignalValue int_constant(std::vector<std::uint64_t> words);

}  // namespace quarn
