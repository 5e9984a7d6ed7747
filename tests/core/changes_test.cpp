#include "eval/changes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "record_fixture.h"

namespace quarn {
namespace {

using testing::bits;
using testing::lines;
using testing::logic;
using testing::make_trace;
using testing::real;
using testing::text;

const double kNaN = std::nan("");

// Three indices; each signal shows one way values can (not) differ.
const RecordTrace& edge_trace() {
  static const RecordTrace t = make_trace(
      {"a", "n", "l", "r", "b", "t", "top", "top.x", "top.sub.y", "topx.z", ".lead"}, 3,
      {
          {"a", 1, bits(0)},                                            // Empty -> Bits 0
          {"n", 0, real(kNaN)},                                         // NaN held
          {"l", 0, logic({1, 2})}, {"l", 2, logic({1, 3})},             // 1x, 1x, 1z
          {"r", 0, real(0.0)}, {"r", 1, real(-0.0)},                    // equal reals
          {"b", 0, bits(1)}, {"b", 1, logic({1})},                      // same number, other variant
          {"t", 0, text("a")}, {"t", 2, text("b")},
          {"top", 1, bits(1)}, {"top.x", 1, bits(1)}, {"top.sub.y", 1, bits(1)},
          {"topx.z", 1, bits(1)}, {".lead", 1, bits(1)},
      },
      {}, {{"alias_b", "b"}});
  return t;
}

struct ChangedAtCase {
  const char* label;
  Index index;
  std::optional<std::string> scope;
  std::vector<std::string> expected;
};

class ChangedAt : public ::testing::TestWithParam<ChangedAtCase> {};

TEST_P(ChangedAt, ReportsExactlyTheDifferingSignalsInNameOrder) {
  const ChangedAtCase& c = GetParam();
  const auto got = c.scope ? changed_at_scope(edge_trace(), c.index, *c.scope) : changed_at(edge_trace(), c.index);
  EXPECT_EQ(lines(got), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, ChangedAt,
    ::testing::Values(
        ChangedAtCase{"variants_nan_and_alias",
                      1,
                      std::nullopt,
                      {"a:Empty->Bits(0)", "b:Bits(1)->Logic{1}", "top:Empty->Bits(1)", "top.x:Empty->Bits(1)",
                       "top.sub.y:Empty->Bits(1)", "topx.z:Empty->Bits(1)", ".lead:Empty->Bits(1)",
                       "alias_b:Bits(1)->Logic{1}"}},
        ChangedAtCase{"logic_x_to_z_and_text",
                      2,
                      std::nullopt,
                      {"l:Logic{1,2}->Logic{1,3}", "t:Text(\"a\")->Text(\"b\")"}},  // a held NaN is no change
        ChangedAtCase{"scope_takes_every_depth_but_not_itself_or_siblings",
                      1,
                      "top",
                      {"top.x:Empty->Bits(1)", "top.sub.y:Empty->Bits(1)"}},
        ChangedAtCase{"empty_scope_selects_leading_full_stop", 1, "", {".lead:Empty->Bits(1)"}}),
    [](const auto& info) { return std::string(info.param.label); });

struct TransitionsCase {
  const char* label;
  std::string name;
  std::vector<std::string> expected;
};

class Transitions : public ::testing::TestWithParam<TransitionsCase> {};

TEST_P(Transitions, ListsEveryChangeAscending) {
  EXPECT_EQ(lines(transitions(edge_trace(), GetParam().name)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, Transitions,
    ::testing::Values(TransitionsCase{"zero_and_negative_zero_are_equal", "r", {}},
                      TransitionsCase{"alias_reads_its_ids_values", "alias_b", {"1:Bits(1)->Logic{1}"}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(TransitionsShortTraces, OneOrNoTimestampGivesNone) {
  EXPECT_TRUE(transitions(make_trace({"a"}, 1, {{"a", 0, bits(1)}}), "a").empty());
  EXPECT_TRUE(transitions(make_trace({"a"}, 0, {}), "a").empty());
  EXPECT_TRUE(changed_at(make_trace({}, 5, {}), 1).empty());
}

TEST(TransitionsOneAtATime, StopsWhenTheVisitorSaysSo) {
  const auto t = make_trace({"a"}, 10, {{"a", 0, bits(0)}, {"a", 2, bits(1)}, {"a", 4, bits(2)}, {"a", 6, bits(3)}});
  std::vector<Index> seen;
  const bool whole = for_each_transition(t, "a", [&](Index i, const ValueView&, const ValueView& v) {
    seen.push_back(i);
    return v.scalar != 2;
  });
  EXPECT_FALSE(whole);
  EXPECT_EQ(seen, (std::vector<Index>{2, 4}));
  EXPECT_TRUE(for_each_transition(t, "none", [](Index, const ValueView&, const ValueView&) { return false; }));
}

}  // namespace
}  // namespace quarn
