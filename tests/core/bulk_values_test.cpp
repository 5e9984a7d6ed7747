// Bulk extraction against per-index reads of the same column, and name
// suggestions.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "eval/bulk_values.h"
#include "eval/name_suggest.h"
#include "signal/column.h"

namespace quarn {
namespace {

const std::uint8_t kX01[] = {kLogicX, kLogic0, kLogic1};

struct ColumnCase {
  const char* name;
  std::vector<std::pair<Index, SignalValue>> changes;  // at increasing indices
  Width width;
  BulkKind kind;
};

class BulkMatchesReads : public ::testing::TestWithParam<ColumnCase> {};

Column build(const ColumnCase& c, Index length) {
  Column col;
  for (const auto& [index, v] : c.changes) col.record_change(index, view_of(v));
  col.hold_through(length - 1);
  return col;
}

// What one entry of a bulk result says about a value read per index.
void expect_entry(const BulkValues& b, std::size_t k, const SignalValue& v) {
  const bool unknown = v.is_empty() || v.tag() == ValueTag::Logic;
  EXPECT_EQ(b.unknown[k] != 0, unknown);
  switch (b.kind) {
    case BulkKind::Uint:
      EXPECT_EQ(b.uints[k], v.tag() == ValueTag::Logic ? 1u : to_u64(v).value_or(0));  // x01 reads as 1
      break;
    case BulkKind::Real:
      if (v.tag() == ValueTag::Real) EXPECT_EQ(b.reals[k], v.as_real());
      else EXPECT_TRUE(std::isnan(b.reals[k]));
      break;
    default: EXPECT_TRUE(b.values[k] == v); break;
  }
}

TEST_P(BulkMatchesReads, ChangesAndValues) {
  const ColumnCase& c = GetParam();
  constexpr Index kLength = 12;
  const Column col = build(c, kLength);
  const BulkValues all = bulk_values(&col, c.width, 0, kLength + 2);
  EXPECT_EQ(all.kind, c.kind);
  ASSERT_EQ(all.unknown.size(), kLength + 2);
  for (Index i = 0; i < kLength + 2; ++i) expect_entry(all, i, col.get(i));

  const BulkValues ch = bulk_changes(&col, c.width);
  ASSERT_EQ(ch.indices.size(), c.changes.size());
  for (std::size_t k = 0; k < c.changes.size(); ++k) {
    EXPECT_EQ(ch.indices[k], c.changes[k].first);
    expect_entry(ch, k, c.changes[k].second);
  }
  const BulkValues mid = bulk_values(&col, c.width, 5, 7);
  for (Index i = 5; i < 7; ++i) expect_entry(mid, i - 5, col.get(i));
}

INSTANTIATE_TEST_SUITE_P(
    Columns, BulkMatchesReads,
    ::testing::Values(
        ColumnCase{"bits", {{0, SignalValue::bits(3)}, {4, SignalValue::bits(9)}}, 8, BulkKind::Uint},
        ColumnCase{"late_start_with_x",
                   {{2, SignalValue::bits(1)}, {6, SignalValue::logic({kX01, kX01 + 3})}, {8, SignalValue::bits(2)}},
                   3, BulkKind::Uint},
        ColumnCase{"real", {{0, SignalValue::real(0.5)}, {3, SignalValue::real(-2)}}, 64, BulkKind::Real},
        ColumnCase{"wide", {{0, SignalValue::wide_bits({1, 2})}, {1, SignalValue::bits(4)}}, 100, BulkKind::Wide},
        ColumnCase{"text", {{1, SignalValue::text("a")}, {5, SignalValue::text("bc")}}, 0, BulkKind::Text}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BulkValues, NoColumnReadsUnknown) {
  const BulkValues b = bulk_values(nullptr, 4, 3, 6);
  EXPECT_EQ(b.uints, (std::vector<std::uint64_t>{0, 0, 0}));
  EXPECT_EQ(b.unknown, (std::vector<std::uint8_t>{1, 1, 1}));
  EXPECT_TRUE(bulk_changes(nullptr, 4).indices.empty());
  EXPECT_TRUE(bulk_values(nullptr, 4, 6, 3).unknown.empty());
}

TEST(CloseNames, NearSpellingsFirstThenSameLeaf) {
  const std::vector<std::string> names{"top.valid", "top.ready", "top.u1.valid", "top.vld", "other.x"};
  EXPECT_EQ(close_names(names, "top.vaild"), (std::vector<std::string>{"top.valid", "top.vld"}));
  // Too far to spell alike, but the same leaf in another scope.
  EXPECT_EQ(close_names(names, "tb.dut.ready"), (std::vector<std::string>{"top.ready"}));
  EXPECT_TRUE(close_names(names, "completely.different").empty());
}

}  // namespace
}  // namespace quarn
