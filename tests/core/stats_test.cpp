#include "eval/stats.h"

#include <gtest/gtest.h>

#include <vector>

#include "record_fixture.h"

namespace quarn {
namespace {

using testing::bits;
using testing::make_trace;
using testing::Write;

SignalStats stats_of_s(Index indices, const std::vector<Write>& writes) {
  return compute_stats(make_trace({"s"}, indices, writes), "s");
}

// Short traces of every variant are compared with a plain count in QueryDiff,
// and a hand-written one in tests/python/test_changes.py.
TEST(Stats, EdgeCases) {
  //                                                min max sum count trans x z
  EXPECT_EQ(stats_of_s(7, {}), (SignalStats{0, 0, 0, 0, 0, 7, 0}));
  EXPECT_EQ(stats_of_s(0, {{"s", 0, bits(4)}}), (SignalStats{4, 4, 4, 1, 0, 0, 0}));  // no timestamps: index 0
  // A long held value: the count and sum multiply rather than loop.
  EXPECT_EQ(stats_of_s(1u << 20, {{"s", 0, bits(1ull << 63)}, {"s", 5, bits(1)}}),
            (SignalStats{1, 1ull << 63, (1ull << 63) + (1ull << 20) - 5, 1u << 20, 1, 0, 0}));
}

}  // namespace
}  // namespace quarn
