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

constexpr std::uint64_t kTop = ~std::uint64_t{0};

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, Stats,
    ::testing::Values(
        //                                                          min max sum count trans x z
        StatsCase{"empty_everywhere", 7, {}, {0, 0, 0, 0, 0, 7, 0}},
        StatsCase{"bits_values", 4, {{"s", 0, bits(5)}, {"s", 1, bits(3)}, {"s", 3, bits(9)}}, {3, 9, 20, 4, 2, 0, 0}},
        StatsCase{"logic_held_counts_bits_per_index", 2, {{"s", 0, logic({1, 2, 3, 2})}}, {0, 0, 0, 0, 0, 4, 2}},
        StatsCase{"late_first_value", 2, {{"s", 1, bits(1)}}, {1, 1, 1, 1, 1, 1, 0}},
        StatsCase{"real_counts_only_transitions", 3, {{"s", 0, real(1.5)}, {"s", 2, real(2.5)}}, {0, 0, 0, 0, 1, 0, 0}},
        StatsCase{"text_counts_only_transitions", 3, {{"s", 0, text("a")}, {"s", 1, text("b")}}, {0, 0, 0, 0, 1, 0, 0}},
        StatsCase{"held_nan_is_no_change", 4, {{"s", 0, real(std::nan(""))}}, {0, 0, 0, 0, 0, 0, 0}},
        StatsCase{"zero_then_negative_zero_is_no_change", 2, {{"s", 0, real(0.0)}, {"s", 1, real(-0.0)}},
                  {0, 0, 0, 0, 0, 0, 0}},
        StatsCase{"sum_wraps_modulo_2_64", 3, {{"s", 0, bits(kTop)}, {"s", 2, bits(2)}}, {2, kTop, 0, 3, 1, 0, 0}},
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
