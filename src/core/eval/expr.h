#pragma once

#include <cstdint>
#include <memory>

#include "signal/signal_value.h"
#include "signal/types.h"

namespace quarn {

/// Node kinds of an expression tree; the numbers are fixed.
enum class ExprKind : std::uint8_t {
  Signal = 0,
  Const = 1,
  RelEval = 2,
  Not = 3,
  And = 4,
  Or = 5,
  Eq = 6,
  Neq = 7,
  Gt = 8,
  Lt = 9,
  Gte = 10,
  Lte = 11,
  Add = 12,
  Sub = 13,
  BitAnd = 14,
  BitOr = 15,
  BitXor = 16,
  Slice = 17,
  Signed = 18,
  IsX = 19,
  IsZ = 20,
  AlwaysTrue = 21,
  // Kinds the expression language adds; the builder class has no method for them.
  Mul = 22,
  Shl = 23,
  Shr = 24,
  /// Empty, or Logic with any element other than 0 and 1.
  IsUnknown = 25,
  /// Number of 1 bits (Bits, WideBits, Logic); Empty for other variants.
  CountOnes = 26,
  /// Exactly one 1 bit / at most one 1 bit; Empty where CountOnes is.
  OneHot = 27,
  OneHot0 = 28,
  /// The least significant bit as Bits 0/1; Empty when it is neither.
  Lsb = 29,
};

struct Expr;
/// Trees are immutable once built, so a subtree is shared instead of copied:
/// building from an expression costs O(1) whatever its size, and reusing one
/// expression in many others (or in itself) cannot change any of them.
using ExprPtr = std::shared_ptr<const Expr>;

/// One node. `left` is the only child of unary nodes (RelEval, Not, Slice,
/// Signed, IsX, IsZ); binary nodes have `left` (the receiver) and `right`.
struct Expr {
  ExprKind kind = ExprKind::AlwaysTrue;
  SignalId id = 0;          // Signal
  SignalValue value;        // Const
  std::int64_t offset = 0;  // RelEval, in index steps
  std::uint32_t high = 0;   // Slice
  std::uint32_t low = 0;    // Slice
  /// Longest path to a leaf, counted in nodes (saturates); lets walks pick
  /// the deeper child first to keep their working set small.
  std::uint32_t height = 1;
  ExprPtr left;
  ExprPtr right;

  Expr() = default;
  Expr(const Expr&) = delete;
  Expr& operator=(const Expr&) = delete;
  /// Frees the subtree without recursion, so a chain of any depth is safe.
  ~Expr();
};

ExprPtr make_signal(SignalId id);
/// Builders produce Bits, Real and Text constants; any variant evaluates.
ExprPtr make_const(SignalValue value);
ExprPtr make_rel_eval(ExprPtr child, std::int64_t offset);
/// `kind` one of Not, Signed, IsX, IsZ, IsUnknown .. Lsb.
ExprPtr make_unary(ExprKind kind, ExprPtr child);
/// `kind` one of And .. BitXor, Mul .. Shr; `left` is the receiver.
ExprPtr make_binary(ExprKind kind, ExprPtr left, ExprPtr right);
ExprPtr make_slice(ExprPtr child, std::uint32_t high, std::uint32_t low);
ExprPtr make_always_true();

/// True for the kinds with two children.
inline bool is_binary(ExprKind k) {
  return (k >= ExprKind::And && k <= ExprKind::BitXor) || (k >= ExprKind::Mul && k <= ExprKind::Shr);
}
/// True for the kinds with one child.
inline bool is_unary(ExprKind k) {
  return k == ExprKind::RelEval || k == ExprKind::Not || (k >= ExprKind::Slice && k <= ExprKind::IsZ) ||
         (k >= ExprKind::IsUnknown && k <= ExprKind::Lsb);
}

}  // namespace quarn
