// SHM design files: the string scan, the name test, and the record walk over
// byte images built field by field.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <variant>
#include <vector>

#include "shm_images.h"
#include "test_values.h"
#include "trace/shm_design.h"
#include "trace/shm_facts.h"

namespace quarn {
namespace {

using namespace shm_test;
using Strings = std::vector<std::string>;

// ---- String scan -------------------------------------------------------------

struct ScanCase {
  const char* label;
  std::string data;
  std::size_t start, end;
  Strings expected;
};

class ExtractStrings : public testing::TestWithParam<ScanCase> {};

TEST_P(ExtractStrings, FindsPrintableRunsUpToNul) {
  const ScanCase& c = GetParam();
  EXPECT_EQ(shm::extract_strings(c.data, c.start, c.end), c.expected);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractStrings,
    testing::Values(
        ScanCase{"two_strings", "ab\0cd\0"s, 0, 6, {"ab", "cd"}},
        ScanCase{"control_bytes_skipped", "\x01\x7F" "ab\0"s, 0, 5, {"ab"}},
        ScanCase{"runs_past_range_to_nul", "abcdef\0"s, 0, 3, {"abcdef"}},
        ScanCase{"no_nul_stops_at_range_end", "abcdef"s, 0, 3, {"abc"}},
        ScanCase{"no_nul_stops_at_data_end", "abc"s, 0, 10, {"abc"}},
        ScanCase{"later_bytes_may_be_unprintable", "a\x01\x7F\x05z\0"s, 0, 6, {"a\x01\x7F\x05z"}},
        ScanCase{"invalid_utf8_dropped", "a\xFF\0bc\0"s, 0, 6, {"bc"}},
        ScanCase{"valid_utf8_kept", "a\xC3\xA9\0"s, 0, 4, {"a\xC3\xA9"}},
        ScanCase{"starts_mid_string", "xyz\0"s, 1, 4, {"yz"}},
        ScanCase{"resumes_after_terminator", "ab\0\0\0cd"s, 0, 7, {"ab", "cd"}},
        ScanCase{"start_past_data", "ab\0"s, 10, 20, {}},
        ScanCase{"empty_range", "ab\0"s, 2, 1, {}}),
    [](const testing::TestParamInfo<ScanCase>& i) { return std::string(i.param.label); });

// ---- Name test ---------------------------------------------------------------

class NameTest : public testing::TestWithParam<std::pair<const char*, bool>> {};

TEST_P(NameTest, AcceptsIdentifiersOnly) {
  EXPECT_EQ(shm::is_signal_name(GetParam().first), GetParam().second) << GetParam().first;
}

INSTANTIATE_TEST_SUITE_P(Cases, NameTest,
                         testing::Values(std::pair{"top.u1.q[3]", true}, std::pair{"_n$1", true},
                                         std::pair{"f(x)", true}, std::pair{"Z", true},
                                         std::pair{"9lives", false}, std::pair{"a-b", false},
                                         std::pair{"x y", false}, std::pair{"a\\b", false},
                                         std::pair{"", false}, std::pair{"$x", false},
                                         std::pair{".a", false}, std::pair{"a\xC3\xA9", false}));

// ---- Whole design files ------------------------------------------------------

shm::ShmDesign design_of(const std::string& bytes) { return loaded(shm::read_design(bytes)); }

struct MagicCase {
  const char* label;
  std::size_t size;
  std::uint32_t magic;
  std::string error;  // empty: loads without names
};

class DesignMagic : public testing::TestWithParam<MagicCase> {};

TEST_P(DesignMagic, ChecksMagicFrom128Bytes) {
  const MagicCase& c = GetParam();
  DsnImage d(c.magic);
  d.record(kSignal, "clk");
  d.bytes.resize(c.size, '\0');
  auto r = shm::read_design(d.bytes);
  if (c.error.empty()) {
    ASSERT_TRUE(std::holds_alternative<shm::ShmDesign>(r));
    EXPECT_TRUE(std::get<shm::ShmDesign>(r).names.empty());
  } else {
    ASSERT_TRUE(std::holds_alternative<std::string>(r));
    EXPECT_EQ(std::get<std::string>(r), c.error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DesignMagic,
    testing::Values(MagicCase{"short_zero_file", 100, 0, ""}, MagicCase{"short_127", 127, 0xDEADBEEF, ""},
                    MagicCase{"zero_magic", 128, 0, "Bad DSN magic: 0x00000000"},
                    MagicCase{"upper_case_hex", 200, 0xdeadbeef, "Bad DSN magic: 0xDEADBEEF"},
                    MagicCase{"zero_padded", 200, 0xABCD, "Bad DSN magic: 0x0000ABCD"},
                    MagicCase{"too_short_for_records", 139, kMagic, ""}),
    [](const testing::TestParamInfo<MagicCase>& i) { return std::string(i.param.label); });

// Handling of a record naming "top_a" by its tag.
struct TagCase {
  std::uint32_t tag;
  bool scope, signal;
};

class RecordTag : public testing::TestWithParam<TagCase> {};

TEST_P(RecordTag, HandlingFollowsKindName) {
  DsnImage d;
  d.record(GetParam().tag, "top_a");
  const auto design = design_of(d.bytes);
  EXPECT_EQ(design.scopes, GetParam().scope ? Strings{"top_a"} : Strings{});
  EXPECT_EQ(design.names, GetParam().signal ? Strings{"top_a"} : Strings{});
}

// One tag of each handling, the second byte's variants, and one unlisted.
INSTANTIATE_TEST_SUITE_P(Cases, RecordTag,
                         testing::Values(TagCase{0x070501, true, false}, TagCase{0x270501, true, false},
                                         TagCase{0x090700, false, true}, TagCase{0x290700, false, true},
                                         TagCase{0x0F0400, false, false}, TagCase{0x090701, false, false}));

TEST(DesignWalk, SignalRecordAdmitsFirstNewNameAtText) {
  DsnImage d;
  const std::size_t at = d.header(kSignal, 0, 0);
  const std::size_t t = d.text("9bad");
  d.text("good");
  d.text("other");
  put32(d.bytes, at + 4, static_cast<std::uint32_t>(d.size()));
  put32(d.bytes, at + 8, static_cast<std::uint32_t>(t));
  EXPECT_EQ(design_of(d.bytes).names, (Strings{"good"}));
}

TEST(DesignWalk, SignalRecordWithoutUsableTextAdmitsEveryRecordString) {
  for (std::uint32_t text : {0xFFFFFFu, 4u /* before the record */}) {
    DsnImage d;
    const std::size_t at = d.header(kSignal, 0, text);
    d.text("alpha");
    d.text("9no");
    d.text("beta");
    put32(d.bytes, at + 4, static_cast<std::uint32_t>(d.size()));
    EXPECT_EQ(design_of(d.bytes).names, (Strings{"alpha", "beta"})) << "Text " << text;
  }
}

TEST(DesignWalk, KnownNameKeepsItsIdAndIsNotAdmittedAgain) {
  DsnImage d;
  d.record(kSignal, "clk");
  d.record(kSignal, "rst");
  d.record(kSignal, "clk");
  d.record(kSignal, "data");
  const auto design = design_of(d.bytes);
  EXPECT_EQ(design.names, (Strings{"clk", "rst", "data"}));
  EXPECT_EQ(design.name_to_id.at("clk"), 0u);
  EXPECT_EQ(design.name_to_id.at("data"), 2u);
}

TEST(DesignWalk, ScopesKeepDuplicatesAndDropOneByteStrings) {
  DsnImage d;
  d.record(kScopeDef, "top");
  d.record(kScopeInst, "top");
  d.record(kScopeDef, "u");
  const std::size_t at = d.header(kScopeInst, 0, 0);
  d.text("a");
  d.text("cpu");
  put32(d.bytes, at + 4, static_cast<std::uint32_t>(d.size()));
  EXPECT_EQ(design_of(d.bytes).scopes, (Strings{"top", "top", "cpu"}));
}

TEST(DesignWalk, ZeroWordsAreSkippedFourBytesAtATime) {
  DsnImage d;
  d.pad_to(136);
  d.record(kSignal, "late");
  EXPECT_EQ(design_of(d.bytes).names, (Strings{"late"}));
}

TEST(DesignWalk, FollowsNextOverBytesBetweenRecords) {
  DsnImage d;
  const std::size_t a = d.record(kSignal, "first");
  d.record(kSignal, "skipped");  // reached only by scanning, never by Next
  const std::size_t c = d.record(kSignal, "third");
  put32(d.bytes, a + 4, static_cast<std::uint32_t>(c));
  EXPECT_EQ(design_of(d.bytes).names, (Strings{"first", "third"}));
}

// A record whose Next is unusable is followed by a search for the next record
// start within reach, never by a jump.
struct ResyncCase {
  const char* label;
  std::uint32_t next;      // of the first record (at 128)
  std::size_t distance;    // from 128 to the signal record
  bool found;
};

class DesignResync : public testing::TestWithParam<ResyncCase> {};

TEST_P(DesignResync, SearchesForwardWithinReach) {
  const ResyncCase& c = GetParam();
  DsnImage d;
  d.header(kSourceFile, c.next, 0);
  d.pad_to(128 + c.distance);
  d.record(kSignal, "target");
  d.pad(64);
  EXPECT_EQ(design_of(d.bytes).names, c.found ? Strings{"target"} : Strings{});
}

INSTANTIATE_TEST_SUITE_P(Cases, DesignResync,
                         testing::Values(ResyncCase{"self", 128, 16, true}, ResyncCase{"backwards", 4, 16, true},
                                         ResyncCase{"past_end", 0x7FFFFFFF, 16, true},
                                         ResyncCase{"last_position_in_reach", 128, 1032, true},
                                         ResyncCase{"out_of_reach", 128, 1036, false}),
                         [](const testing::TestParamInfo<ResyncCase>& i) { return std::string(i.param.label); });

TEST(DesignWalk, RecordWithoutNextReadsStringsWithin256Bytes) {
  DsnImage d;
  d.header(kSignal, 0, 0);
  d.text("near");
  d.pad_to(128 + 250);
  d.bytes += "straddle";  // starts inside the range, ends past it
  d.bytes.push_back('\0');
  d.pad_to(128 + 300);
  d.text("far");
  d.pad(16);
  EXPECT_EQ(design_of(d.bytes).names, (Strings{"near", "straddle"}));
}

// ---- Malformed files -----------------------------------------------------------

// Every name admitted from any file passes the name test and is unique, and
// its id is its position; anything else means the walk read garbage as state.
void expect_consistent(const shm::ShmDesign& d) {
  std::set<std::string> seen;
  for (std::size_t i = 0; i < d.names.size(); ++i) {
    EXPECT_TRUE(shm::is_signal_name(d.names[i])) << d.names[i];
    EXPECT_TRUE(seen.insert(d.names[i]).second) << d.names[i];
    EXPECT_EQ(d.name_to_id.at(d.names[i]), i);
  }
  EXPECT_EQ(d.name_to_id.size(), d.names.size());
}

std::string rich_design() {
  DsnImage d;
  d.record(0x010102, "meta");
  d.record(kScopeDef, "top");
  d.record(kSignal, "top.clk");
  d.record(0x290700, "top.data[3]");
  d.header(kSignal, 3, 0x10);  // backwards Next and Text
  d.text("loose");
  d.record(kScopeInst, "top.u1");
  d.record(kSignal, "top.u1.q");
  return d.bytes;
}

TEST(DesignWalk, EveryTruncationLoadsAPrefixOfTheNames) {
  const std::string full = rich_design();
  const Strings all = design_of(full).names;
  // The record without Next reads 256 bytes on, which admits "top.u1" (a
  // scope's text) and "top.u1.q" before their own records are reached.
  ASSERT_EQ(all, (Strings{"top.clk", "top.data[3]", "loose", "top.u1", "top.u1.q"}));
  for (std::size_t n = 0; n <= full.size(); ++n) {
    auto r = shm::read_design(std::string_view(full).substr(0, n));
    ASSERT_TRUE(std::holds_alternative<shm::ShmDesign>(r)) << n;
    const auto& names = std::get<shm::ShmDesign>(r).names;
    expect_consistent(std::get<shm::ShmDesign>(r));
    // A truncated name may appear shortened but never out of order.
    ASSERT_LE(names.size(), all.size()) << n;
    for (std::size_t i = 0; i + 1 < names.size(); ++i) EXPECT_EQ(names[i], all[i]) << n;
  }
}

// Mutated files: the fuzz target (fuzz/fuzz_shm.cpp).

// Crafted file: every record's Text points one byte further into one long
// run without a NUL, so each could admit a name as long as the run. The walk
// must stay within a memory budget proportional to the file instead of
// admitting records x run-length bytes (here 4 GB).
TEST(DesignWalk, NamesRunningToOneFarNulStayWithinBudget) {
  constexpr std::size_t kRecords = 20000, kRun = 200000;
  DsnImage d;
  std::vector<std::size_t> at;
  for (std::size_t k = 0; k < kRecords; ++k) at.push_back(d.header(kSignal, 0, 0));
  const std::size_t run = d.size();
  d.bytes.append(kRun, 'a');
  for (std::size_t k = 0; k < kRecords; ++k) {
    const std::size_t next = k + 1 < kRecords ? at[k + 1] : run;
    put32(d.bytes, at[k] + 4, static_cast<std::uint32_t>(next));
    put32(d.bytes, at[k] + 8, static_cast<std::uint32_t>(run + k));
  }
  const auto design = design_of(d.bytes);
  std::size_t total = 0;
  for (const auto& n : design.names) total += n.size();
  EXPECT_FALSE(design.names.empty());
  EXPECT_LE(total, 16 * d.size() + (std::size_t{16} << 20));
}

}  // namespace
}  // namespace quarn
