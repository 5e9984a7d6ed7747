#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_values.h"
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

RecordTrace load(const Bytes& bytes) { return loaded(VpdTrace::from_bytes(bytes)); }

// File checks and read failures are in tests/python.

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
        BlockCase{"offsets under 128 ignored", {100, 100, 100}, 128, {}},
        BlockCase{"offsets far past the end ignored", {0xFFFFFFFF, 0x80000000, 150}, 160, {{150, 10}}},
        BlockCase{"last slot counts", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 140}, 150, {{140, 10}}}));

// --- name blocks -------------------------------------------------------------

TEST(VpdReader, NamesInBlockOffsetOrderOnceWithFirstId) {
  VpdImage image;
  image.block(0, 600, vpd_block("WithMask", c_strings({"top.b", "top.a"})))
      .block(7, 300, vpd_block("FoldedTop", c_strings({"top.a", "top.u1.clk"})));
  const RecordTrace t = load(image.build());
  EXPECT_EQ(t.signal_names(), (Names{"FoldedTop", "top.a", "top.u1.clk", "WithMask", "top.b"}));
  EXPECT_EQ(t.scopes(), (Names{"top", "top.u1"}));
  EXPECT_EQ(t.signal_id("top.a"), 1u);
  EXPECT_EQ(t.signal_id("top.b"), 4u);
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

// Damaged files: the fuzz target (fuzz/fuzz_vpd.cpp).

}  // namespace
}  // namespace quarn
