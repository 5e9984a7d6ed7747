#include "eval/segments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "signal/column.h"

namespace quarn {
namespace {

struct Layout {
  const char* label;
  Index length;
  std::vector<Index> change_at;  // indices where a new run starts (besides 0)
};

class FindRun : public ::testing::TestWithParam<Layout> {};

// The guessed start must not matter: every index finds the run a binary
// search finds, however unevenly the changes are spread.
TEST_P(FindRun, AgreesWithBinarySearchAtEveryIndex) {
  const Layout& l = GetParam();
  Column c;
  std::uint64_t v = 0;
  c.set(0, ValueView::bits(v));
  for (Index i : l.change_at) c.set(i, ValueView::bits(++v));
  c.hold_through(l.length - 1);
  ASSERT_EQ(c.length(), l.length);
  for (Index i = 0; i < l.length; ++i) ASSERT_EQ(find_run(c, i), c.run_at(i)) << "index " << i;
}

std::vector<Index> every(Index from, Index to, Index step) {
  std::vector<Index> out;
  for (Index i = from; i < to; i += step) out.push_back(i);
  return out;
}

std::vector<Index> random_changes(Index length, std::size_t count, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<Index> out;
  for (std::size_t k = 0; k < count; ++k) out.push_back(1 + rng() % (length - 1));
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FindRun,
    ::testing::Values(Layout{"single_run", 50, {}}, Layout{"single_index", 1, {}},
                      Layout{"every_index", 64, every(1, 64, 1)},
                      Layout{"one_change_at_the_end", 5000, {4999}},
                      Layout{"clusters_at_both_ends", 5000, [] {
                               auto v = every(1, 100, 1);
                               auto w = every(4900, 5000, 1);
                               v.insert(v.end(), w.begin(), w.end());
                               return v;
                             }()},
                      Layout{"random", 5000, random_changes(5000, 700, 3)}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace quarn
