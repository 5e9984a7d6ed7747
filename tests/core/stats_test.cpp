#include "eval/stats.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "record_fixture.h"

namespace quarn {
namespace {

using testing::bits;
using testing::make_trace;
using testing::Write;

struct StatsCase {
  const char* label;
  Index indices;
  std::vector<Write> writes;
  SignalStats expected;  // of signal "s"
};

class Stats : public ::testing::TestWithParam<StatsCase> {};

TEST_P(Stats, SummarisesTheSignal) {
  const StatsCase& c = GetParam();
  EXPECT_EQ(compute_stats(make_trace({"s"}, c.indices, c.writes), "s"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, Stats,
    // Short traces of every variant are compared with a plain count in QueryDiff,
    // and a hand-written one in tests/python/test_changes.py.
    ::testing::Values(
        //                                                          min max sum count trans x z
        StatsCase{"empty_everywhere", 7, {}, {0, 0, 0, 0, 0, 7, 0}},
        // A long held value: the count and sum multiply rather than loop.
        StatsCase{"long_run_sum_wraps", 1u << 20, {{"s", 0, bits(1ull << 63)}, {"s", 5, bits(1)}},
                  {1, 1ull << 63, (1ull << 63) + (1ull << 20) - 5, 1u << 20, 1, 0, 0}},
        StatsCase{"no_timestamps_reads_index_zero", 0, {{"s", 0, bits(4)}}, {4, 4, 4, 1, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace quarn
