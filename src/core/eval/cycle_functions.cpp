#include "eval/cycle_functions.h"

namespace quarn {

namespace {

using Args = std::span<const Operand>;

ExprPtr bits(std::uint64_t n) { return make_const(SignalValue::bits(n)); }

// The least significant bit is `level` now and was not `level` a cycle ago
// (an unknown or missing previous value counts as not).
Operand lsb_became(Args a, std::uint64_t level) {
  const ExprPtr now = make_binary(ExprKind::Eq, make_unary(ExprKind::Lsb, a[0].expr), bits(level));
  const ExprPtr before =
      make_binary(ExprKind::Eq, make_unary(ExprKind::Lsb, make_rel_eval(a[0].expr, -1)), bits(level));
  return {make_binary(ExprKind::And, now, make_unary(ExprKind::Not, before)), 1};
}

// Identical to the previous cycle's value (X matches X, as === does).
ExprPtr stable(Args a) { return make_binary(ExprKind::Eq, a[0].expr, make_rel_eval(a[0].expr, -1)); }

Operand past(Args a, std::string& error) {
  std::uint64_t n = 1;
  if (a.size() == 2) {
    const Expr& c = *a[1].expr;
    if (c.kind != ExprKind::Const || c.value.tag() != ValueTag::Bits || c.value.as_bits() < 1 ||
        c.value.as_bits() > (std::uint64_t{1} << 62)) {
      error = "the number of cycles must be a constant of at least 1";
      return {};
    }
    n = c.value.as_bits();
  }
  return {make_rel_eval(a[0].expr, -static_cast<std::int64_t>(n)), a[0].width};
}

Operand unary(ExprKind k, Args a, Width w) { return {make_unary(k, a[0].expr), w}; }

FunctionTable make_table() {
  FunctionTable t = index_functions();
  const FunctionTable temporal{
      {"rose", 1, 1, [](Args a, std::string&) { return lsb_became(a, 1); }},
      {"fell", 1, 1, [](Args a, std::string&) { return lsb_became(a, 0); }},
      {"stable", 1, 1, [](Args a, std::string&) { return Operand{stable(a), 1}; }},
      {"changed", 1, 1, [](Args a, std::string&) { return Operand{make_unary(ExprKind::Not, stable(a)), 1}; }},
      {"past", 1, 2, past},
      {"countones", 1, 1, [](Args a, std::string&) { return unary(ExprKind::CountOnes, a, 0); }},
      {"onehot", 1, 1, [](Args a, std::string&) { return unary(ExprKind::OneHot, a, 1); }},
      {"onehot0", 1, 1, [](Args a, std::string&) { return unary(ExprKind::OneHot0, a, 1); }},
      {"isunknown", 1, 1, [](Args a, std::string&) { return unary(ExprKind::IsUnknown, a, 1); }},
  };
  t.insert(t.end(), temporal.begin(), temporal.end());
  return t;
}

}  // namespace

const FunctionTable& cycle_functions() {
  static const FunctionTable table = make_table();
  return table;
}

}  // namespace quarn
