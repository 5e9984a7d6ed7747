// Randomized comparison of the run-based queries with plain index-by-index
// readings of the same trace through `signal_value_by_id`.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "eval/changes.h"
#include "eval/snapshot.h"
#include "eval/stats.h"
#include "record_fixture.h"

namespace quarn {
namespace {

using testing::lines;
using testing::Write;

// A change as the change queries see it: a NaN that stays NaN is none.
bool differs(const SignalValue& a, const SignalValue& b) {
  const bool both_nan = a.tag() == ValueTag::Real && b.tag() == ValueTag::Real && std::isnan(a.as_real()) &&
                        std::isnan(b.as_real());
  return !both_nan && !(a == b);
}

// Few distinct values per variant, so equal neighbours and equal-but-not-
// identical runs (0.0 / -0.0) are common.
SignalValue random_value(std::mt19937_64& rng) {
  switch (rng() % 12) {
    case 0: return SignalValue::bits(0);
    case 1: return SignalValue::bits(1);
    case 2: return SignalValue::bits(~std::uint64_t{0} - rng() % 2);
    case 3: return SignalValue::real(0.0);
    case 4: return SignalValue::real(-0.0);
    case 5: return SignalValue::real(std::nan(""));
    case 6: return SignalValue::logic({1, 2});
    case 7: return SignalValue::logic({3, 2, 2, 0});
    case 8: return SignalValue::text(rng() % 2 ? "a" : "");
    case 9: return SignalValue::wide_bits({1, 2});
    case 10: return SignalValue::logic({1});
    default: return SignalValue::empty();
  }
}

struct DiffCase {
  std::size_t signals;
  Index indices;
  std::uint64_t seed;
};

struct Built {
  RecordTrace trace;
  std::vector<std::string> names;
};

Built build(const DiffCase& c) {
  std::mt19937_64 rng(c.seed);
  std::vector<std::string> names;
  for (std::size_t s = 0; s < c.signals; ++s) {
    // A few scopes at two depths, so the scoped queries select something.
    const std::string scope = s % 3 == 0 ? "top" : (s % 3 == 1 ? "top.u" + std::to_string(s % 2) : "other");
    names.push_back(scope + ".s" + std::to_string(s));
  }
  std::vector<Write> writes;
  for (const std::string& n : names) {
    const std::size_t count = rng() % (c.indices / 2 + 2);
    for (std::size_t k = 0; k < count; ++k) {
      // Some writes a little past the last index, so columns may run long.
      writes.push_back({n, rng() % (c.indices + 2), random_value(rng)});
    }
  }
  // Out-of-order writes split and rejoin runs inside the column.
  std::shuffle(writes.begin(), writes.end(), rng);
  const bool fill = c.seed % 2 == 0;
  return {testing::make_trace(names, c.indices, writes, {}, {{"alias0", names[0]}}, fill), names};
}

std::vector<std::string> naive_transitions(const Trace& t, SignalId id) {
  std::vector<std::string> out;
  for (Index i = 1; i <= t.max_index(); ++i) {
    const SignalValue prev = t.signal_value_by_id(id, i - 1);
    const SignalValue cur = t.signal_value_by_id(id, i);
    if (differs(prev, cur)) out.push_back(std::to_string(i) + ":" + describe(prev) + "->" + describe(cur));
  }
  return out;
}

SignalStats naive_stats(const Trace& t, SignalId id) {
  SignalStats st;
  st.min = std::numeric_limits<std::uint64_t>::max();
  SignalValue prev;
  for (Index i = 0; i <= t.max_index(); ++i) {
    const SignalValue v = t.signal_value_by_id(id, i);
    if (v.tag() == ValueTag::Bits) {
      ++st.count;
      st.sum += v.as_bits();
      st.min = std::min(st.min, v.as_bits());
      st.max = std::max(st.max, v.as_bits());
    } else if (v.tag() == ValueTag::Logic) {
      for (std::uint8_t b : v.as_logic()) {
        st.num_x += b == kLogicX;
        st.num_z += b == kLogicZ;
      }
    } else if (v.is_empty()) {
      ++st.num_x;
    }
    if (i >= 1 && differs(v, prev)) ++st.transitions;
    prev = v;
  }
  if (st.count == 0) st.min = 0;
  return st;
}

std::vector<std::string> naive_changed_at(const Trace& t, Index index, const std::string& prefix) {
  std::vector<std::string> out;
  if (index == 0 || index > t.max_index()) return out;  // nothing changes past the last index
  for (const std::string& name : t.signal_names()) {
    if (!name.starts_with(prefix)) continue;
    const SignalId id = *t.signal_id(name);
    const SignalValue old_v = t.signal_value_by_id(id, index - 1);
    const SignalValue new_v = t.signal_value_by_id(id, index);
    if (differs(old_v, new_v)) out.push_back(name + ":" + describe(old_v) + "->" + describe(new_v));
  }
  return out;
}

class QueryDiff : public ::testing::TestWithParam<DiffCase> {};

TEST_P(QueryDiff, TransitionsAndStatsMatchIndexByIndexReading) {
  const Built b = build(GetParam());
  const Trace& t = b.trace;
  for (const std::string& name : t.signal_names()) {
    SCOPED_TRACE(name);
    const SignalId id = *t.signal_id(name);
    const auto expected = naive_transitions(t, id);
    EXPECT_EQ(lines(transitions(t, name)), expected);
    const SignalStats st = compute_stats(t, name);
    EXPECT_EQ(st, naive_stats(t, id));
    EXPECT_EQ(st.transitions, expected.size());
  }
}

TEST_P(QueryDiff, ChangedAtMatchesComparingEverySignal) {
  const Built b = build(GetParam());
  const Trace& t = b.trace;
  for (Index i = 0; i <= t.max_index() + 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(lines(changed_at(t, i)), naive_changed_at(t, i, ""));
    EXPECT_EQ(lines(changed_at_scope(t, i, "top")), naive_changed_at(t, i, "top."));
    EXPECT_EQ(lines(changed_at_scope(t, i, "top.u1")), naive_changed_at(t, i, "top.u1."));
  }
}

TEST_P(QueryDiff, SnapshotReadsEverySignalAtTheIndex) {
  const Built b = build(GetParam());
  const Trace& t = b.trace;
  for (Index i = 0; i <= t.max_index() + 1; ++i) {
    const auto snap = snapshot(t, i);
    ASSERT_EQ(snap.size(), t.signal_names().size());
    for (std::size_t k = 0; k < snap.size(); ++k) {
      const std::string& name = t.signal_names()[k];
      ASSERT_EQ(snap[k].key, name);
      EXPECT_EQ(describe(to_value(snap[k].value)), describe(t.signal_value(name, i))) << name << " at " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, QueryDiff,
                         ::testing::Values(DiffCase{12, 2, 1}, DiffCase{12, 2, 2}, DiffCase{20, 30, 3},
                                           DiffCase{20, 30, 4}, DiffCase{40, 80, 5}, DiffCase{40, 80, 6},
                                           // More names than one pool task takes.
                                           DiffCase{3000, 6, 7}, DiffCase{3000, 6, 8}));

}  // namespace
}  // namespace quarn
