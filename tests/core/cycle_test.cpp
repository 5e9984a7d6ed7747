// Clock edges, sampled columns and property runs on the core API (so the
// sanitizer builds cover them); the semantics are checked against a model in
// tests/python/test_cycles.py.

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "eval/cycle_functions.h"
#include "eval/cycle_trace.h"
#include "eval/seq_parse.h"
#include "eval/seq_run.h"
#include "expr_test_util.h"

namespace quarn {
namespace {

using V = SignalValue;
using test::make_trace;

std::shared_ptr<const Trace> shared(RecordTrace t) { return std::make_shared<RecordTrace>(std::move(t)); }

struct EdgeCase {
  ClockEdge edge;
  std::vector<Index> expected;
};

class ClockEdges : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(ClockEdges, AnyNonOneToOneIsARise) {
  // s0: x 1 1 0 z 1 0 0 (1 stored first as Bits, then as Logic: no edge between them)
  const auto t = make_trace(8, {{V::logic({2}), V::bits(1), V::logic({1}), V::bits(0), V::logic({3}), V::bits(1),
                                 V::bits(0), V::bits(0)}});
  EXPECT_EQ(clock_edges(t, 0, GetParam().edge, 0, 8), GetParam().expected);
  // A window keeps the edges inside it and reads the level before it.
  std::vector<Index> inside;
  for (Index i : GetParam().expected)
    if (i >= 2 && i < 6) inside.push_back(i);
  EXPECT_EQ(clock_edges(t, 0, GetParam().edge, 2, 6), inside);
}

INSTANTIATE_TEST_SUITE_P(Edges, ClockEdges,
                         ::testing::Values(EdgeCase{ClockEdge::Rise, {1, 5}}, EdgeCase{ClockEdge::Fall, {3, 6}},
                                           EdgeCase{ClockEdge::Both, {1, 3, 5, 6}}));

TEST(CycleTrace, SamplesBeforeOrAfterTheEdge) {
  // clk rises at 0, 2, 4, 6; d changes at the rising edges 2 and 6.
  const std::vector<V> clk{V::bits(1), V::bits(0), V::bits(1), V::bits(0), V::bits(1), V::bits(0), V::bits(1)};
  const std::vector<V> d{V::bits(5), V::bits(5), V::bits(7), V::bits(7), V::bits(7), V::bits(7), V::bits(9)};
  const auto base = shared(make_trace(7, {clk, d}));
  const auto edges = clock_edges(*base, 0, ClockEdge::Rise, 0, 7);
  ASSERT_EQ(edges, (std::vector<Index>{0, 2, 4, 6}));
  const CycleTrace before(base, edges, SampleAt::Before), after(base, edges, SampleAt::After);
  const std::vector<std::optional<std::uint64_t>> want_before{std::nullopt, 5, 7, 7}, want_after{5, 7, 7, 9};
  for (Index k = 0; k < 4; ++k) {
    EXPECT_EQ(to_u64(before.signal_value_by_id(1, k)), want_before[k]) << k;
    EXPECT_EQ(to_u64(after.signal_value_by_id(1, k)), want_after[k]) << k;
  }
  EXPECT_EQ(before.timestamp(3), 60u);
  EXPECT_EQ(before.max_index(), 3u);
}

TEST(SeqRun, ChunkedParallelRunEqualsSequential) {
  // Random req/ack over more cycles than one chunk of starts.
  std::mt19937_64 rng(5);
  const std::size_t n = 70'000;
  std::vector<V> req, ack;
  for (std::size_t i = 0; i < n; ++i) {
    req.push_back(V::bits(rng() % 7 == 0));
    ack.push_back(V::bits(rng() % 5 == 0));
  }
  const auto t = make_trace(n, {req, ack});
  for (const char* text : {"top.s0 |-> ##[1:4] top.s1", "$rose(top.s0) |=> (!top.s1)[*1:$] ##1 top.s1",
                           "disable iff (top.s1 && !top.s0) top.s0 ##1 top.s0 |-> not (top.s1 ##1 top.s1)"}) {
    ParsedSeq p = parse_property(text, t, cycle_functions());
    ASSERT_TRUE(p.program.prop) << p.error.message;
    CompiledProgram prog;
    std::string error;
    ASSERT_TRUE(compile_program(std::move(p.program), prog, error)) << error;
    const auto truths = leaf_truths(t, n, prog.leaves);
    const CheckResult a = run_check(prog, truths, n, false), b = run_check(prog, truths, n, true);
    EXPECT_EQ(a.attempts, n);
    EXPECT_EQ(a.passed + a.failed + a.vacuous + a.pending + a.disabled, n);
    EXPECT_GT(a.failed, 0u) << text;
    EXPECT_EQ(std::tie(a.passed, a.failed, a.vacuous, a.pending, a.disabled),
              std::tie(b.passed, b.failed, b.vacuous, b.pending, b.disabled));
    EXPECT_EQ(a.failure_start, b.failure_start);
    EXPECT_EQ(a.failure_cycle, b.failure_cycle);
  }
}

// The errors of the language itself are in tests/python/test_cycles.py.
TEST(SeqParse, RejectsWhatTheAutomatonCannotTake) {
  const auto t = make_trace(2, {{V::bits(0)}});
  EXPECT_EQ(parse_sequence("top.s0 ##5000 top.s0", t, cycle_functions()).error.message,
            "count 5000 is larger than 4096");
  EXPECT_EQ(parse_sequence("(top.s0 ##1 top.s0)[->2]", t, cycle_functions()).error.message,
            "goto repetition needs a boolean operand");
  EXPECT_EQ(parse_sequence("top.s0 [=2]", t, cycle_functions()).error.message,
            "non-consecutive repetition '[=' is not supported");
}

}  // namespace
}  // namespace quarn
