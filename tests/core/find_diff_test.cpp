// Searches against the plain model: random traces (all value variants, Empty
// runs, columns that end early, no timestamps at all) and random trees
// (unknown ids, nested RelEval, shared subtrees); `find`, `parallel_find`,
// `parallel_count`, `find_with_values` and `eval` must all agree with
// evaluating the model at every index.

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <span>

#include "eval/eval.h"
#include "eval/find.h"
#include "eval/thread_pool.h"
#include "expr_test_util.h"
#include "signal/value_view.h"

namespace quarn {
namespace {

using namespace test;
using K = ExprKind;
using V = SignalValue;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

const std::vector<V>& value_pool() {
  static const std::vector<V> pool = [] {
    std::vector<V> p;
    for (std::uint64_t n : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{2}, std::uint64_t{3}, std::uint64_t{0xAB},
                            std::numeric_limits<std::uint64_t>::max()})
      p.push_back(V::bits(n));
    for (const auto& l : std::vector<V::LogicBits>{{1, 0}, {1, 2}, {3, 3}, {}, {0, 1, 1}}) p.push_back(V::logic(l));
    for (double d : {1.5, kNaN, -0.0, 2.0, -7.0}) p.push_back(V::real(d));
    for (const char* t : {"2", "+1", "x", ""}) p.push_back(V::text(t));
    for (const auto& w : std::vector<V::Words>{{2, 1}, {}, {0, 0}}) p.push_back(V::wide_bits(w));
    p.push_back(V::empty());
    return p;
  }();
  return pool;
}

V random_value(std::mt19937_64& rng) {
  // Mostly small Bits, as in real traces, so the fast lanes get exercised.
  if (rng() % 3) return V::bits(rng() % 4);
  return value_pool()[rng() % value_pool().size()];
}

// Columns with runs of random length: short runs force per-index work,
// long ones leave whole windows unchanged; counters change at every index.
RecordTrace random_trace(std::mt19937_64& rng, std::size_t timestamps, std::size_t signals) {
  std::vector<std::vector<V>> columns(signals);
  const std::size_t length = std::max<std::size_t>(timestamps, 1);
  for (auto& c : columns) {
    if (rng() % 4 == 0) {
      // A counter: a new value at every index, now and then another variant.
      for (std::size_t i = 0; i < length; ++i) c.push_back(rng() % 64 ? V::bits(i) : random_value(rng));
      continue;
    }
    const std::size_t stop = rng() % 4 == 0 ? rng() % (length + 1) : length + rng() % 3;
    const std::size_t mean_run = std::size_t{1} << (rng() % 12);
    V current = random_value(rng);
    for (std::size_t i = 0; i < stop; ++i) {
      if (rng() % mean_run == 0) current = random_value(rng);
      c.push_back(current);
    }
  }
  return make_trace(timestamps, columns);
}

ExprPtr random_expr(std::mt19937_64& rng, int depth, std::vector<ExprPtr>& seen) {
  ExprPtr e;
  const unsigned pick = depth <= 0 ? rng() % 3 : rng() % 24;
  if (!seen.empty() && rng() % 10 == 0) return seen[rng() % seen.size()];  // a shared subtree
  static const std::int64_t offsets[] = {-3, -1, 0, 1, 2, 700, -700, std::numeric_limits<std::int64_t>::min(),
                                         std::numeric_limits<std::int64_t>::max()};
  static const std::pair<std::uint32_t, std::uint32_t> slices[] = {{0, 0}, {3, 1}, {1, 3}, {63, 0}, {70, 3}, {100, 64}};
  switch (pick) {
    case 0: e = sig(rng() % 5 == 0 ? 1000 + rng() % 2 : rng() % 4); break;  // ids 1000+ are unknown
    case 1: e = make_const(random_value(rng)); break;
    case 2: e = rng() % 4 ? sig(rng() % 4) : make_always_true(); break;
    case 3: case 4: e = rel(random_expr(rng, depth - 1, seen), offsets[rng() % std::size(offsets)]); break;
    case 5: {
      const auto [hi, lo] = slices[rng() % std::size(slices)];
      e = slice(random_expr(rng, depth - 1, seen), hi, lo);
      break;
    }
    case 6: case 7: case 8: case 9: {
      static const K unary[] = {K::Not, K::Signed, K::IsX, K::IsZ};
      e = un(unary[pick - 6], random_expr(rng, depth - 1, seen));
      break;
    }
    default: {
      const auto k = static_cast<K>(static_cast<int>(K::And) + rng() % 13);
      ExprPtr a = random_expr(rng, depth - 1, seen);
      ExprPtr b = rng() % 8 == 0 ? a : random_expr(rng, depth - 1, seen);
      e = bin(k, std::move(a), std::move(b));
    }
  }
  seen.push_back(e);
  return e;
}

std::vector<Index> model_find(const Trace& t, const Expr& e) {
  std::vector<Index> out;
  for (Index i = 0; i <= t.max_index(); ++i)
    if (is_truthy(reference_eval(t, e, i))) out.push_back(i);
  return out;
}

// Slow signals, some ending early: long unchanged stretches.
RecordTrace steady_trace(std::mt19937_64& rng, std::size_t length) {
  std::vector<std::vector<V>> columns(4);
  for (auto& c : columns) {
    const std::size_t stop = rng() % 3 == 0 ? length / 2 + rng() % length / 2 : length;
    while (c.size() < stop) c.resize(std::min(stop, c.size() + 500 + rng() % 8000), random_value(rng));
  }
  return make_trace(length, columns);
}

// What the random tree is joined with. Signals ANDed at the root: windows
// where one stays falsy (0, Empty, an unknown id, past a column's end) are
// skipped without evaluating the rest. A far RelEval on a steady trace:
// its target leaves the trace part way through a stretch the search takes
// whole. Neither may change any answer.
enum class Join { None, SignalConjunction, FarRelEval };

struct Shape {
  const char* name;
  std::size_t timestamps;
  std::size_t traces;
  std::size_t trees;
  bool check_eval;
  Join join = Join::None;
};

std::ostream& operator<<(std::ostream& os, const Shape& s) { return os << s.name; }

ExprPtr joined_tree(std::mt19937_64& rng, Join join) {
  std::vector<ExprPtr> seen;
  ExprPtr e = random_expr(rng, join == Join::None ? 1 + static_cast<int>(rng() % 5) : 2, seen);
  if (join == Join::SignalConjunction) {
    for (unsigned terms = 1 + rng() % 3; terms > 0; --terms) {
      ExprPtr s = sig(rng() % 6 == 0 ? 1000 : rng() % 4);
      e = rng() % 2 ? bin(K::And, std::move(s), std::move(e)) : bin(K::And, std::move(e), std::move(s));
    }
  } else if (join == Join::FarRelEval) {
    static const std::int64_t offsets[] = {-2500, -1, 1300, 29000, -29990};
    e = bin(rng() % 2 ? K::And : K::Or, std::move(e), rel(sig(rng() % 4), offsets[rng() % std::size(offsets)]));
    if (rng() % 2) e = bin(K::And, sig(rng() % 4), std::move(e));  // a guard
  }
  return e;
}

class SearchMatchesModel : public ::testing::TestWithParam<Shape> {};

TEST_P(SearchMatchesModel, RandomTracesAndTrees) {
  const Shape& shape = GetParam();
  std::mt19937_64 rng(0x5eed + shape.timestamps);
  for (std::size_t tr = 0; tr < shape.traces; ++tr) {
    const RecordTrace t = shape.join == Join::FarRelEval ? steady_trace(rng, shape.timestamps)
                                                         : random_trace(rng, shape.timestamps, 4);
    for (std::size_t k = 0; k < shape.trees; ++k) {
      const ExprPtr e = joined_tree(rng, shape.join);
      const std::vector<Index> expected = model_find(t, *e);
      SCOPED_TRACE("trace " + std::to_string(tr) + " tree " + std::to_string(k));
      ASSERT_EQ(find(t, *e), expected);
      ASSERT_EQ(parallel_find(t, *e), expected);
      ASSERT_EQ(parallel_count(t, *e), expected.size());
      if (!shape.check_eval) continue;
      // Past max_index too: plain reads there are Empty, RelEval still checks.
      for (Index i = 0; i <= t.max_index() + 2; ++i)
        ASSERT_TRUE(same_value(eval(t, *e, i), reference_eval(t, *e, i))) << "index " << i;
      const std::vector<std::optional<SignalId>> ids = {0, std::nullopt, 3, 1000};
      const FoundValues fv = find_with_values(t, *e, ids);
      ASSERT_EQ(fv.indices, expected);
      ASSERT_EQ(fv.values.size(), expected.size() * ids.size());
      for (std::size_t m = 0; m < expected.size(); ++m)
        for (std::size_t c = 0; c < ids.size(); ++c) {
          const V want = ids[c] ? t.signal_value_by_id(*ids[c], expected[m]) : V::empty();
          ASSERT_TRUE(same_value(to_value(fv.values[m * ids.size() + c]), want));
        }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, SearchMatchesModel,
    ::testing::Values(Shape{"no_timestamps", 0, 20, 30, true}, Shape{"one_timestamp", 1, 20, 30, true},
                      Shape{"one_window", 300, 10, 40, true}, Shape{"window_edges", 1025, 8, 30, true},
                      // Long enough to be split over the pool.
                      Shape{"many_pieces", 200000, 2, 12, false},
                      Shape{"conjunctions_of_signals", 20000, 6, 25, false, Join::SignalConjunction},
                      Shape{"long_steady_stretches", 30000, 3, 12, false, Join::FarRelEval}),
    [](const auto& info) { return std::string(info.param.name); });

// Values written over others after a column is built (a single-index run
// rewritten, a run split): the column must stop passing for all 0/1 or all
// Bits, or searches would read the new value with the old shortcut.
TEST(SearchMatchesModel, ColumnsRewrittenInPlace) {
  const V laters[] = {V::bits(2), V::logic({1, 2}), V::empty(), V::real(1.0)};
  for (const V& later : laters) {
    SCOPED_TRACE("rewritten with value " + std::to_string(&later - laters));
    TraceRecord r;
    std::vector<V> col;
    for (Index i = 0; i < 3000; ++i) {
      r.timestamps.push_back(i);
      col.push_back(V::bits(i % 3 == 0));
      r.store.set(0, i, col.back());
      r.store.set(1, i, V::bits(1));
    }
    for (const Index i : {Index{1}, Index{1500}, Index{2999}}) {  // a one-index run, then splits
      r.store.set(0, i, later);
      r.store.set(1, i, later);
    }
    for (SignalId id = 0; id < 2; ++id) r.names.add_signal("top.s" + std::to_string(id), id, 1);
    const RecordTrace t(std::move(r));
    for (const ExprPtr& e : {bin(K::And, sig(0), sig(1)), bin(K::Or, sig(1), un(K::Not, sig(0))),
                             bin(K::And, rel(sig(0), 1), sig(1))}) {
      const std::vector<Index> expected = model_find(t, *e);
      ASSERT_EQ(find(t, *e), expected);
      ASSERT_EQ(parallel_count(t, *e), expected.size());
    }
  }
}

struct PartsCase {
  const char* name;
  std::size_t timestamps;
  std::size_t stop_after;  // parts taken before `take` says stop; 0: never
};

std::ostream& operator<<(std::ostream& os, const PartsCase& c) { return os << c.name; }

class ParallelFindParts : public ::testing::TestWithParam<PartsCase> {};

// The parts of either search arrive in order and join into `find`'s answer; once `take` says
// stop, no further part arrives.
TEST_P(ParallelFindParts, JoinIntoFindInOrder) {
  const PartsCase& c = GetParam();
  std::mt19937_64 rng(0x9a27 + c.timestamps);
  const RecordTrace t = random_trace(rng, c.timestamps, 4);
  for (std::size_t k = 0; k < 6; ++k) {
    std::vector<ExprPtr> seen;
    const ExprPtr e = bin(K::Or, random_expr(rng, 3, seen), bin(K::Eq, sig(0), cint(rng() % 4)));
    const std::vector<Index> all = find(t, *e);
    for (const auto parted : {&find_parts, &parallel_find_parts}) {
      std::vector<Index> joined;
      std::size_t parts = 0;
      parted(t, *e, [&](std::span<const Index> part) {
        joined.insert(joined.end(), part.begin(), part.end());
        return ++parts != c.stop_after;
      });
      if (c.stop_after != 0) {
        ASSERT_LE(parts, c.stop_after);
      }
      ASSERT_LE(joined.size(), all.size());
      ASSERT_TRUE(std::equal(joined.begin(), joined.end(), all.begin()));
      if (c.stop_after == 0 || parts < c.stop_after) {
        ASSERT_EQ(joined.size(), all.size());
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ParallelFindParts,
                         ::testing::Values(PartsCase{"one_window", 700, 0}, PartsCase{"pieces", 300000, 0},
                                           PartsCase{"stop_after_first", 300000, 1},
                                           PartsCase{"stop_after_third", 300000, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

// Trees deeper than any stack: built, evaluated, searched and freed without
// recursion.
TEST(DeepTrees, HundredThousandLevels) {
  const RecordTrace t = make_trace(3, {{V::bits(0), V::bits(1), V::bits(0)}});
  constexpr int kDepth = 100000;
  ExprPtr nots = sig(0);
  ExprPtr ands = sig(0);     // right-leaning: the operand waits for a deep subtree
  ExprPtr rels = sig(0);
  for (int k = 0; k < kDepth; ++k) {
    nots = un(K::Not, std::move(nots));
    ands = bin(K::And, make_always_true(), std::move(ands));
    rels = rel(std::move(rels), k % 2 ? 1 : -1);
  }
  // An even number of Nots is the truth of the signal.
  EXPECT_EQ(find(t, *nots), (std::vector<Index>{1}));
  EXPECT_EQ(parallel_count(t, *ands), 1u);
  // Outermost +1, then -1, +1, ..., innermost -1: in range only where
  // index + 1 <= max_index, and the steps cancel out.
  EXPECT_EQ(find(t, *rels), (std::vector<Index>{1}));
  EXPECT_TRUE(same_value(eval(t, *rels, 0), V::bits(0)));
  EXPECT_TRUE(same_value(eval(t, *rels, 2), V::empty()));
}

// c = c AND c, forty times, is a tree of 2^40 leaves held in 41 nodes; each
// distinct subtree is evaluated once.
TEST(DeepTrees, SelfDoublingTree) {
  const RecordTrace t = make_trace(5, {{V::bits(1), V::bits(0), V::bits(1), V::bits(1), V::bits(0)}});
  ExprPtr c = sig(0);
  for (int k = 0; k < 40; ++k) c = bin(K::And, c, c);
  EXPECT_EQ(find(t, *c), (std::vector<Index>{0, 2, 3}));
}

struct EnvCase {
  const char* value;
  std::size_t threads;
};

class ThreadsFromEnv : public ::testing::TestWithParam<EnvCase> {};

TEST_P(ThreadsFromEnv, Parses) { EXPECT_EQ(threads_from_env(GetParam().value), GetParam().threads); }

INSTANTIATE_TEST_SUITE_P(Values, ThreadsFromEnv,
                         ::testing::Values(EnvCase{nullptr, 0}, EnvCase{"", 0}, EnvCase{"0", 0}, EnvCase{"3", 3},
                                           EnvCase{"-2", 0}, EnvCase{"two", 0}, EnvCase{"4 ", 0},
                                           EnvCase{"99999999999999999999", 0}, EnvCase{"100000", 4096}));

}  // namespace
}  // namespace quarn
