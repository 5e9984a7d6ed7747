// FSDB value blocks: layout, trailer values, events per signal (the body's
// segments and base events through them), the generated clock, and storing
// events of several blocks.

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fsdb_image.h"
#include "test_values.h"
#include "trace/fsdb_reader.h"
#include "trace/fsdb_values.h"

namespace quarn {
namespace {

using namespace fsdb_test;
using fsdb::Bytes;

/// header numbers, header mark, body, and (when given) trailer mark + trailer.
ByteVec value_block(std::initializer_list<std::uint64_t> header, const ByteVec& body, const ByteVec* trailer = nullptr) {
  ByteVec b = cat({varints(header), kHeaderMark, body});
  if (trailer) b = cat({b, kTrailerMark, *trailer});
  return b;
}

std::vector<std::string> events_of(const fsdb::BlockEvents& b) {
  std::vector<std::string> out;
  b.for_each_event([&](const fsdb::Event& e) {
    out.push_back(std::to_string(e.id) + "@" + std::to_string(e.time) + "=" + std::to_string(e.value));
  });
  return out;
}

std::vector<std::string> decode(const ByteVec& block, std::size_t names) {
  std::uint64_t budget = fsdb::kMaxEvents;
  return events_of(fsdb::decode_value_block(block, names, budget));
}

TEST(Layout, HeaderBodyAndTrailerPositions) {
  // Short block, and a block with neither header mark nor end mark: skipped.
  EXPECT_FALSE(fsdb::find_layout(bytes({1, 2, 3, 4, 5, 6, 7})).passed);
  EXPECT_FALSE(fsdb::find_layout(ByteVec(64, 0x11)).passed);

  // Without a header mark: four varints, then the body 6 bytes later.
  const ByteVec no_mark = cat({varints({300, 1, 2, 3}), bytes({9, 9, 9, 9, 9, 9}), bytes({0x01, 0x05}), kEndMark});
  auto l = fsdb::find_layout(no_mark);
  ASSERT_TRUE(l.passed && l.has_body);
  EXPECT_EQ(l.header_count, 4u);
  EXPECT_EQ(l.header[0], 300u);
  EXPECT_EQ(l.body_begin, 5u + 6u);
  EXPECT_EQ(l.body_end, l.body_begin + 2);  // cut at the end mark

  // A trailer mark inside the header does not count; the fill mark cuts
  // before the end mark.
  const ByteVec trailer = bytes({0x0A, 0x00, 0x00, 0x00});
  const ByteVec block =
      cat({kTrailerMark, kHeaderMark, bytes({0x01, 0x02}), kFillMark, kEndMark, kTrailerMark, trailer});
  l = fsdb::find_layout(block);
  ASSERT_TRUE(l.has_body);
  EXPECT_EQ(l.body_begin, 12u);
  EXPECT_EQ(l.body_end, 14u);
  EXPECT_TRUE(l.has_trailer);
  EXPECT_EQ(l.trailer_begin, block.size() - trailer.size());

  // Header (four varints) ending 5 bytes before the end: passed, but no body.
  const ByteVec tight = cat({bytes({1, 2, 3, 4}), kEndMark, bytes({9})});
  l = fsdb::find_layout(tight);
  EXPECT_TRUE(l.passed);
  EXPECT_FALSE(l.has_body);
}

struct TrailerCase {
  const char* what;
  ByteVec trailer;
  std::uint8_t body_last;
  std::vector<std::uint8_t> values;
};

class Trailer : public ::testing::TestWithParam<TrailerCase> {};

TEST_P(Trailer, Values) {
  const auto& c = GetParam();
  EXPECT_EQ(fsdb::read_trailer_values(c.trailer, c.body_last), c.values) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Walk, Trailer,
    ::testing::Values(
        TrailerCase{"plain values and skipped bytes", bytes({0x0A, 0x02, 0x27, 0x38, 0x41, 0, 0, 0}), 0, {0x0A, 0x41}},
        TrailerCase{"0x01 value then a varint", bytes({1, 0x05, 0x81, 0x01, 0x0C, 0, 0, 0}), 0, {0x05, 0x0C}},
        TrailerCase{"0x01 before '8' stops", bytes({0x0A, 1, 0x05, 0x38, 0x0C}), 0, {0x0A}},
        TrailerCase{"end mark stops", cat({bytes({0x0A}), kEndMark, bytes({0x0B, 0})}), 0, {0x0A}},
        TrailerCase{"C1 alone is a varint", bytes({0xC1, 0x22, 0x0B, 0}), 0, {0x0B}},
        TrailerCase{"high byte adds 0xFF once", bytes({0x90, 0x01, 0x0A, 0x85, 0x02, 0}), 0xFF, {0xFF, 0x0A}},
        TrailerCase{"lone 00 is skipped", bytes({0, 0x0A, 0, 0, 0x0B, 0}), 0, {0x0A, 0x0B}},
        TrailerCase{"the last byte is never read", bytes({0x0A, 0x0B}), 0, {0x0A}},
        TrailerCase{"fewer than two bytes", bytes({0x0A}), 0, {}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

struct EventCase {
  const char* what;
  ByteVec block;
  std::size_t names;
  std::vector<std::string> events;
};

class Events : public ::testing::TestWithParam<EventCase> {};

TEST_P(Events, PerSignal) { EXPECT_EQ(decode(GetParam().block, GetParam().names), GetParam().events) << GetParam().what; }

const ByteVec kTwoTrailerValues = bytes({1, 5, 0, 1, 9, 0, 0, 0, 0});
const ByteVec kPairsAB = bytes({1, 0x0A, 2, 0x0B});

INSTANTIATE_TEST_SUITE_P(
    Block, Events,
    ::testing::Values(
        EventCase{"base events to signal 0", value_block({1, 2, 3}, kPairsAB), 3, {"0@10=10", "0@30=11"}},
        // How the body splits at the separator 8 into segments, and the base
        // events of each: one signal, no trailer, no clock.
        EventCase{"separated body", value_block({1}, bytes({8, 1, 5, 1, 7, 8, 2, 1, 8, 0x09, 9})), 1,
                  {"0@0=5", "0@10=7", "0@20=1"}},
        EventCase{"trailing separator adds no segment", value_block({1}, bytes({1, 2, 8, 3, 4, 8})), 1, {"0@0=2"}},
        EventCase{"one segment keeps it", value_block({1}, bytes({1, 2, 8})), 1, {"0@0=2"}},
        // A one-byte segment that is not the last: an event at the last time.
        EventCase{"one-byte segment", value_block({1}, bytes({1, 5, 3, 7, 8, 0x33, 8, 1, 1, 8, 9, 9})), 1,
                  {"0@0=5", "0@30=7", "0@30=51", "0@30=1"}},
        // An odd byte after the pairs: 10 after the segment's last event.
        EventCase{"odd leftover byte", value_block({1}, bytes({2, 5, 0x44, 8, 1, 1, 8, 9, 9})), 1,
                  {"0@10=5", "0@20=68", "0@20=1"}},
        EventCase{"running sum of zero stays at the last time", value_block({1}, bytes({0, 5, 0, 6, 8, 9, 9})), 1,
                  {"0@0=5", "0@0=6"}},
        // The last segment's odd byte makes no event.
        EventCase{"odd byte in the last segment", value_block({1}, bytes({1, 5, 0x44, 8, 9, 9})), 1, {"0@0=5"}},
        EventCase{"descriptor pairs make no base event",
                  value_block({1}, bytes({0x85, 9, 1, 0x0A, 0x41, 9, 2, 0x0B})), 1, {"0@10=10", "0@30=11"}},
        EventCase{"trailer values, then base to the last signal", value_block({1, 2, 3}, kPairsAB, &kTwoTrailerValues),
                  3, {"1@0=5", "2@0=9", "2@10=10", "2@30=11"}},
        EventCase{"trailer values beyond the names", value_block({1, 2, 3}, kPairsAB, &kTwoTrailerValues), 2,
                  {"1@0=5", "1@10=10", "1@30=11"}},
        // H3 = 0: no limit; H4 = 7 at time H5 * 5 + 5 = 15; descriptors follow.
        EventCase{"extra value and descriptors", value_block({0, 0, 0, 0, 7, 2}, bytes({1, 0x0A, 0x85, 0, 2, 0x0B, 0x41, 0})),
                  5, {"1@15=7", "2@10=10", "2@30=11", "3@15=10", "3@35=11", "4@11=0", "4@31=1"}},
        EventCase{"extra time wraps", value_block({0, 0, 0, 0, 7, ~std::uint64_t{0}}, {}), 3, {"1@0=7"}},
        EventCase{"extra value with too few names", value_block({0, 0, 0, 0, 7}, kPairsAB), 1, {"0@10=10", "0@30=11"}},
        EventCase{"no names, no clock: nothing", value_block({1}, kPairsAB), 0, {}},
        EventCase{"H3 limits an unseparated body", value_block({0, 0, 0, 1}, kPairsAB), 1, {"0@10=10"}},
        EventCase{"clock of period 10",
                  value_block({1}, bytes({1, 5, 3, 7, 8, 0x40, 0, 4, '1'})), 2,
                  {"0@0=5", "0@30=7", "0@0=1", "0@10=0", "0@20=1", "0@30=0", "0@40=1"}},
        EventCase{"clock starting at 0, no names", value_block({1}, bytes({1, 5, 8, 0x40, 0, 2, '0'})), 0,
                  {"0@0=0", "0@5=1", "0@10=0"}},
        EventCase{"clock of period 0", value_block({1}, bytes({1, 5, 8, 0x40, 0, 0, '1'})), 1, {"0@0=5"}},
        EventCase{"trailer segment without bit 6", value_block({1}, bytes({1, 5, 8, 0x20, 0, 4, '1'})), 1, {"0@0=5"}},
        // The first varint runs 8 bytes; the end mark holds the other three.
        EventCase{"body too close to the end", cat({ByteVec(7, 0x80), bytes({0x01}), kEndMark}), 3, {}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(Clock, CappedPerBlock) {
  // A separated body whose times climb fast, with a clock of period 2.
  ByteVec body;
  for (int i = 0; i < 40000; ++i) {
    body.push_back(63);
    body.push_back(1);
  }
  body = cat({body, bytes({8, 0x40, 0, 1, '1'})});
  std::uint64_t budget = fsdb::kMaxEvents;
  const auto b = fsdb::decode_value_block(value_block({1}, body), 1, budget);
  EXPECT_EQ(b.clock.period, 2u);
  EXPECT_EQ(b.clock.count, fsdb::kMaxClockEvents);
}

/// The trace of a record built from the given value blocks.
RecordTrace store(const std::vector<ByteVec>& blocks, std::size_t names) {
  TraceRecord r;
  for (std::size_t i = 0; i < names; ++i) r.names.add_signal("s" + std::to_string(i), i, 1);
  std::uint64_t budget = fsdb::kMaxEvents;
  std::vector<fsdb::BlockEvents> decoded;
  for (const auto& b : blocks) decoded.push_back(fsdb::decode_value_block(b, names, budget));
  fsdb::store_events(decoded, r);
  return RecordTrace(std::move(r));
}

std::vector<std::string> column_text(const RecordTrace& t, SignalId id) {
  std::vector<std::string> out;
  for (Index i = 0; i <= t.max_index() + 1; ++i)
    out.push_back(std::to_string(t.timestamp(i)) + ":" + describe(t.signal_value_by_id(id, i)));
  return out;
}

struct StoreCase {
  const char* what;
  std::vector<ByteVec> blocks;
  std::size_t names;
  SignalId id;
  std::vector<std::string> column;  // "time:value" per index, one past the end
};

class Store : public ::testing::TestWithParam<StoreCase> {};

TEST_P(Store, Column) { EXPECT_EQ(column_text(store(GetParam().blocks, GetParam().names), GetParam().id), GetParam().column); }

INSTANTIATE_TEST_SUITE_P(
    Blocks, Store,
    ::testing::Values(
        // A later block's event between earlier ones must not be hidden by
        // values already held forward (an earlier time than the first
        // block's: tests/python).
        StoreCase{"later block fills a gap",
                  {value_block({1}, bytes({1, 0x0A, 2, 0x0B})), value_block({1}, bytes({3, 0x0C}))},
                  1,
                  0,
                  {"0:Bits(0)", "10:Bits(10)", "20:Bits(12)", "30:Bits(11)", "0:Empty"}},
        // Which event wins, and what signals without events hold: the
        // model below.
        StoreCase{"no block passes: values stay Empty", {ByteVec(20, 0x11)}, 2, 0, {"0:Empty", "0:Empty"}},
        // Times far apart (an extra value at 5 * 10^12 + 5).
        StoreCase{"sparse times",
                  {value_block({0, 0, 0, 0, 7, 1'000'000'000'000}, kPairsAB)},
                  3,
                  1,
                  {"0:Bits(0)", "10:Bits(0)", "30:Bits(0)", "5000000000005:Bits(7)", "0:Empty"}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

// A plain model of storing: all events in collection order into a map, the
// last one per signal and time winning; distinct times plus 0; named signals
// hold 0 at time 0; values hold until the next change.
std::vector<std::vector<std::string>> model_columns(const std::vector<fsdb::BlockEvents>& blocks, std::size_t names,
                                                    std::size_t ids) {
  std::map<std::pair<SignalId, Time>, std::uint64_t> last;
  std::set<Time> times{0};
  bool passed = false;
  for (const auto& b : blocks) {
    passed |= b.passed;
    b.for_each_event([&](const fsdb::Event& e) {
      last[{e.id, e.time}] = e.value;
      times.insert(e.time);
    });
  }
  std::vector<std::vector<std::string>> out(ids);
  for (SignalId id = 0; id < ids; ++id) {
    std::optional<std::uint64_t> held;
    if (passed && id < names) held = 0;
    for (Time t : times) {
      auto it = last.find({id, t});
      if (it != last.end()) held = it->second;
      out[id].push_back(std::to_string(t) + ":" + (held ? describe(SignalValue::bits(*held)) : "Empty"));
    }
    out[id].push_back("0:Empty");
  }
  return out;
}

ByteVec random_block(std::mt19937& rng) {
  auto pick = [&](std::initializer_list<int> choices) { return *(choices.begin() + rng() % choices.size()); };
  ByteVec header;
  for (std::size_t i = 0, n = rng() % 7; i < n; ++i) header = cat({header, varint(pick({0, 1, 2, 3, 7, 200}))});
  ByteVec body;
  for (std::size_t i = 0, n = rng() % 40; i < n; ++i)
    body.push_back(static_cast<std::uint8_t>(pick({0, 1, 2, 3, 8, 8, 0x81, 0x42, 0x83, 0x30, 0x41, 0x05, 0xFF})));
  ByteVec block = cat({header, kHeaderMark, body});
  if (rng() % 2) {
    ByteVec trailer;
    for (std::size_t i = 0, n = rng() % 8; i < n; ++i)
      trailer.push_back(static_cast<std::uint8_t>(pick({0x01, 0x0A, 0x41, 0x00, 0x90, 0x02})));
    block = cat({block, kTrailerMark, trailer, bytes({0, 0, 0})});
  }
  return block;
}

TEST(Store, MatchesAPlainModelOnRandomBlocks) {
  std::mt19937 rng(66);
  for (int trial = 0; trial < 400; ++trial) {
    const std::size_t names = rng() % 7;
    std::vector<ByteVec> raw;
    for (std::size_t i = 0, n = 1 + rng() % 4; i < n; ++i) raw.push_back(random_block(rng));
    std::uint64_t budget = fsdb::kMaxEvents;
    std::vector<fsdb::BlockEvents> decoded;
    for (const auto& b : raw) decoded.push_back(fsdb::decode_value_block(b, names, budget));
    const auto want = model_columns(decoded, names, std::max<std::size_t>(names, 1));
    const RecordTrace t = store(raw, names);
    for (SignalId id = 0; id < want.size(); ++id) ASSERT_EQ(column_text(t, id), want[id]) << "trial " << trial << " id " << id;
  }
}

TEST(Store, EventBudgetBoundsWork) {
  // Many descriptors over many base events multiply; the budget stops them.
  ByteVec body;
  for (int i = 0; i < 2000; ++i) body = cat({body, bytes({1, 1})});
  for (int i = 0; i < 2000; ++i) body = cat({body, bytes({0x80, 0})});
  std::uint64_t budget = 100000;
  const auto b = fsdb::decode_value_block(value_block({1}, body), 5000, budget);
  EXPECT_EQ(b.event_count(), 100000u);
  EXPECT_EQ(budget, 0u);
}

// Whole images: names, widths and values without a block table are in
// tests/python; damaged images are the fuzz target's (fuzz/fuzz_fsdb.cpp).
TEST(WholeFile, WithABlockTableOnlyItsBlocksAndMarkedNameBlocksHoldValues) {
  Image img = newer_image();
  img.le(fsdb::kHeaderCheckOffset, 84, 4);
  img.append(zlib_stream(rich_name_block({"top.clk", "top.cpu.a", "top.cpu.b"})));
  img.append(bytes({0, 0}));
  // Skipped: the table has entries, and this block is not a marked name block.
  img.append(zlib_stream(value_block({1, 2, 3}, kPairsAB, &kTwoTrailerValues)));
  img.append(bytes({0, 0}));
  const std::size_t table_block = img.append(zlib_stream(value_block({1}, bytes({0, 0x0C, 0, 0x0D}))));
  const std::size_t table_len = img.data.size() - table_block;
  img.append(bytes({0, 0}));
  write_table(img, img.data.size(), {{static_cast<std::uint32_t>(table_block), static_cast<std::uint32_t>(table_len)}});
  const auto t = FsdbTrace::parse_modern(img.data);
  EXPECT_EQ(t.signal_names().size(), 3u);
  EXPECT_EQ(t.record().timestamps, (std::vector<Time>{0, 5}));
  EXPECT_EQ(column_text(t, 0), (std::vector<std::string>{"0:Bits(0)", "5:Bits(13)", "0:Empty"}));
  EXPECT_EQ(column_text(t, 2), (std::vector<std::string>{"0:Bits(0)", "5:Bits(0)", "0:Empty"}));
}

TEST(WholeFile, NamesButNoValueBlocks) {
  Image img = newer_image();
  img.append(zlib_stream(rich_name_block({"top.a", "top.b"})));
  const auto t = FsdbTrace::parse_modern(img.data);
  EXPECT_EQ(t.signal_names().size(), 2u);
  EXPECT_EQ(t.record().timestamps, (std::vector<Time>{0}));
  EXPECT_EQ(t.signal_value("top.a", 0), SignalValue::empty());
}

}  // namespace
}  // namespace quarn
