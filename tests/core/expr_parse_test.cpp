// The expression language: literals, precedence, selects, functions, names
// with brackets, and the column of each error, on a small named trace.

#include <gtest/gtest.h>

#include <ostream>

#include "eval/eval.h"
#include "eval/expr_parse.h"
#include "expr_test_util.h"

namespace quarn {
namespace {

using V = SignalValue;

// top.a: 8 bits; top.lane[0].done and the escaped top.\esc[3] are whole names;
// top.v[1:0] is not a name, so v is sliced.
const RecordTrace& fixture() {
  static const RecordTrace t = [] {
    TraceRecord r;
    const std::vector<std::string> names{"top.a", "top.lane[0].done", "top.\\esc[3] ", "top.v", "top.q"};
    const std::vector<std::vector<V>> cols{
        {V::bits(0x3f), V::bits(0xa5), V::bits(0)},
        {V::bits(0), V::bits(1), V::bits(1)},
        {V::bits(1), V::bits(0), V::bits(1)},
        {V::bits(6), V::bits(1), V::bits(2)},
        {V::logic({1, 0, 2, 1}), V::logic({0, 0, 1, 1}), V::logic({3, 3, 3, 3})},
    };
    for (Index i = 0; i < 3; ++i) {
      r.timestamps.push_back(10 * i);
      r.store.forward_fill(i);
      for (SignalId id = 0; id < cols.size(); ++id) r.store.set(id, i, cols[id][i]);
    }
    for (SignalId id = 0; id < names.size(); ++id)
      r.names.add_signal(names[id], id, id == 0 ? 8 : id == 3 ? 2 : id == 4 ? 4 : 1);
    return RecordTrace(std::move(r));
  }();
  return t;
}

struct ValueCase {
  const char* text;
  Index index;
  std::optional<std::uint64_t> expected;  // nullopt: no numeric reading
};
std::ostream& operator<<(std::ostream& os, const ValueCase& c) { return os << c.text; }

class ParseValues : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ParseValues, EvaluatesAsWritten) {
  const ValueCase& c = GetParam();
  const ParsedExpr p = parse_expression(c.text, fixture());
  ASSERT_TRUE(p.expr) << p.error.message << " at " << p.error.column;
  EXPECT_EQ(to_u64(eval(fixture(), *p.expr, c.index)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Language, ParseValues,
    ::testing::Values(
        // literals
        ValueCase{"0x3f + 0b101 + 0o7 + 1_000", 0, 0x3f + 5 + 7 + 1000}, ValueCase{"8'h3f", 0, 0x3f},
        ValueCase{"4'hff", 0, 0xf}, ValueCase{"'b101", 0, 5}, ValueCase{"8'd255", 0, 255},
        ValueCase{"18446744073709551615", 0, UINT64_MAX},
        // precedence: * over +, + over <<, << over <, < over ==, == over &, & over ^ over |, | over && over ||
        ValueCase{"1 + 2 * 3", 0, 7}, ValueCase{"1 << 2 + 1", 0, 8}, ValueCase{"1 < 2 == 1", 0, 1},
        ValueCase{"6 & 3 == 3", 0, 0}, ValueCase{"1 | 2 ^ 3 & 1", 0, 3}, ValueCase{"0 && 1 || 1", 0, 1},
        ValueCase{"(1 + 2) * 3", 0, 9}, ValueCase{"10 - 2 - 3", 0, 5}, ValueCase{"-1", 0, UINT64_MAX},
        ValueCase{"!0 + ~0", 0, 0}, ValueCase{"1 << 64", 0, 0}, ValueCase{"256 >> 4", 0, 16},
        // names, slices, widths
        ValueCase{"top.a[7:4]", 1, 0xa}, ValueCase{"top.a[0]", 1, 1}, ValueCase{"~top.a", 0, 0xc0},
        ValueCase{"~top.a[3:0]", 1, 0xa}, ValueCase{"top.a == 8'h3f && top.lane[0].done == 0", 0, 1},
        ValueCase{"top.lane[0].done[0]", 1, 1}, ValueCase{"12'hfffffffffffffffff", 0, 0xfff},
        ValueCase{"top.\\esc[3]  + 1", 1, 1}, ValueCase{"top.v[1]", 0, 1},
        // functions
        ValueCase{"prev(top.a)", 1, 0x3f}, ValueCase{"prev(top.a)", 0, std::nullopt},
        ValueCase{"next(top.a) == 0", 1, 1}, ValueCase{"isx(top.q)", 0, 1}, ValueCase{"isx(top.q)", 1, 0},
        ValueCase{"isx(top.q)", 2, 1}, ValueCase{"isz(top.q)", 2, 1}, ValueCase{"top.q == 4'b10x1", 0, 1},
        ValueCase{"top.q == 4'b10z1", 0, 0}, ValueCase{"top.q + 1", 1, 4}));

struct ErrorCase {
  const char* text;
  const char* message;
  std::size_t column;
};
std::ostream& operator<<(std::ostream& os, const ErrorCase& c) { return os << c.text; }

class ParseErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ParseErrors, PointAtTheColumn) {
  const ErrorCase& c = GetParam();
  const ParsedExpr p = parse_expression(c.text, fixture());
  ASSERT_FALSE(p.expr);
  EXPECT_EQ(p.error.message, c.message);
  EXPECT_EQ(p.error.column, c.column);
}

INSTANTIATE_TEST_SUITE_P(
    Language, ParseErrors,
    ::testing::Values(ErrorCase{"top.a == top.b", "unknown signal 'top.b'", 10},
                      ErrorCase{"top.nope[3:0]", "unknown signal 'top.nope'", 1},
                      ErrorCase{"top.a +", "expression expected at the end", 8},
                      ErrorCase{"(top.a", "expected ')' at the end", 7}, ErrorCase{"top.a 1", "unexpected '1'", 7},
                      ErrorCase{"top.a[3:]", "bad bit index ']'", 9}, ErrorCase{"top.a / 2", "operator '/' is not supported", 7},
                      ErrorCase{"foo(top.a)", "unknown function 'foo'", 1},
                      ErrorCase{"prev(top.a, 1)", "function 'prev' takes 1 argument, not 2", 1},
                      ErrorCase{"4'h", "bad number '4'h'", 1},
                      ErrorCase{"0x1_0000_0000_0000_0000", "number wider than 64 bits '0x1_0000_0000_0000_0000'", 1},
                      ErrorCase{"99999999999999999999", "number wider than 64 bits '99999999999999999999'", 1},
                      ErrorCase{"top.a @ 1", "unexpected '@'", 7}, ErrorCase{"0q1", "bad number '0q1'", 1}));

}  // namespace
}  // namespace quarn
