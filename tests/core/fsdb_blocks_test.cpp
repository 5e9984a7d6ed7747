// FSDB newer layout: inflating, the zlib scan, the block table, block
// classification, and names and widths of whole images.

#include <gtest/gtest.h>

#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "fsdb_image.h"
#include "trace/fsdb_blocks.h"
#include "trace/fsdb_names.h"
#include "trace/fsdb_reader.h"

namespace quarn {
namespace {

using namespace fsdb_test;
using fsdb::Bytes;

ByteVec pattern(std::size_t n) {
  ByteVec out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>((i * 7 + i / 1000) & 0xFF);
  return out;
}

TEST(Inflate, OutputIsCappedAtFourMebibytes) {
  const std::size_t mib = std::size_t{1} << 20;
  for (std::size_t size : {std::size_t{100}, 2 * mib, 5 * mib}) {
    const ByteVec raw = pattern(size);
    const ByteVec z = cat({zlib_stream(raw), bytes({0xAA, 0xBB})});
    auto got = fsdb::try_zlib_decompress(z);
    ASSERT_TRUE(got) << size;
    const std::size_t kept = std::min(size, 4 * mib);
    EXPECT_EQ(got->bytes.size(), kept);
    EXPECT_TRUE(std::equal(got->bytes.begin(), got->bytes.end(), raw.begin()));
    // A stream that ended reports exactly its own length, not the bytes after it.
    if (size < 4 * mib) EXPECT_EQ(got->consumed, z.size() - 2);
    else EXPECT_LT(got->consumed, z.size() - 2);
  }
}

TEST(Inflate, FailuresGiveNothing) {
  const ByteVec good = zlib_stream(text("hello hello hello"));
  ByteVec corrupt = good;
  corrupt[2] ^= 0xFF;
  corrupt[3] ^= 0xFF;
  // A header asking for a preset dictionary (FDICT set, dictionary id 1).
  const ByteVec dict_stream = bytes({0x78, 0xBB, 0x00, 0x00, 0x00, 0x01, 0x4B, 0x04, 0x00});
  const ByteVec empty_payload = zlib_stream({});
  for (const ByteVec& in : {ByteVec{}, bytes({0x78}), bytes({0x12, 0x34, 0x56}), corrupt, dict_stream, empty_payload})
    EXPECT_FALSE(fsdb::try_zlib_decompress(in));
}

TEST(Inflate, TruncatedStreamGivesWhatCameOut) {
  const ByteVec raw = pattern(200000);
  const ByteVec z = zlib_stream(raw, 1);
  auto got = fsdb::try_zlib_decompress(Bytes(z).first(z.size() / 2));
  ASSERT_TRUE(got);
  EXPECT_GT(got->bytes.size(), 0u);
  EXPECT_LT(got->bytes.size(), raw.size());
  EXPECT_TRUE(std::equal(got->bytes.begin(), got->bytes.end(), raw.begin()));
}

struct ClassCase {
  const char* what;
  ByteVec block;
  bool marked, artefact, tabular, bang, c1;
  std::size_t strings;
};

class Classify : public ::testing::TestWithParam<ClassCase> {};

TEST_P(Classify, Measures) {
  const auto& c = GetParam();
  const fsdb::BlockTraits t = fsdb::classify_block(c.block);
  EXPECT_EQ(t.marked, c.marked);
  EXPECT_EQ(t.artefact, c.artefact);
  EXPECT_EQ(t.tabular, c.tabular);
  EXPECT_EQ(t.bang_terminated, c.bang);
  EXPECT_EQ(t.c1_terminated, c.c1);
  EXPECT_EQ(t.string_count, c.strings);
}

ByteVec tabular_c1() { return repeat(bytes({0x01, 0x00, 0x41}), 6); }
ByteVec tabular_c2() {
  // Words at 8, 12, 16, 20 whose bits 2..23 are small.
  return cat({ByteVec(8, 0x55), repeat(bytes({0x10, 0x00, 0x00, 0xEE}), 4), ByteVec(4, 0x55)});
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, Classify,
    ::testing::Values(
        ClassCase{"plain strings", c_strings({"abc", "de", "fgh", "ijkl"}), false, false, false, false, false, 3},
        ClassCase{"marked", cat({c_strings({"abc"}), text("8C")}), true, false, false, false, false, 1},
        ClassCase{"mark past the window", cat({ByteVec(1023, 0x11), text("8C")}), false, false, false, false, false, 0},
        ClassCase{"artefact", c_strings({"csrc", "abc"}), false, true, false, false, false, 2},
        ClassCase{"daidir", c_strings({"x.daidir"}), false, true, false, false, false, 1},
        ClassCase{"six record starts are tabular", tabular_c1(), false, false, true, false, false, 0},
        ClassCase{"five are not", repeat(bytes({0x01, 0x00, 0x41}), 5), false, false, false, false, false, 0},
        ClassCase{"four small words are tabular", tabular_c2(), false, false, true, false, false, 0},
        ClassCase{"bang-terminated", cat({c_strings({"abc"}), bytes({0x21, 0x00, 0x00})}), false, false, false, true,
                  false, 1},
        ClassCase{"too long to be bang-terminated", cat({ByteVec(117, 0x11), bytes({0x21, 0x00, 0x00})}), false, false,
                  false, false, false, 0},
        ClassCase{"end mark last", cat({bytes({0x11, 0x11}), kEndMark}), false, false, false, true, true, 0},
        ClassCase{"end mark before the last four", cat({bytes({0x11}), kEndMark, bytes({1, 2, 3, 4})}), false, false,
                  false, false, true, 0},
        // A string must start with a non-space and end with 0x00 inside the window.
        ClassCase{"string rules", cat({bytes({0x20}), c_strings({"ab", "abc"}), text("defg")}), false, false, false,
                  false, false, 1}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

// Builds a newer-layout image with the given streams appended in order.
Image image_with(std::initializer_list<ByteVec> raw_blocks, std::vector<std::size_t>* offsets = nullptr) {
  Image img = newer_image();
  for (const auto& raw : raw_blocks) {
    const std::size_t at = img.append(zlib_stream(raw));
    if (offsets) offsets->push_back(at);
    img.append(bytes({0x00, 0x00}));
  }
  return img;
}

TEST(ZlibScan, FindsStreamsInOrderAndStopsAtTwenty) {
  std::vector<std::size_t> offsets;
  Image img = image_with({text("first block"), text("second block")}, &offsets);
  for (int i = 2; i < 25; ++i) img.append(zlib_stream(text("block " + std::to_string(i))));
  fsdb::ZlibInflater inflater;
  auto found = fsdb::scan_zlib_blocks(img.data, inflater);
  ASSERT_EQ(found.size(), 20u);
  EXPECT_EQ(found[0].offset, offsets[0]);
  EXPECT_EQ(found[1].offset, offsets[1]);
  EXPECT_EQ(found[1].bytes, text("second block"));
  EXPECT_EQ(found.back().bytes, text("block 19"));
}

TEST(BlockTable, EntriesAreBoundedByTheFile) {
  Image img = newer_image(600);
  img.le(fsdb::kHeaderCheckOffset, 84, 4);
  // Kept: (450, 10). Dropped: offset 0, offset past the end. The fourth entry
  // would run past the file and ends the table.
  write_table(img, 400, {{450, 10}, {0, 5}, {5000, 5}, {460, 1}});
  img.data.resize(400 + 24 + 12 * 3 + 6);
  auto fields = fsdb::read_header_fields(img.data);
  EXPECT_EQ(fields.table_offset, 400u);
  auto table = fsdb::read_block_table(img.data, fields.table_offset);
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].offset, 450u);
  EXPECT_EQ(table[0].length, 10u);
  // A table offset near 2^64 must not wrap into the file.
  EXPECT_TRUE(fsdb::read_block_table(img.data, ~std::uint64_t{0} - 3).empty());
  // Header check above 84, or a file under 385 bytes: no table.
  img.le(fsdb::kHeaderCheckOffset, 85, 4);
  EXPECT_EQ(fsdb::read_header_fields(img.data).table_offset, 0u);
  Image small = newer_image(384);
  small.le(fsdb::kTableOffsetField, 100, 8);
  EXPECT_EQ(fsdb::read_header_fields(small.data).table_offset, 0u);
}

RecordTrace load(const Image& img) { return FsdbTrace::parse_modern(img.data); }

TEST(NewerNames, RichThenMarkedThenPlainFirstOccurrenceWins) {
  const ByteVec plain = c_strings({"top.b", "top.a", "abc"});
  const ByteVec marked = cat({c_strings({"top.m", "top.m2", "top.m3", "top.m4", "top.m5", "top.m6"}), text("8C")});
  const ByteVec rich = rich_name_block({"top.a", "top.r"});
  Image img = image_with({plain, marked, rich});
  const auto t = load(img);
  EXPECT_EQ(t.signal_names(),
            (std::vector<std::string>{"top.a", "top.r", "top.m", "top.m2", "top.m3", "top.m4", "top.m5", "top.m6", "top.b",
                                      "abc"}));
  EXPECT_EQ(t.scopes(), (std::vector<std::string>{"top"}));
  EXPECT_EQ(t.signal_id("top.b"), 8u);
}

TEST(NewerNames, BlocksThatAreNotNameBlocks) {
  const ByteVec two_strings = c_strings({"aaa", "bbb", "cc"});
  const ByteVec artefact = c_strings({"csrc", "top.x", "top.y", "top.z"});
  const ByteVec bang_few = cat({c_strings({"top.q", "zz"}), bytes({0x21, 0x00, 0x00})});
  const ByteVec bang_ok = cat({c_strings({"top.k", "top.l", "top.n"}), bytes({0x21, 0x00, 0x00})});
  Image img = image_with({two_strings, artefact, bang_few, bang_ok});
  EXPECT_EQ(load(img).signal_names(), (std::vector<std::string>{"top.k", "top.l", "top.n"}));
}

TEST(NewerNames, TableOffsetsAreNotScannedForNames) {
  std::vector<std::size_t> offsets;
  Image img = image_with({c_strings({"top.a", "top.b", "top.c"}), c_strings({"top.d", "top.e", "top.f"})}, &offsets);
  img.le(fsdb::kHeaderCheckOffset, 10, 4);
  const std::size_t t = img.data.size();
  write_table(img, t, {{static_cast<std::uint32_t>(offsets[0]), 5}});
  EXPECT_EQ(load(img).signal_names(), (std::vector<std::string>{"top.d", "top.e", "top.f"}));
}

TEST(NewerNames, TailScanOnlyWithoutBlockNames) {
  Image img = newer_image(5000);
  img.put(4500, cat({bytes({0x02}), c_strings({"top.t1", "top.t2"}), bytes({0x01})}));
  EXPECT_EQ(load(img).signal_names(), (std::vector<std::string>{"top.t1", "top.t2"}));
  // Outside the last 4096 bytes: not seen.
  Image early = newer_image(5000);
  early.put(100, cat({bytes({0x02}), c_strings({"top.t1"}), bytes({0x01})}));
  EXPECT_TRUE(load(early).signal_names().empty());
  // Names from a block win; the tail is not read.
  Image both = image_with({c_strings({"top.a", "top.b", "top.c"})});
  both.reserve_to(5000);
  both.put(4500, cat({bytes({0x02}), c_strings({"top.t1"}), bytes({0x01})}));
  EXPECT_EQ(load(both).signal_names().size(), 3u);
}

struct WidthCase {
  const char* what;
  ByteVec records;
  std::vector<Width> widths;  // for names a, b, c, d
};

class Widths : public ::testing::TestWithParam<WidthCase> {};

TEST_P(Widths, ByTypeByte) {
  Image img = image_with({rich_name_block({"a", "b", "c", "d"})});
  img.le(fsdb::kHeaderCheckOffset, 84, 4);
  write_widths(img, GetParam().records);
  const auto t = load(img);
  std::vector<Width> got;
  for (const char* n : {"a", "b", "c", "d"}) got.push_back(t.signal_width(n));
  EXPECT_EQ(got, GetParam().widths) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Section, Widths,
    ::testing::Values(
        WidthCase{"types", cat({width_record('C'), width_record('x'), width_record('}'), width_record('Q')}),
                  {8, 16, 32, 1}},
        WidthCase{"D and j", cat({width_record('D'), width_record('j')}), {8, 2, 1, 1}},
        WidthCase{"skipped records", cat({bytes({0x02, 0x01, 0x01, 0x01}), bytes({0x33}), width_record('x')}),
                  {16, 1, 1, 1}},
        WidthCase{"0x21 ends the table", cat({width_record('x'), bytes({0x21}), width_record('x')}), {16, 1, 1, 1}},
        WidthCase{"more records than names",
                  cat({width_record('x'), width_record('x'), width_record('x'), width_record('x'), width_record('}')}),
                  {16, 16, 16, 16}},
        // A 'C' record with fewer than 5 bytes left moves on by 3.
        WidthCase{"short C record at the end", cat({width_record('x'), bytes({0x01, 0x00, 'C', 0x01})}), {16, 8, 1, 1}},
        WidthCase{"type byte past the end", cat({width_record('x'), bytes({0x01, 0x00})}), {16, 1, 1, 1}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(WidthSection, IgnoredWhenItDoesNotFitOrInflate) {
  auto widths_of = [](Image img) {
    const auto t = load(img);
    return t.signal_width("a");
  };
  Image base = image_with({rich_name_block({"a", "b", "c"})});
  base.le(fsdb::kHeaderCheckOffset, 84, 4);
  Image good = base;
  write_widths(good, width_record('x'));
  EXPECT_EQ(widths_of(good), 16u);
  // The stream is cut short by the stated length: the section is ignored.
  Image cut = good;
  const std::size_t w = fsdb::read_le(cut.data, fsdb::kWidthOffsetField, 8);
  cut.le(w, fsdb::read_le(cut.data, w, 4) - 1, 4);
  EXPECT_EQ(widths_of(cut), 1u);
  // A length running past the file.
  Image past = good;
  past.le(w, 1000000, 4);
  EXPECT_EQ(widths_of(past), 1u);
  // A width offset near 2^64.
  Image huge = good;
  huge.le(fsdb::kWidthOffsetField, ~std::uint64_t{0} - 2, 8);
  EXPECT_EQ(widths_of(huge), 1u);
}

TEST(WidthWalk, PiecesGiveTheSameWidthsAsOneFeed) {
  const ByteVec records = cat({width_record('C'), bytes({0x02, 0, 0, 0, 0x44}), width_record('x'),
                               width_record('D'), bytes({0x05}), width_record('}'), width_record('j')});
  fsdb::WidthWalk whole(10);
  whole.feed(records.data(), records.size(), true);
  ASSERT_EQ(whole.widths(), (std::vector<Width>{8, 16, 8, 32, 2}));
  for (std::size_t piece = 1; piece <= 4; ++piece) {
    fsdb::WidthWalk parts(10);
    for (std::size_t i = 0; i < records.size(); i += piece)
      parts.feed(records.data() + i, std::min(piece, records.size() - i), false);
    parts.feed(nullptr, 0, true);
    EXPECT_EQ(parts.widths(), whole.widths()) << piece;
  }
}

}  // namespace
}  // namespace quarn
