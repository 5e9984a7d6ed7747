#include "eval/stats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "record_fixture.h"

namespace quarn {
namespace {

using testing::bits;
using testing::logic;
using testing::make_trace;
using testing::real;
using testing::text;
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
    // Short traces of every variant are compared with a plain count in QueryDiff.
    ::testing::Values(
        //                                                          min max sum count trans x z
        StatsCase{"empty_everywhere", 7, {}, {0, 0, 0, 0, 0, 7, 0}},
        StatsCase{"logic_held_counts_bits_per_index", 2, {{"s", 0, logic({1, 2, 3, 2})}}, {0, 0, 0, 0, 0, 4, 2}},
        StatsCase{"text_counts_only_transitions", 3, {{"s", 0, text("a")}, {"s", 1, text("b")}}, {0, 0, 0, 0, 1, 0, 0}},
        StatsCase{"held_nan_is_no_change", 4, {{"s", 0, real(std::nan(""))}}, {0, 0, 0, 0, 0, 0, 0}},
        // A long held value: the count and sum multiply rather than loop.
        StatsCase{"long_run_sum_wraps", 1u << 20, {{"s", 0, bits(1ull << 63)}, {"s", 5, bits(1)}},
                  {1, 1ull << 63, (1ull << 63) + (1ull << 20) - 5, 1u << 20, 1, 0, 0}},
        StatsCase{"no_timestamps_reads_index_zero", 0, {{"s", 0, bits(4)}}, {4, 4, 4, 1, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(StatsUnknown, UnknownNameIsAllZero) {
  EXPECT_EQ(compute_stats(make_trace({"s"}, 3, {{"s", 0, bits(1)}}), "t"), SignalStats{});
}

}  // namespace
}  // namespace quarn
