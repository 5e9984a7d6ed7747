// The run-length SignalStore must answer every read exactly as a dense store
// (one value per signal per index) would after the same writes. The dense
// store below is the reference, written straight from that definition.

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "signal/change_log.h"
#include "signal/column.h"
#include "signal/store.h"
#include "test_values.h"

namespace quarn {
namespace {

class DenseStore {
 public:
  void set(SignalId id, Index index, SignalValue v) {
    auto& col = cols_[id];
    if (index >= col.size()) col.resize(index + 1);  // new positions are Empty
    col[index] = std::move(v);
  }
  SignalValue get(SignalId id, Index index) const {
    auto it = cols_.find(id);
    if (it == cols_.end() || index >= it->second.size()) return SignalValue::empty();
    return it->second[index];
  }
  std::vector<SignalValue> get_range(SignalId id, Index start, Index end) const {
    std::vector<SignalValue> out;
    for (Index i = start; i < end; ++i) out.push_back(get(id, i));
    return out;
  }
  // Candidates first, writes afterwards.
  void forward_fill(Index index) {
    if (index == 0) return;
    std::vector<std::pair<SignalId, SignalValue>> fills;
    for (const auto& [id, col] : cols_) {
      if (index - 1 < col.size() && !col[index - 1].is_empty() && (index >= col.size() || col[index].is_empty()))
        fills.emplace_back(id, col[index - 1]);
    }
    for (auto& [id, v] : fills) set(id, index, std::move(v));
  }

 private:
  std::map<SignalId, std::vector<SignalValue>> cols_;
};

// Ids: small ones, one past 65536, and one far off.
const SignalId kIds[] = {0, 1, 2, 5, 70000, SignalId{1} << 40};

// Few distinct values, so equal values repeat and runs merge and split.
std::vector<SignalValue> value_pool() {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  return {
      SignalValue::bits(0),           SignalValue::bits(1),
      SignalValue::bits(~0ull),       SignalValue::bits(0x123456),
      SignalValue::bits(0x1000000),   SignalValue::wide_bits({}),
      SignalValue::wide_bits({0, 1}), SignalValue::wide_bits({0, 2}),
      SignalValue::logic({}),         SignalValue::logic({3}),
      SignalValue::logic({1, 2}),     SignalValue::real(0.0),
      SignalValue::real(-0.0),        SignalValue::real(nan),
      SignalValue::real(-nan),        SignalValue::real(2.5),
      SignalValue::text(""),          SignalValue::text("ab"),
      SignalValue::text("abc"),       SignalValue::empty(),
      SignalValue::empty(),
  };
}

// The indices a sequence writes: base .. base + span - 1. Bases past 255
// and 65535 make the column's packed start positions widen (to two and three
// bytes), some in the middle of a sequence; the pool's numbers widen the
// payloads up to eight bytes.
struct Window {
  Index base, span;
  Index end() const { return base + span + 3; }  // a margin past the writes
  std::vector<Index> checked() const {
    std::vector<Index> out{0};
    for (Index i = base ? base - 1 : 1; i <= end(); ++i) out.push_back(i);
    return out;
  }
};

Window random_window(std::mt19937_64& rng) {
  const Index bases[] = {0, 0, 0, 0, 300, 300, 66000, 65530};
  return {bases[rng() % std::size(bases)], 4 + rng() % 40};  // small spans make overwrites likely
}

void expect_same_column(const SignalStore& store, const DenseStore& dense, SignalId id, const Window& w) {
  for (Index i : w.checked()) {
    const SignalValue want = dense.get(id, i), got = store.get(id, i);
    ASSERT_TRUE(bit_identical(want, got)) << "id " << id << " index " << i << ": want " << describe(want)
                                          << ", got " << describe(got);
  }
}

void expect_same_store(const SignalStore& store, const DenseStore& dense, const Window& w) {
  for (SignalId id : kIds) expect_same_column(store, dense, id, w);
  expect_same_column(store, dense, 3, w);  // never written
  for (Index start : w.checked()) {
    if (start % 3 || (start == 0 && w.base)) continue;  // long all-Empty ranges only cost time
    for (Index end : {Index{0}, start, start + 1, start + 7, w.end()}) {
      for (SignalId id : kIds) {
        const auto want = dense.get_range(id, start, end), got = store.get_range(id, start, end);
        ASSERT_EQ(want.size(), got.size()) << "id " << id << " range " << start << ".." << end;
        for (std::size_t k = 0; k < want.size(); ++k)
          ASSERT_TRUE(bit_identical(want[k], got[k])) << "id " << id << " range " << start << ".." << end << " at " << k;
      }
    }
  }
}

// A cursor walking non-decreasing indices (repeats, steps, short and long
// jumps) sees what random access sees, and next_change ends the current run.
void expect_cursor_matches_view(const Column& column, std::mt19937_64& rng) {
  ColumnCursor cursor(&column);
  Index i = 0;
  while (i <= column.length() + 2) {
    const ValueView want = column.view(i);
    ASSERT_TRUE(identical(want, cursor.at(i))) << "cursor at " << i;
    const Index next = cursor.next_change(i);
    if (i < column.length()) {
      ASSERT_GT(next, i);
      ASSERT_TRUE(identical(want, column.view(next - 1))) << "run of " << i << " ends at " << next;
    }
    const unsigned step = rng() % 20;
    i += step < 5 ? 0 : step < 15 ? 1 : step < 19 ? rng() % 15 : rng() % (column.length() + 3);
  }
}

TEST(StoreEquivalence, RandomSetAndForwardFillMatchDenseStore) {
  const auto pool = value_pool();
  for (std::uint64_t seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    SignalStore store;
    DenseStore dense;
    const Window w = random_window(rng);
    for (int step = 0; step < 120; ++step) {
      const SignalId id = kIds[rng() % std::size(kIds)];
      if (rng() % 4 == 0) {
        const Index index = w.base + rng() % (w.span + 3);
        store.forward_fill(index);
        dense.forward_fill(index);
        for (SignalId each : kIds) expect_same_column(store, dense, each, w);
      } else {
        const Index index = w.base + rng() % w.span;
        const SignalValue& v = pool[rng() % pool.size()];
        store.set(id, index, v);
        dense.set(id, index, v);
        expect_same_column(store, dense, id, w);
      }
      // Shrinking drops trailing tags; later writes must bring them back.
      if (rng() % 16 == 0) store.shrink_to_fit();
      if (HasFatalFailure()) return;
    }
    expect_same_store(store, dense, w);
    for (SignalId id : kIds)
      if (const Column* c = store.column(id)) expect_cursor_matches_view(*c, rng);
    if (HasFatalFailure()) return;
  }
}

// The VCD reader's way: record changes in index order, holding each value
// through skipped indices, then hold everything through the last index. The
// reference forward-fills every index before storing its changes.
TEST(StoreEquivalence, RecordChangeAndHoldThroughMatchForwardFillThenSet) {
  const auto pool = value_pool();
  for (std::uint64_t seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    SignalStore store;
    DenseStore dense;
    const Window w = random_window(rng);
    const Index last = w.base + w.span;
    for (Index t = w.base; t <= last; ++t) {
      dense.forward_fill(t);
      const unsigned changes = rng() % 4;  // several per id at one index too
      for (unsigned k = 0; k < changes; ++k) {
        const SignalId id = kIds[rng() % std::size(kIds)];
        const SignalValue& v = pool[rng() % pool.size()];
        store.record_change(id, t, view_of(v));
        dense.set(id, t, v);
      }
      if (rng() % 10 == 0) store.hold_through(t);  // early holds change nothing
    }
    store.hold_through(last);
    expect_same_store(store, dense, w);
    if (HasFatalFailure()) return;
  }
}

// A reader copying a signal's earlier value: a view into a column, stored
// back into the same column, must stay readable while the write grows the
// column's storage.
TEST(StoreEquivalence, StoresValueViewedFromSameColumn) {
  for (std::size_t len = 1; len < 100; ++len) {
    SignalStore store;
    const SignalValue first = SignalValue::logic(SignalValue::LogicBits(len, kLogicZ));
    store.set(1, 0, first);
    for (Index i = 1; i < 40; ++i) {
      store.set(1, i, SignalValue::text("x"));
      store.set(1, i, store.view(1, 0));
    }
    for (Index i = 0; i < 40; ++i) ASSERT_EQ(store.get(1, i), first) << "length " << len << " index " << i;
  }
}

// Memory follows changes, not indices: far-apart indices cost nothing, and
// reads around them keep the dense answers.
TEST(StoreEquivalence, HugeIndicesStayCheap) {
  const Index far = Index{1} << 50;
  SignalStore store;
  store.set(3, far, SignalValue::text("t"));
  store.forward_fill(far + 1);
  store.set(4, 2, SignalValue::bits(7));
  store.hold_through(far);
  EXPECT_TRUE(store.get(3, far - 1).is_empty());
  EXPECT_EQ(store.get(3, far + 1), SignalValue::text("t"));
  EXPECT_TRUE(store.get(3, far + 2).is_empty());
  EXPECT_EQ(store.get(4, far), SignalValue::bits(7));
  EXPECT_TRUE(store.get(4, far + 1).is_empty());
  EXPECT_EQ(store.get_range(4, far - 1, far + 2).size(), 3u);
  EXPECT_LT(store.memory_bytes(), std::size_t{1} << 20);
}

// A change log replays every variant at every index gap (one-byte and longer
// delta varints, tagged and untagged records) as the column would have
// recorded them directly, also placed elsewhere with a prefix skipped and
// event counts carried on, across its blocks and after compaction.
TEST(StoreEquivalence, ChangeLogReplaysWhatColumnRecords) {
  const auto pool = value_pool();
  const Index gaps[] = {0, 1, 2, 7, 8, 63, 64, 65, 255, 256, 8191, 8192, Index{1} << 40};
  // Numbers on either side of the log's own length steps (none, one byte, two),
  // and values larger than the log's largest block.
  const SignalValue steps[] = {SignalValue::bits(6),   SignalValue::bits(7),
                               SignalValue::bits(0xFF), SignalValue::bits(0x100),
                               SignalValue::text(std::string(5000, 'q')),
                               SignalValue::wide_bits(SignalValue::Words(700, 0x5555))};
  for (std::uint64_t seed = 1; seed <= 100; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    const Index skip = rng() % 3 ? 0 : 5, base = rng() % 2 ? 0 : 1000;
    const std::uint64_t bits_add = rng() % 2 ? 0 : 7;
    // Odd seeds compact the log halfway and free the blocks it grew in.
    LogArena arena, compacted;
    ChangeLog log;
    Column want, got;
    Index index = 0;
    for (int k = 0; k < 200; ++k) {
      index += gaps[rng() % std::size(gaps)] % (Index{1} << (rng() % 2 ? 8 : 41));
      const std::size_t pick = rng() % (pool.size() + std::size(steps));
      ValueView v = view_of(pick < pool.size() ? pool[pick] : steps[pick - pool.size()]);
      log.append(index, v, arena);
      if (k == 100 && seed % 2) {
        log.compact_into(compacted);
        arena.release();
      }
      if (v.tag == ValueTag::Bits) v.scalar += bits_add;
      if (index >= skip) want.record_change(base + index - skip, v);
    }
    log.replay_into(got, skip, base, bits_add);
    ASSERT_EQ(want.run_count(), got.run_count());
    ASSERT_EQ(want.length(), got.length());
    for (std::size_t k = 0; k < want.run_count(); ++k) {
      ASSERT_EQ(want.run_start(k), got.run_start(k)) << "run " << k;
      ASSERT_TRUE(identical(want.run_value(k), got.run_value(k))) << "run " << k;
    }
  }
}

// A column of numbers after an unknown start, with indices past 2^16: no tag
// per number, three bytes per start (what keeps a loaded trace small).
TEST(StoreEquivalence, NumbersAfterUnknownStoreCompactly) {
  constexpr Index kRuns = 10000;
  Column c;
  c.record_change(0, view_of(SignalValue::logic({2, 2})));
  for (Index k = 1; k <= kRuns; ++k) c.record_change(k * 100, ValueView::bits(k % 200));
  c.shrink_to_fit();
  EXPECT_EQ(c.run_count(), kRuns + 1);
  EXPECT_LE(c.memory_bytes(), sizeof(Column) + (kRuns + 1) * 4 + 64);
  EXPECT_EQ(c.get(kRuns * 100 - 1), SignalValue::bits((kRuns - 1) % 200));
}

}  // namespace
}  // namespace quarn
