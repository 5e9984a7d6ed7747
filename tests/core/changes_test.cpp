#include "eval/changes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
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
using testing::Write;

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

// Index 0, past the end, plain scopes and unknown names, and the transitions
// of every signal and alias, are checked against index-by-index reading in
// QueryDiff (and some through the module, in tests/python/test_changes.py).
TEST(ChangedAt, ReportsExactlyTheDifferingSignalsInNameOrder) {
  const RecordTrace& t = edge_trace();
  EXPECT_EQ(lines(changed_at(t, 1)),
            (std::vector<std::string>{"a:Empty->Bits(0)", "b:Bits(1)->Logic{1}", "top:Empty->Bits(1)",
                                      "top.x:Empty->Bits(1)", "top.sub.y:Empty->Bits(1)", "topx.z:Empty->Bits(1)",
                                      ".lead:Empty->Bits(1)", "alias_b:Bits(1)->Logic{1}"}));
  // A held NaN is no change.
  EXPECT_EQ(lines(changed_at(t, 2)),
            (std::vector<std::string>{"l:Logic{1,2}->Logic{1,3}", "t:Text(\"a\")->Text(\"b\")"}));
  // A scope takes every depth below it, but neither itself nor its siblings.
  EXPECT_EQ(lines(changed_at_scope(t, 1, "top")),
            (std::vector<std::string>{"top.x:Empty->Bits(1)", "top.sub.y:Empty->Bits(1)"}));
  EXPECT_EQ(lines(changed_at_scope(t, 1, "")), std::vector<std::string>{".lead:Empty->Bits(1)"});
}

// Name ids are kept after the first query; a trace moved or assigned over
// after that must answer from its own names, not the ones it came from.
TEST(ChangedAt, MovedTraceUsesItsOwnNameIds) {
  const std::vector<Write> writes{{"p", 1, bits(1)}, {"q", 1, bits(2)}};
  const std::vector<std::string> expected{"q:Empty->Bits(2)", "p:Empty->Bits(1)"};
  RecordTrace one = make_trace({"p", "q"}, 2, writes);
  RecordTrace other = make_trace({"q", "x", "p"}, 2, writes);
  ASSERT_EQ(lines(changed_at(other, 1)), expected);
  ASSERT_EQ(lines(changed_at(one, 1)), (std::vector<std::string>{"p:Empty->Bits(1)", "q:Empty->Bits(2)"}));
  one = std::move(other);
  EXPECT_EQ(lines(changed_at(one, 1)), expected);
  const RecordTrace moved = std::move(one);
  EXPECT_EQ(lines(changed_at(moved, 1)), expected);
}

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
