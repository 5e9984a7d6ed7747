// The pool's contract as callers rely on it: every index covered once, the
// first failure of any task rethrown to the caller, `own` always run.

#include <atomic>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "eval/thread_pool.h"

namespace quarn {
namespace {

struct Range {
  std::size_t begin, end, grain;
};

class ParallelForCovers : public ::testing::TestWithParam<Range> {};

TEST_P(ParallelForCovers, EveryIndexOnce) {
  const Range r = GetParam();
  ASSERT_GE(pool_concurrency(), 1u);
  std::vector<std::atomic<int>> hits(r.end + 1);
  parallel_for(r.begin, r.end, r.grain, [&](std::size_t lo, std::size_t hi) {
    ASSERT_LT(lo, hi);
    for (std::size_t i = lo; i < hi; ++i) hits[i].fetch_add(1);
  });
  for (std::size_t i = 0; i <= r.end; ++i) EXPECT_EQ(hits[i].load(), i >= r.begin && i < r.end ? 1 : 0) << i;
}

INSTANTIATE_TEST_SUITE_P(Ranges, ParallelForCovers,
                         ::testing::Values(Range{0, 0, 1}, Range{5, 3, 1}, Range{0, 1, 1}, Range{3, 1000, 7},
                                           Range{0, 100000, 1000}, Range{10, 20, 0}));

TEST(ThreadPool, FailureOfAPieceReachesTheCaller) {
  std::atomic<int> ran{0};
  EXPECT_THROW(parallel_for(0, 10000, 10,
                            [&](std::size_t lo, std::size_t hi) {
                              ran.fetch_add(1);
                              if (lo <= 5000 && 5000 < hi) throw std::out_of_range("piece 5000");
                            }),
               std::out_of_range);
  EXPECT_GE(ran.load(), 1);
  // The pool stays usable after a failure.
  std::atomic<std::size_t> sum{0};
  parallel_for(0, 100, 1, [&](std::size_t lo, std::size_t hi) { sum.fetch_add(hi - lo); });
  EXPECT_EQ(sum.load(), 100u);
}

TEST(ThreadPool, RunBesideRunsOwnAndRethrowsAnyFailure) {
  std::atomic<int> helpers{0};
  bool own_ran = false;
  run_beside(3, [&] { helpers.fetch_add(1); }, [&] { own_ran = true; });
  EXPECT_TRUE(own_ran);
  EXPECT_LE(helpers.load(), 3);

  EXPECT_THROW(run_beside(0, [] {}, [] { throw std::runtime_error("own"); }), std::runtime_error);
  // A helper that ran and failed is reported even though `own` succeeded.
  std::atomic<bool> helper_ran{false};
  try {
    run_beside(
        1,
        [&] {
          helper_ran = true;
          throw std::logic_error("helper");
        },
        [] {});
    EXPECT_FALSE(helper_ran.load()) << "the helper failed but nothing was thrown";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "helper");
  }
}

}  // namespace
}  // namespace quarn
