#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "trace/vpd_layout.h"
#include "trace/vpd_reader.h"
#include "vendor_images.h"

namespace quarn {
namespace {

using test::Bytes;
using test::operator+;
using test::c_strings;
using test::raw;
using test::VpdImage;
using test::vpd_block;

using Names = std::vector<std::string>;

RecordTrace load(const Bytes& bytes) {
  auto result = VpdTrace::from_bytes(bytes);
  if (auto* error = std::get_if<std::string>(&result)) ADD_FAILURE() << "unexpected failure: " << *error;
  return std::get<RecordTrace>(std::move(result));
}

std::string failure(const Bytes& bytes) {
  auto result = VpdTrace::from_bytes(bytes);
  if (!std::holds_alternative<std::string>(result)) return "(loaded)";
  return std::get<std::string>(result);
}

// --- file check --------------------------------------------------------------

struct RejectCase {
  const char* what;
  Bytes bytes;
  const char* message;
};

class VpdRejects : public ::testing::TestWithParam<RejectCase> {};

TEST_P(VpdRejects, WithExactMessage) { EXPECT_EQ(failure(GetParam().bytes), GetParam().message) << GetParam().what; }

Bytes with_start(Bytes start, std::size_t size) {
  start.resize(size, 0);
  return start;
}

INSTANTIATE_TEST_SUITE_P(
    Table, VpdRejects,
    ::testing::Values(
        RejectCase{"127 bytes, right magic", with_start({0x78, 0x56, 0x34, 0x12}, 127), "VPD file too small"},
        RejectCase{"empty", {}, "VPD file too small"},
        RejectCase{"zero magic", Bytes(128, 0), "Not a VPD file (magic=0x00000000)"},
        RejectCase{"executable header", with_start({0x4D, 0x5A, 0x90, 0x00}, 200), "Not a VPD file (magic=0x00905A4D)"},
        RejectCase{"magic stored big-endian", with_start({0x12, 0x34, 0x56, 0x78}, 128),
                   "Not a VPD file (magic=0x78563412)"},
        RejectCase{"upper-case hex", with_start({0xEF, 0xBE, 0xAD, 0xDE}, 128), "Not a VPD file (magic=0xDEADBEEF)"}));

TEST(VpdReader, ReadFailuresNameThePath) {
  const std::string missing = "/nonexistent-dir/x.vpd";
  auto r = VpdTrace::from_file(missing);
  ASSERT_TRUE(std::holds_alternative<std::string>(r));
  EXPECT_EQ(std::get<std::string>(r), "Failed to read " + missing + ": No such file or directory");

  // The part before the NUL names a real directory; it must not be read.
  const std::string with_nul = std::string("/tmp\0x.vpd", 10);
  auto n = VpdTrace::from_file(with_nul);
  ASSERT_TRUE(std::holds_alternative<std::string>(n));
  EXPECT_EQ(std::get<std::string>(n), "Failed to read " + with_nul + ": Invalid argument");

  const std::string dir = std::filesystem::temp_directory_path().string();
  auto d = VpdTrace::from_file(dir);
  ASSERT_TRUE(std::holds_alternative<std::string>(d));
  EXPECT_EQ(std::get<std::string>(d), "Failed to read " + dir + ": Is a directory");
}

TEST(VpdReader, LoadsFromFileLikeFromBytes) {
  const Bytes bytes = VpdImage{}.block(0, 200, vpd_block("FoldedTop", c_strings({"top.clk"}))).build();
  const auto path = std::filesystem::temp_directory_path() / "quarn_vpd_reader_test.vpd";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  auto r = VpdTrace::from_file(path.string());
  std::filesystem::remove(path);
  ASSERT_TRUE(std::holds_alternative<RecordTrace>(r));
  EXPECT_EQ(std::get<RecordTrace>(r).signal_names(), (Names{"FoldedTop", "top.clk"}));
}

TEST(VpdReader, MinimalFileLoadsEmpty) {
  // No offset can be both above 128 and below the size of a 128-byte file.
  VpdImage image;
  image.block_offsets.fill(100);
  const RecordTrace t = load(image.build());
  EXPECT_TRUE(t.signal_names().empty());
  EXPECT_TRUE(t.scopes().empty());
  EXPECT_EQ(t.record().timestamps, std::vector<Time>{0});
  EXPECT_EQ(t.max_index(), 0u);
}

// --- block selection ---------------------------------------------------------

struct BlockCase {
  const char* what;
  std::vector<std::uint32_t> offsets;  // slots 0.. in order
  std::size_t file_size;
  std::vector<VpdBlock> blocks;
};

class VpdBlockSelection : public ::testing::TestWithParam<BlockCase> {};

TEST_P(VpdBlockSelection, SortsFiltersAndBounds) {
  VpdImage image;
  std::copy(GetParam().offsets.begin(), GetParam().offsets.end(), image.block_offsets.begin());
  image.min_size = GetParam().file_size;
  const auto blocks = vpd_blocks(image.build());
  ASSERT_EQ(blocks.size(), GetParam().blocks.size()) << GetParam().what;
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    EXPECT_EQ(blocks[k].offset, GetParam().blocks[k].offset) << GetParam().what << " block " << k;
    EXPECT_EQ(blocks[k].size, GetParam().blocks[k].size) << GetParam().what << " block " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, VpdBlockSelection,
    ::testing::Values(
        BlockCase{"sorted, not slot order", {500, 200, 300}, 600, {{200, 100}, {300, 200}, {500, 100}}},
        BlockCase{"duplicates make one block", {300, 300, 200}, 400, {{200, 100}, {300, 100}}},
        BlockCase{"128 itself and the file size excluded", {128, 129, 400}, 400, {{129, 271}}},
        BlockCase{"unused slots (0) ignored", {0, 0, 0}, 400, {}},
        BlockCase{"offsets far past the end ignored", {0xFFFFFFFF, 0x80000000, 150}, 160, {{150, 10}}},
        BlockCase{"last slot counts", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 140}, 150, {{140, 10}}}));

// --- name blocks -------------------------------------------------------------

TEST(VpdReader, NamesInBlockOffsetOrderOnceWithFirstId) {
  VpdImage image;
  image.block(0, 600, vpd_block("WithMask", c_strings({"top.b", "top.a"})))
      .block(7, 300, vpd_block("FoldedTop", c_strings({"top.a", "top.u1.clk"})));
  const RecordTrace t = load(image.build());
  EXPECT_EQ(t.signal_names(), (Names{"FoldedTop", "top.a", "top.u1.clk", "WithMask", "top.b"}));
  EXPECT_EQ(t.signal_id("top.a"), 1u);
  EXPECT_EQ(t.signal_id("top.b"), 4u);
  EXPECT_EQ(t.scopes(), (Names{"top", "top.u1"}));
  EXPECT_EQ(t.signal_width("top.u1.clk"), 1u);
  EXPECT_EQ(t.signal_value("top.u1.clk", 0), SignalValue::empty());
  EXPECT_EQ(t.signal_value_by_id(0, 0), SignalValue::empty());
}

struct HeadCase {
  const char* what;
  Bytes block;  // head and body
  Names names;  // what the file yields
};

class VpdNameBlock : public ::testing::TestWithParam<HeadCase> {};

TEST_P(VpdNameBlock, DecidedByTheHead) {
  VpdImage image;
  image.block(0, 256, GetParam().block);
  EXPECT_EQ(load(image.build()).signal_names(), GetParam().names) << GetParam().what;
}

Bytes padded_head(Bytes head) {
  head.resize(128, 0);
  return head;
}

const Bytes kBody = c_strings({"sig.one", "sig.two"});

INSTANTIATE_TEST_SUITE_P(
    Table, VpdNameBlock,
    ::testing::Values(
        HeadCase{"marker inside a longer string", padded_head(c_strings({"xxFoldedTopyy"})) + kBody,
                 {"xxFoldedTopyy", "sig.one", "sig.two"}},
        HeadCase{"marker after a leading space", padded_head(c_strings({"  WithMask"})) + kBody,
                 {"WithMask", "sig.one", "sig.two"}},
        HeadCase{"marker is case-sensitive", padded_head(c_strings({"foldedtop"})) + kBody, {}},
        HeadCase{"marker ended by 0x01 is no header string", padded_head(raw("FoldedTop\x01")) + kBody, {}},
        HeadCase{"marker run crossing the head end", Bytes(120, 0) + c_strings({"FoldedTop"}) + kBody, {}},
        HeadCase{"marker behind a dropped run", padded_head(raw("zz\x81" "WithMask") + Bytes{0}) + kBody,
                 {"WithMask", "sig.one", "sig.two"}},
        HeadCase{"three head identifiers: skipped despite its body", padded_head(c_strings({"h1", "h2", "h3"})) + kBody,
                 {}},
        HeadCase{"four head identifiers: whole block scanned",
                 padded_head(c_strings({"h1", "h2", "h3", "h4"})) + kBody, {"h1", "h2", "h3", "h4", "sig.one", "sig.two"}},
        HeadCase{"head identifiers must end inside the head", Bytes(116, 0) + c_strings({"h1", "h2", "h3", "h40"}), {}},
        HeadCase{"short block: head is the whole block", c_strings({"FoldedTop", "a.b"}), {"FoldedTop", "a.b"}}));

TEST(VpdReader, BlockEndsAtTheNextOffset) {
  // A name running across the start of the next block is cut there: it is
  // unterminated in the first block and the second block's head is no name block.
  Bytes first = vpd_block("FoldedTop", c_strings({"top.x"}) + raw("top.cut"));
  VpdImage image;
  image.block(0, 200, first).block(1, static_cast<std::uint32_t>(200 + first.size()), c_strings({"tail"}) + Bytes(200, 0));
  EXPECT_EQ(load(image.build()).signal_names(), (Names{"FoldedTop", "top.x"}));
}

struct HeaderStringCase {
  const char* what;
  Bytes head;
  std::vector<std::string> strings;
};

class VpdHeaderStrings : public ::testing::TestWithParam<HeaderStringCase> {};

TEST_P(VpdHeaderStrings, TerminatedRunsOfThreeBytes) {
  std::vector<std::string> got;
  for (auto s : vpd_header_strings(GetParam().head)) got.emplace_back(s);
  EXPECT_EQ(got, GetParam().strings) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, VpdHeaderStrings,
    ::testing::Values(HeaderStringCase{"two bytes too short", c_strings({"ab", "abc"}), {"abc"}},
                      HeaderStringCase{"may start with a space", c_strings({" ab"}), {" ab"}},
                      HeaderStringCase{"no name rules", c_strings({"9/(x"}), {"9/(x"}},
                      HeaderStringCase{"ended by 0x01: dropped, resumes after", raw("abc\x01" "def") + Bytes{0}, {"def"}},
                      HeaderStringCase{"unterminated at the end", c_strings({"abc"}) + raw("def"), {"abc"}},
                      HeaderStringCase{"non-printable skipped", Bytes{0x90, 0x05} + c_strings({"abc"}), {"abc"}}));

// --- damaged files -----------------------------------------------------------

TEST(VpdReader, TruncatedAndMutatedImagesLoad) {
  // Every truncation of a valid image keeps loading (or is too small); byte
  // flips anywhere after the magic never make the load fail.
  VpdImage image;
  image.block(0, 300, vpd_block("FoldedTop", c_strings({"top.a", "top.b"})))
      .block(1, 150, padded_head(c_strings({"h1", "h2", "h3", "h4"})));
  const Bytes good = image.build();
  for (std::size_t size = 0; size <= good.size(); ++size) {
    const Bytes cut(good.begin(), good.begin() + size);
    auto r = VpdTrace::from_bytes(cut);
    EXPECT_EQ(std::holds_alternative<RecordTrace>(r), size >= 128) << size;
  }
  std::uint32_t seed = 12345;
  for (int round = 0; round < 2000; ++round) {
    Bytes bad = good;
    for (int k = 0; k < 8; ++k) {
      seed = seed * 1664525u + 1013904223u;
      bad[4 + (seed >> 8) % (bad.size() - 4)] = static_cast<std::uint8_t>(seed >> 24);
    }
    auto r = VpdTrace::from_bytes(bad);
    ASSERT_TRUE(std::holds_alternative<RecordTrace>(r)) << "round " << round;
    for (const auto& name : std::get<RecordTrace>(r).signal_names()) ASSERT_GE(name.size(), 2u);
  }
}

}  // namespace
}  // namespace quarn
