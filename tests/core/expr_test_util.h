#pragma once

// Helpers shared by the expression tests: short builders, a trace made from
// value lists, and a plain recursive evaluator written from the node rules,
// independent of the block evaluator, to compare against.

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "eval/expr.h"
#include "signal/bit_ops.h"
#include "signal/signal_value.h"
#include "trace/trace_record.h"

namespace quarn::test {

inline ExprPtr sig(SignalId id) { return make_signal(id); }
inline ExprPtr cint(std::uint64_t n) { return make_const(SignalValue::bits(n)); }
inline ExprPtr creal(double d) { return make_const(SignalValue::real(d)); }
inline ExprPtr ctext(std::string s) { return make_const(SignalValue::text(std::move(s))); }
inline ExprPtr clogic(SignalValue::LogicBits l) { return make_const(SignalValue::logic(std::move(l))); }
inline ExprPtr bin(ExprKind k, ExprPtr a, ExprPtr b) { return make_binary(k, std::move(a), std::move(b)); }
inline ExprPtr un(ExprKind k, ExprPtr a) { return make_unary(k, std::move(a)); }
inline ExprPtr rel(ExprPtr a, std::int64_t off) { return make_rel_eval(std::move(a), off); }
inline ExprPtr slice(ExprPtr a, std::uint32_t hi, std::uint32_t lo) { return make_slice(std::move(a), hi, lo); }

/// A trace with `timestamps` indices whose signal `id` holds column[id][i] at
/// index i (a value is stored only where it differs from the previous one, as
/// a reader would, then forward filled).
inline RecordTrace make_trace(std::size_t timestamps, const std::vector<std::vector<SignalValue>>& columns) {
  TraceRecord r;
  for (std::size_t i = 0; i < timestamps; ++i) r.timestamps.push_back(10 * i);
  std::size_t longest = 0;
  for (const auto& c : columns) longest = std::max(longest, c.size());
  for (std::size_t i = 0; i < longest; ++i) {
    r.store.forward_fill(i);
    for (std::size_t id = 0; id < columns.size(); ++id) {
      if (i >= columns[id].size()) continue;
      const SignalValue& v = columns[id][i];
      if (i == 0 || !(columns[id][i - 1] == v)) r.store.set(id, i, v);
    }
  }
  for (std::size_t id = 0; id < columns.size(); ++id) r.names.add_signal("top.s" + std::to_string(id), id, 8);
  return RecordTrace(std::move(r));
}

inline SignalValue flag(bool b) { return SignalValue::bits(b ? 1 : 0); }

/// The node rules, one index at a time, on owned values.
inline SignalValue reference_eval(const Trace& t, const Expr& e, Index i) {
  auto num2 = [&](auto f) -> SignalValue {
    const auto a = to_u64(reference_eval(t, *e.left, i));
    const auto b = to_u64(reference_eval(t, *e.right, i));
    if (!a || !b) return SignalValue::empty();
    return f(*a, *b);
  };
  auto eq = [&]() {
    const SignalValue a = reference_eval(t, *e.left, i);
    const SignalValue b = reference_eval(t, *e.right, i);
    if (a == b) return true;
    const auto x = to_u64(a), y = to_u64(b);
    return x && y && *x == *y;
  };
  auto has = [](const SignalValue& v, std::uint8_t element) {
    if (v.tag() != ValueTag::Logic) return false;
    for (auto b : v.as_logic())
      if (b == element) return true;
    return false;
  };
  using B = SignalValue;
  using U = std::uint64_t;
  switch (e.kind) {
    case ExprKind::Signal: return t.signal_value_by_id(e.id, i);
    case ExprKind::Const: return e.value;
    case ExprKind::RelEval: {
      const __int128 target = static_cast<__int128>(i) + e.offset;
      if (target < 0 || target > static_cast<__int128>(t.max_index())) return SignalValue::empty();
      return reference_eval(t, *e.left, static_cast<Index>(target));
    }
    case ExprKind::Not: return flag(!is_truthy(reference_eval(t, *e.left, i)));
    case ExprKind::And: {
      const bool a = is_truthy(reference_eval(t, *e.left, i));
      return flag(a && is_truthy(reference_eval(t, *e.right, i)));
    }
    case ExprKind::Or: {
      const bool a = is_truthy(reference_eval(t, *e.left, i));
      return flag(a || is_truthy(reference_eval(t, *e.right, i)));
    }
    case ExprKind::Eq: return flag(eq());
    case ExprKind::Neq: return flag(!eq());
    case ExprKind::Gt: return num2([](U a, U b) { return flag(a > b); });
    case ExprKind::Lt: return num2([](U a, U b) { return flag(a < b); });
    case ExprKind::Gte: return num2([](U a, U b) { return flag(a >= b); });
    case ExprKind::Lte: return num2([](U a, U b) { return flag(a <= b); });
    case ExprKind::Add: return num2([](U a, U b) { return B::bits(a + b); });
    case ExprKind::Sub: return num2([](U a, U b) { return B::bits(a - b); });
    case ExprKind::BitAnd: return num2([](U a, U b) { return B::bits(a & b); });
    case ExprKind::BitOr: return num2([](U a, U b) { return B::bits(a | b); });
    case ExprKind::BitXor: return num2([](U a, U b) { return B::bits(a ^ b); });
    case ExprKind::Slice: {
      const auto v = to_u64(reference_eval(t, *e.left, i));
      return v ? B::bits(bit_slice_val(*v, e.high, e.low)) : B::empty();
    }
    case ExprKind::Signed: {
      const auto v = to_u64(reference_eval(t, *e.left, i));
      return v ? B::bits(*v) : B::empty();
    }
    case ExprKind::IsX: {
      const SignalValue v = reference_eval(t, *e.left, i);
      return flag(v.is_empty() || has(v, kLogicX));
    }
    case ExprKind::IsZ: return flag(has(reference_eval(t, *e.left, i), kLogicZ));
    case ExprKind::AlwaysTrue: return B::bits(1);
    case ExprKind::Mul: return num2([](U a, U b) { return B::bits(a * b); });
    case ExprKind::Shl: return num2([](U a, U b) { return B::bits(b >= 64 ? 0 : a << b); });
    case ExprKind::Shr: return num2([](U a, U b) { return B::bits(b >= 64 ? 0 : a >> b); });
    case ExprKind::IsUnknown: {
      const SignalValue v = reference_eval(t, *e.left, i);
      bool unknown = v.is_empty();
      if (v.tag() == ValueTag::Logic)
        for (auto b : v.as_logic()) unknown = unknown || b > kLogic1;
      return flag(unknown);
    }
    case ExprKind::CountOnes:
    case ExprKind::OneHot:
    case ExprKind::OneHot0:
    case ExprKind::Lsb: {
      const SignalValue v = reference_eval(t, *e.left, i);
      std::uint64_t ones = 0, lsb = 0;
      bool lsb_known = true;
      if (v.tag() == ValueTag::Bits) {
        for (U n = v.as_bits(); n; n &= n - 1) ++ones;
        lsb = v.as_bits() & 1;
      } else if (v.tag() == ValueTag::WideBits) {
        for (U w : v.as_wide_bits())
          for (U n = w; n; n &= n - 1) ++ones;
        lsb_known = !v.as_wide_bits().empty();
        lsb = lsb_known ? v.as_wide_bits()[0] & 1 : 0;
      } else if (v.tag() == ValueTag::Logic) {
        for (auto b : v.as_logic()) ones += b == kLogic1;
        lsb_known = !v.as_logic().empty() && v.as_logic().back() <= kLogic1;
        lsb = lsb_known ? v.as_logic().back() : 0;
      } else {
        return B::empty();
      }
      if (e.kind == ExprKind::Lsb) return lsb_known ? B::bits(lsb) : B::empty();
      if (e.kind == ExprKind::OneHot) return flag(ones == 1);
      if (e.kind == ExprKind::OneHot0) return flag(ones <= 1);
      return B::bits(ones);
    }
  }
  return B::empty();
}

/// Equality for comparing results: like `==`, but a NaN matches a NaN.
inline bool same_value(const SignalValue& a, const SignalValue& b) {
  if (a.tag() == ValueTag::Real && b.tag() == ValueTag::Real && std::isnan(a.as_real()) && std::isnan(b.as_real()))
    return true;
  return a == b;
}

}  // namespace quarn::test
