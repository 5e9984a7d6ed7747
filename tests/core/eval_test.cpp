// The value rules of every node kind, one case per rule, on a small trace
// holding each value variant. Plain reads and the arithmetic each operator
// names are compared with the model on random trees in find_diff_test.cpp.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <ostream>

#include "eval/eval.h"
#include "eval/find.h"
#include "expr_test_util.h"

namespace quarn {
namespace {

using namespace test;
using K = ExprKind;
using V = SignalValue;

constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Ids of the fixture's signals; kUnknown has no column.
enum : SignalId { kBits = 0, kLogic = 1, kReal = 2, kText = 3, kWide = 4, kLate = 5, kUnknown = 99 };

const RecordTrace& fixture() {
  static const RecordTrace t = make_trace(
      4, {
             {V::bits(255), V::bits(0xAB), V::bits(0), V::bits(5)},
             {V::logic({1, 2}), V::logic({2, 3}), V::logic({1, 3}), V::logic({0, 1, 1})},
             {V::real(kNaN), V::real(-3.0), V::real(1.5), V::real(-0.0)},
             {V::text("10"), V::text("05"), V::text(""), V::text("abc")},
             {V::wide_bits({5, 1}), V::wide_bits({5, 1}), V::wide_bits({}), V::wide_bits({0, 2})},
             {V::empty(), V::empty(), V::bits(1), V::bits(1)},
         });
  return t;
}

struct Case {
  const char* name;
  std::function<ExprPtr()> build;
  Index index;
  SignalValue expected;
};

std::ostream& operator<<(std::ostream& os, const Case& c) { return os << c.name; }

class EvalRules : public ::testing::TestWithParam<Case> {};

TEST_P(EvalRules, ValueAndTruth) {
  const Case& c = GetParam();
  const ExprPtr e = c.build();
  const SignalValue got = eval(fixture(), *e, c.index);
  EXPECT_TRUE(same_value(got, c.expected)) << "tag " << int(got.tag());
  // The plain model agrees, and so does the truth test.
  EXPECT_TRUE(same_value(reference_eval(fixture(), *e, c.index), c.expected));
  EXPECT_EQ(eval_bool(fixture(), *e, c.index), is_truthy(c.expected));
}

const V E = V::empty();
V B(std::uint64_t n) { return V::bits(n); }

// Offsets of one step and the extremes at every index are in the model
// comparison, targets near the largest index in RelEvalExactTarget below;
// here nesting.
INSTANTIATE_TEST_SUITE_P(
    RelEval, EvalRules,
    ::testing::Values(
        Case{"next_keeps_variant", [] { return rel(sig(kText), 1); }, 0, V::text("05")},
        // Each level is checked on the index that reaches it, outermost first.
        Case{"back_then_forward", [] { return rel(rel(sig(kBits), -1), 1); }, 0, B(255)},
        Case{"forward_then_back", [] { return rel(rel(sig(kBits), 1), -1); }, 0, E},
        Case{"not_of_out_of_range", [] { return un(K::Not, rel(sig(kBits), -1)); }, 0, B(1)}));

INSTANTIATE_TEST_SUITE_P(
    Logical, EvalRules,
    ::testing::Values(
        Case{"not_logic_with_one", [] { return un(K::Not, sig(kLogic)); }, 0, B(0)},
        Case{"not_logic_xz", [] { return un(K::Not, sig(kLogic)); }, 1, B(1)},
        Case{"not_empty", [] { return un(K::Not, sig(kUnknown)); }, 0, B(1)},
        Case{"not_top_bit", [] { return un(K::Not, cint(std::uint64_t{1} << 63)); }, 0, B(0)},
        Case{"not_denormal", [] { return un(K::Not, creal(5e-324)); }, 0, B(0)},
        Case{"not_nan_is_false", [] { return un(K::Not, sig(kReal)); }, 0, B(0)},
        Case{"not_minus_zero", [] { return un(K::Not, sig(kReal)); }, 3, B(1)},
        Case{"not_text_zero", [] { return un(K::Not, ctext("0")); }, 0, B(0)},
        Case{"not_empty_text", [] { return un(K::Not, sig(kText)); }, 2, B(1)},
        Case{"not_wide_high_word", [] { return un(K::Not, sig(kWide)); }, 3, B(0)},
        Case{"not_wide_no_words", [] { return un(K::Not, sig(kWide)); }, 2, B(1)},
        Case{"and_both", [] { return bin(K::And, sig(kBits), sig(kLogic)); }, 0, B(1)},
        Case{"and_xz_false", [] { return bin(K::And, cint(1), sig(kLogic)); }, 1, B(0)},
        Case{"or_empty_and_blank_text", [] { return bin(K::Or, sig(kUnknown), sig(kText)); }, 2, B(0)},
        Case{"or_one_side", [] { return bin(K::Or, sig(kUnknown), ctext("0")); }, 0, B(1)}));

INSTANTIATE_TEST_SUITE_P(
    Equality, EvalRules,
    ::testing::Values(
        Case{"reals_both_read_one", [] { return bin(K::Eq, creal(1.5), creal(1.7)); }, 0, B(1)},
        Case{"nan_nan_read_zero", [] { return bin(K::Eq, creal(kNaN), creal(kNaN)); }, 0, B(1)},
        Case{"nan_and_zero", [] { return bin(K::Eq, sig(kReal), creal(0.0)); }, 0, B(1)},
        Case{"negative_real_and_int_zero", [] { return bin(K::Eq, sig(kReal), cint(0)); }, 1, B(1)},
        Case{"text_and_int", [] { return bin(K::Eq, sig(kText), cint(10)); }, 0, B(1)},
        Case{"leading_zero_text", [] { return bin(K::Eq, cint(5), sig(kText)); }, 1, B(1)},
        Case{"texts_same_number", [] { return bin(K::Eq, ctext("5"), ctext("+5")); }, 0, B(1)},
        Case{"text_no_reading", [] { return bin(K::Eq, sig(kText), cint(0)); }, 3, B(0)},
        Case{"real_truncates", [] { return bin(K::Eq, cint(5), creal(5.9)); }, 0, B(1)},
        Case{"wide_word0", [] { return bin(K::Eq, sig(kWide), cint(5)); }, 0, B(1)},
        Case{"wide_identical", [] { return bin(K::Eq, sig(kWide), rel(sig(kWide), 1)); }, 0, B(1)},
        Case{"logic_x_with_itself", [] { return bin(K::Eq, sig(kLogic), sig(kLogic)); }, 0, B(1)},
        Case{"logic_1x_vs_1z", [] { return bin(K::Eq, clogic({1, 2}), clogic({1, 3})); }, 0, B(0)},
        Case{"logic_reads_as_number", [] { return bin(K::Eq, sig(kLogic), cint(3)); }, 3, B(1)},
        Case{"empty_empty", [] { return bin(K::Eq, sig(kUnknown), sig(kLate)); }, 0, B(1)},
        Case{"empty_vs_zero", [] { return bin(K::Eq, sig(kUnknown), cint(0)); }, 0, B(0)},
        Case{"neq_empty_empty", [] { return bin(K::Neq, sig(kUnknown), sig(kUnknown)); }, 0, B(0)},
        Case{"neq_differs", [] { return bin(K::Neq, sig(kBits), cint(1)); }, 0, B(1)},
        Case{"neq_fallback_equal", [] { return bin(K::Neq, sig(kText), cint(10)); }, 0, B(0)}));

INSTANTIATE_TEST_SUITE_P(
    Arithmetic, EvalRules,
    ::testing::Values(
        Case{"sub_wraps", [] { return bin(K::Sub, cint(0), cint(1)); }, 0, B(kMax64)},
        Case{"add_wraps", [] { return bin(K::Add, cint(kMax64), cint(1)); }, 0, B(0)},
        Case{"no_width_mask", [] { return bin(K::Add, sig(kBits), cint(1)); }, 0, B(256)},
        Case{"add_logic_x_empty", [] { return bin(K::Add, sig(kLogic), cint(1)); }, 0, E},
        Case{"add_empty", [] { return bin(K::Add, cint(1), sig(kUnknown)); }, 0, E},
        Case{"add_text", [] { return bin(K::Add, sig(kText), cint(1)); }, 1, B(6)},
        Case{"add_text_no_reading", [] { return bin(K::Add, sig(kText), cint(1)); }, 3, E},
        Case{"add_real_saturates", [] { return bin(K::Add, creal(1e30), cint(0)); }, 0, B(kMax64)},
        Case{"gt_text_numeric", [] { return bin(K::Gt, ctext("9"), ctext("10")); }, 0, B(0)},
        Case{"lt_text_numeric", [] { return bin(K::Lt, ctext("9"), ctext("10")); }, 0, B(1)},
        Case{"gt_unsigned", [] { return bin(K::Gt, cint(kMax64), cint(0)); }, 0, B(1)},
        Case{"gte_equal", [] { return bin(K::Gte, cint(4), cint(4)); }, 0, B(1)},
        Case{"gt_empty", [] { return bin(K::Gt, sig(kUnknown), cint(0)); }, 0, E},
        Case{"lt_nan_reads_zero", [] { return bin(K::Lt, sig(kReal), cint(1)); }, 0, B(1)}));

// Kinds that only the expression language builds.
INSTANTIATE_TEST_SUITE_P(
    LanguageKinds, EvalRules,
    ::testing::Values(
        Case{"mul_wraps", [] { return bin(K::Mul, cint(std::uint64_t{1} << 63), cint(2)); }, 0, B(0)},
        Case{"shl_63", [] { return bin(K::Shl, cint(1), cint(63)); }, 0, B(std::uint64_t{1} << 63)},
        Case{"shl_64_is_zero", [] { return bin(K::Shl, cint(1), cint(64)); }, 0, B(0)},
        Case{"shr_logic_x", [] { return bin(K::Shr, sig(kLogic), cint(1)); }, 0, E},
        Case{"isunknown_z", [] { return un(K::IsUnknown, sig(kLogic)); }, 2, B(1)},
        Case{"isunknown_known_logic", [] { return un(K::IsUnknown, sig(kLogic)); }, 3, B(0)},
        Case{"isunknown_empty", [] { return un(K::IsUnknown, sig(kLate)); }, 0, B(1)},
        Case{"isunknown_bits", [] { return un(K::IsUnknown, sig(kBits)); }, 0, B(0)},
        Case{"countones_bits", [] { return un(K::CountOnes, sig(kBits)); }, 0, B(8)},
        Case{"countones_logic_skips_x", [] { return un(K::CountOnes, sig(kLogic)); }, 0, B(1)},
        Case{"countones_wide", [] { return un(K::CountOnes, sig(kWide)); }, 0, B(3)},
        Case{"countones_real", [] { return un(K::CountOnes, sig(kReal)); }, 0, E},
        Case{"onehot_zero", [] { return un(K::OneHot, sig(kBits)); }, 2, B(0)},
        Case{"onehot0_zero", [] { return un(K::OneHot0, sig(kBits)); }, 2, B(1)},
        Case{"onehot_two_ones", [] { return un(K::OneHot, sig(kLogic)); }, 3, B(0)},
        Case{"lsb_x", [] { return un(K::Lsb, sig(kLogic)); }, 0, E},
        Case{"lsb_logic", [] { return un(K::Lsb, sig(kLogic)); }, 3, B(1)},
        Case{"lsb_bits", [] { return un(K::Lsb, sig(kBits)); }, 1, B(1)},
        Case{"lsb_wide", [] { return un(K::Lsb, sig(kWide)); }, 3, B(0)},
        Case{"lsb_empty", [] { return un(K::Lsb, sig(kLate)); }, 0, E}));

INSTANTIATE_TEST_SUITE_P(
    SliceSignedTests, EvalRules,
    ::testing::Values(
        Case{"slice_nibble", [] { return slice(sig(kBits), 7, 4); }, 1, B(0xA)},
        Case{"slice_reversed", [] { return slice(sig(kBits), 4, 7); }, 1, B(0)},
        Case{"slice_whole", [] { return slice(cint(kMax64), 63, 0); }, 0, B(kMax64)},
        Case{"slice_past_bit_63", [] { return slice(cint(0xAB), 70, 3); }, 0, B(0xAB >> 3)},
        Case{"slice_low_64", [] { return slice(cint(kMax64), 100, 64); }, 0, B(0)},
        Case{"slice_widest", [] { return slice(cint(kMax64), 0xFFFFFFFFu, 0); }, 0, B(kMax64)},
        Case{"slice_width_63", [] { return slice(cint(kMax64), 62, 0); }, 0, B(kMax64 >> 1)},
        Case{"slice_empty_reversed", [] { return slice(sig(kUnknown), 1, 3); }, 0, E},
        Case{"slice_logic_x", [] { return slice(sig(kLogic), 0, 0); }, 0, E},
        Case{"signed_negative_real", [] { return un(K::Signed, creal(-2.5)); }, 0, B(0)},
        Case{"signed_text", [] { return un(K::Signed, ctext("12")); }, 0, B(12)},
        Case{"signed_empty", [] { return un(K::Signed, sig(kUnknown)); }, 0, E},
        Case{"signed_no_extension", [] { return un(K::Signed, sig(kBits)); }, 0, B(255)},
        Case{"is_x_empty", [] { return un(K::IsX, sig(kUnknown)); }, 0, B(1)},
        Case{"is_z_empty", [] { return un(K::IsZ, sig(kUnknown)); }, 0, B(0)},
        Case{"is_x_logic", [] { return un(K::IsX, sig(kLogic)); }, 0, B(1)},
        Case{"is_x_logic_z_only", [] { return un(K::IsX, sig(kLogic)); }, 2, B(0)},
        Case{"is_z_logic", [] { return un(K::IsZ, sig(kLogic)); }, 2, B(1)},
        Case{"is_x_nan", [] { return un(K::IsX, sig(kReal)); }, 0, B(0)},
        Case{"is_x_bits", [] { return un(K::IsX, sig(kBits)); }, 0, B(0)}));

// A trace whose max_index is the largest index, to check that RelEval
// targets are computed exactly rather than as a wrapping 64-bit sum.
class HugeTrace final : public Trace {
 public:
  HugeTrace() { store_.set(0, 0, SignalValue::bits(7)); }
  const std::vector<std::string>& signal_names() const override { return names_; }
  const std::vector<std::string>& scopes() const override { return names_; }
  Index max_index() const override { return kMax64; }
  Time timestamp(Index) const override { return 0; }
  SignalValue signal_value(std::string_view, Index) const override { return {}; }
  Width signal_width(std::string_view) const override { return 1; }
  std::optional<SignalId> signal_id(std::string_view) const override { return std::nullopt; }
  std::vector<SignalValue> signal_values_range(std::string_view, Index, Index) const override { return {}; }
  SignalValue signal_value_by_id(SignalId id, Index index) const override { return store_.get(id, index); }
  const Column* column(SignalId id) const override { return store_.column(id); }
  std::span<const Time> timestamps() const override { return {}; }

 private:
  std::vector<std::string> names_;
  SignalStore store_;
};

struct HugeCase {
  std::int64_t offset;
  Index index;
  SignalValue expected;
};

class RelEvalExactTarget : public ::testing::TestWithParam<HugeCase> {};

TEST_P(RelEvalExactTarget, NoWrapAround) {
  const HugeTrace t;
  const auto& c = GetParam();
  const ExprPtr e = rel(sig(0), c.offset);
  EXPECT_TRUE(same_value(eval(t, *e, c.index), c.expected));
}

// Index 0 holds 7; a wrapping sum would land there in the first three cases.
INSTANTIATE_TEST_SUITE_P(
    Cases, RelEvalExactTarget,
    ::testing::Values(HugeCase{1, kMax64, E}, HugeCase{std::numeric_limits<std::int64_t>::max(), kMax64, E},
                      HugeCase{2, kMax64 - 1, E},
                      HugeCase{std::numeric_limits<std::int64_t>::min(), std::uint64_t{1} << 63, B(7)},
                      HugeCase{-1, 1, B(7)},
                      HugeCase{std::numeric_limits<std::int64_t>::min(), kMax64, E}));

}  // namespace
}  // namespace quarn
