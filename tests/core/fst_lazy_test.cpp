// A lazily opened FST trace answers exactly as the eager load, whichever
// thread decodes a column first and in whatever order.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "eval/changes.h"
#include "eval/snapshot.h"
#include "fst_test_writer.h"
#include "signal/column.h"
#include "trace/fst_lazy_trace.h"
#include "trace/fst_trace.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::FstWriter;
using test::TempDir;

// Every id's column cell by cell, from `threads` threads at once, each
// touching the ids in its own order.
void expect_same_columns(const RecordTrace& eager, const LazyFstTrace& lazy, SignalId ids, unsigned threads,
                         const fs::path& file) {
  std::vector<std::thread> pool;
  std::vector<std::string> faults(threads);
  for (unsigned k = 0; k < threads; ++k)
    pool.emplace_back([&, k] {
      std::vector<SignalId> order(ids);
      for (SignalId id = 0; id < ids; ++id) order[id] = id;
      std::shuffle(order.begin(), order.end(), std::mt19937(k));
      for (const SignalId id : order) {
        ColumnCursor x(eager.column(id)), y(lazy.column(id));
        for (Index i = 0; i <= eager.max_index() + 1; ++i)
          if (!identical(x.at(i), y.at(i))) {
            faults[k] = "id " + std::to_string(id) + " at " + std::to_string(i);
            return;
          }
      }
    });
  for (auto& t : pool) t.join();
  for (const auto& f : faults) EXPECT_EQ(f, "") << file;
}

// Lazy and eager agree on `file`.
void expect_lazy_like_eager(const fs::path& file, unsigned threads) {
  auto e = FstTrace::from_file(file.string());
  auto l = LazyFstTrace::open(file.string());
  ASSERT_TRUE(std::holds_alternative<RecordTrace>(e));
  ASSERT_TRUE(std::holds_alternative<LazyFstTrace>(l));
  const LazyFstTrace& lazy = std::get<LazyFstTrace>(l);
  const RecordTrace& eager = std::get<RecordTrace>(e);
  EXPECT_EQ(lazy.column_load().bytes, 0u) << file;
  EXPECT_EQ(lazy.signal_names(), eager.signal_names()) << file;
  EXPECT_EQ(lazy.scopes(), eager.scopes()) << file;
  EXPECT_EQ(lazy.record_timestamps(), eager.record().timestamps) << file;
  SignalId ids = 0;
  for (const auto& name : eager.signal_names()) {
    EXPECT_EQ(lazy.signal_id(name), eager.signal_id(name)) << file << " " << name;
    EXPECT_EQ(lazy.signal_width(name), eager.signal_width(name)) << file << " " << name;
    ids = std::max(ids, *eager.signal_id(name) + 1);
  }
  expect_same_columns(eager, lazy, ids, threads, file);
  const ColumnLoad done = lazy.column_load();
  EXPECT_EQ(done.loaded, done.total) << file;
  EXPECT_EQ(done.bytes, eager.column_load().bytes) << file;
  EXPECT_EQ(lazy.column_error(), "") << file;
}

class FstLazyPacking : public testing::TestWithParam<fstWriterPackType> {};

TEST_P(FstLazyPacking, WrittenFilesAnswerAsTheEagerLoadFromManyThreads) {
  TempDir dir;
  const auto file = dir.path("blocks.fst");
  test::write_random_blocks(file, {GetParam(), false, true}, 7 + GetParam());
  FstFile f;
  FstLayout layout;
  ASSERT_EQ(f.open(file.string()), "");
  ASSERT_EQ(check_fst_image(f.bytes(), layout), "");
  EXPECT_GE(layout.value_blocks.size(), 3u);
  expect_lazy_like_eager(file, 4);
  auto l = LazyFstTrace::open(file.string());
  const LazyFstTrace& lazy = std::get<LazyFstTrace>(l);
  EXPECT_EQ(lazy.signal_width("top.q"), 4u);
  EXPECT_EQ(lazy.signal_width("top.p"), 2u);
  EXPECT_FALSE(lazy.signal_id("top.q [0]"));
}

// The check hands over each value block once, in order, when no later time
// can come before its steps; a lazy open keeps them instead of reading them
// again.
TEST_P(FstLazyPacking, CheckHandsOverEachBlockOnceWithItsTimes) {
  TempDir dir;
  const auto file = dir.path("blocks.fst");
  test::write_random_blocks(file, {GetParam(), false, true}, 5 + GetParam());
  FstFile f;
  ASSERT_EQ(f.open(file.string()), "");
  FstLayout layout;
  std::vector<std::size_t> seen;
  const FstBlockVisitor visit = [&](const FstValueBlock& block, std::size_t k, const FstLayout& so_far) {
    seen.push_back(k);
    EXPECT_EQ(so_far.value_blocks.size(), k + 1);
    EXPECT_EQ(block.chains_at, static_cast<std::size_t>(block.chains - f.bytes().data()));
    // Times that go back are dropped from the list, not added later.
    for (const Time t : block.step_times) EXPECT_LE(t, so_far.times.back()) << k;
    return std::string();
  };
  ASSERT_EQ(check_fst_image(f.bytes(), layout, nullptr, false, visit), "");
  std::vector<std::size_t> expected(layout.value_blocks.size());
  for (std::size_t k = 0; k < expected.size(); ++k) expected[k] = k;
  EXPECT_EQ(seen, expected);
  const FstBlockVisitor refuse = [](const FstValueBlock&, std::size_t k, const FstLayout&) {
    return k == 1 ? std::string("FST signals: refused") : std::string();
  };
  EXPECT_EQ(check_fst_image(f.bytes(), layout, nullptr, false, refuse), "FST signals: refused");
}

TEST_P(FstLazyPacking, WholeTraceQueriesDecodeWhatTheyRead) {
  TempDir dir;
  const auto file = dir.path("blocks.fst");
  test::write_random_blocks(file, {GetParam(), false, true}, 11 + GetParam());
  auto e = FstTrace::from_file(file.string());
  auto l = LazyFstTrace::open(file.string());
  ASSERT_TRUE(std::holds_alternative<LazyFstTrace>(l));
  const RecordTrace& eager = std::get<RecordTrace>(e);
  const LazyFstTrace& lazy = std::get<LazyFstTrace>(l);
  const ColumnLoad before = lazy.column_load();
  EXPECT_LT(before.loaded, before.total);  // only the never-written variable
  EXPECT_EQ(snapshot_scope(lazy, 3, "nowhere").size(), 0u);
  EXPECT_EQ(lazy.column_load().loaded, before.loaded);
  for (Index i = 0; i <= eager.max_index(); i += 7) {
    const auto a = changed_at(eager, i), b = changed_at(lazy, i);
    ASSERT_EQ(a.size(), b.size()) << i;
    for (std::size_t k = 0; k < a.size(); ++k) EXPECT_TRUE(a[k].name == b[k].name && a[k].new_value == b[k].new_value);
  }
  EXPECT_TRUE(lazy.all_columns_loaded());
}

INSTANTIATE_TEST_SUITE_P(Packings, FstLazyPacking, testing::Values(FST_WR_PT_ZLIB, FST_WR_PT_LZ4, FST_WR_PT_FASTLZ));

// The lazy open keeps no step table when a block's steps map to consecutive
// indices; that shortcut must agree with the table itself, including steps
// before the first timestamp, between timestamps, past the last one, and
// blocks that start part way.
TEST(FstLazy, AffineStepsAgreeWithTheStepTable) {
  const std::vector<Time> ts{10, 20, 30, 40};
  const std::vector<std::vector<Time>> cases{
      {10, 20, 30, 40}, {20, 30}, {40}, {5, 20, 30}, {5, 10, 20}, {10, 25, 30}, {10, 20, 30, 40, 50},
      {10, 10}, {15, 25, 35}, {15, 20}, {40, 40}, {50}, {},
  };
  for (const std::vector<Time>& times : cases) {
    std::vector<Index> table;
    fst_time_indices(ts, times, table);
    bool affine = !times.empty();
    for (std::size_t i = 1; affine && i < table.size(); ++i) affine = table[i] == table[0] + i;
    Index base = 99;
    EXPECT_EQ(fst_time_indices_affine(ts, times, base), affine) << ::testing::PrintToString(times);
    if (affine) {
      EXPECT_EQ(base, table[0]) << ::testing::PrintToString(times);
    }
  }
  Index base = 0;
  EXPECT_FALSE(fst_time_indices_affine({}, std::vector<Time>{1, 2}, base));
}

TEST(FstLazy, FileCutShortAfterOpenFailsTheColumnNotTheProcess) {
  TempDir dir;
  const auto file = dir.path("cut.fst");
  test::write_random_blocks(file, {FST_WR_PT_LZ4, false, true}, 3);
  auto l = LazyFstTrace::open(file.string());
  ASSERT_TRUE(std::holds_alternative<LazyFstTrace>(l));
  const LazyFstTrace& lazy = std::get<LazyFstTrace>(l);
  fs::resize_file(file, 200);  // a simulator rerun truncating the dump
  const SignalId id = *lazy.signal_id("top.v5");
  EXPECT_EQ(lazy.column(id), nullptr);
  EXPECT_EQ(lazy.signal_value_by_id(id, 1), SignalValue::empty());
  EXPECT_EQ(lazy.column_error(), "FST signals: the file is shorter than when it was opened");
}

}  // namespace
}  // namespace quarn
