#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_values.h"
#include "trace/wlf_layout.h"
#include "trace/wlf_reader.h"
#include "vendor_images.h"

namespace quarn {
namespace {

using test::Bytes;
using test::operator+;
using test::c_strings;
using test::kPage;
using test::plain_page;
using test::raw;
using test::WlfHeaderPage;
using test::WlfText;
using test::WlfValuePage;

using Names = std::vector<std::string>;

RecordTrace load(const Bytes& bytes) { return loaded(WlfTrace::from_bytes(bytes)); }

Bytes file_of(const WlfHeaderPage& header, std::initializer_list<Bytes> pages = {}) {
  Bytes out = header.build();
  for (const Bytes& p : pages) out = out + p;
  return out;
}

/// A header page naming `names` (ids 0, 1, ...).
WlfHeaderPage header_naming(std::initializer_list<std::string_view> names) {
  WlfHeaderPage h;
  h.name_area = c_strings(names);
  return h;
}

Bytes value_page(Bytes records) {
  WlfValuePage p;
  p.records = std::move(records);
  return p.build();
}

/// Values of signal `id` at indices 0 .. max_index, Bits as numbers, Empty as -1.
std::vector<int> values_of(const RecordTrace& t, SignalId id) {
  std::vector<int> out;
  for (Index i = 0; i <= t.max_index(); ++i) {
    const SignalValue v = t.signal_value_by_id(id, i);
    out.push_back(v == SignalValue::empty() ? -1 : static_cast<int>(*to_u64(v)));
  }
  return out;
}

// --- file check and header ---------------------------------------------------

// File checks, read failures and a one-page file: tests/python.

struct HeaderCase {
  const char* what;
  std::uint16_t size_word;
  std::array<WlfText, 3> texts;
  std::size_t page_size;
  std::size_t name_area_start;
};

class WlfHeaderFields : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(WlfHeaderFields, SizeAndNameAreaStart) {
  WlfHeaderPage page;
  page.size_word = GetParam().size_word;
  page.texts = GetParam().texts;
  const WlfHeader h = read_wlf_header(page.build());
  EXPECT_EQ(h.page_size, GetParam().page_size) << GetParam().what;
  EXPECT_EQ(h.name_area_start, GetParam().name_area_start) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, WlfHeaderFields,
    ::testing::Values(
        HeaderCase{"three empty texts", 8192, {}, 8192, 43},
        HeaderCase{"three texts", 8191, {WlfText::of("abc"), WlfText::of("de"), WlfText::of("f")}, 8191, 49},
        HeaderCase{"0xFFFF reads as 8192", 0xFFFF, {}, 8192, 43},
        HeaderCase{"0x2000 reads as 8192", 0x2000, {}, 8192, 43},
        HeaderCase{"0x1FFF kept", 0x1FFF, {}, 0x1FFF, 43},
        // A text with a non-printable byte is rejected: the cursor stays after
        // its length byte, whose text bytes are then read as the next fields.
        // Here "\x00" then 'x' (0x78 = 120 bytes of zeros: rejected) then 0x00.
        HeaderCase{"rejected text re-read as fields", 8192, {WlfText{3, raw(std::string("\x00x\x00", 3))}, {}, {}}, 8192, 43},
        HeaderCase{"text with a tab is rejected", 8192, {WlfText{2, raw("a\t")}, WlfText::of("q"), {}}, 8192, 42 + 1}));

TEST(WlfHeaderFields, TextFieldNeverPassesTheEnd) {
  const Bytes bytes = {3, 'a', 'b'};  // length 3 but only 2 bytes follow
  EXPECT_EQ(skip_wlf_text_field(bytes, 0), 1u);
  EXPECT_EQ(skip_wlf_text_field(bytes, 3), 3u);
  EXPECT_EQ(skip_wlf_text_field(bytes, 99), 3u);
}

// --- names -------------------------------------------------------------------

TEST(WlfNames, HeaderSizeNotPastNameAreaGivesNoHeaderNames) {
  WlfHeaderPage h = header_naming({"top.a"});
  h.size_word = 43;  // == start of the name area
  EXPECT_TRUE(load(file_of(h)).signal_names().empty());
  h.size_word = 49;  // "top.a\0" is 6 bytes from 43: the area ends at the terminator
  EXPECT_EQ(load(file_of(h)).signal_names(), Names{"top.a"});
  h.size_word = 48;  // terminator outside the area
  EXPECT_TRUE(load(file_of(h)).signal_names().empty());
}

struct NamePageCase {
  const char* what;
  std::uint16_t signal_count;
  Names names;
};

class WlfNamePages : public ::testing::TestWithParam<NamePageCase> {};

TEST_P(WlfNamePages, ScannedOnlyWhenHeaderFallsShort) {
  // Header page: "h.a"; page 1: "p1.a"; page 2: value page holding "p2.a";
  // page 3: "p3.a"; page 4: "p4.a" (never scanned for names).
  WlfHeaderPage h = header_naming({"h.a"});
  h.signal_count = GetParam().signal_count;
  WlfValuePage p2;
  p2.records = c_strings({"p2.a"});
  const Bytes file = file_of(h, {plain_page(c_strings({"p1.a"})), p2.build(), plain_page(c_strings({"p3.a"})),
                                 plain_page(c_strings({"p4.a"}))});
  EXPECT_EQ(load(file).signal_names(), GetParam().names) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, WlfNamePages,
    ::testing::Values(NamePageCase{"count 0: header page only", 0, {"h.a"}},
                      NamePageCase{"count met by the header", 1, {"h.a"}},
                      // decided once: page 1 reaches the count, pages 2 and 3 still scanned
                      NamePageCase{"count 2: pages 1 to 3, value page skipped", 2, {"h.a", "p1.a", "p3.a"}},
                      NamePageCase{"count 100: still no page 4", 100, {"h.a", "p1.a", "p3.a"}}));

TEST(WlfNames, NamePagesOnlyAmongWholePages) {
  WlfHeaderPage h = header_naming({"h.a"});
  h.signal_count = 5;
  Bytes file = file_of(h, {plain_page(c_strings({"p1.a"}))});
  file.resize(file.size() + 100);  // partial page 2 with a name is not a page
  std::copy_n(c_strings({"p2.a"}).begin(), 5, file.begin() + 2 * kPage);
  EXPECT_EQ(load(file).signal_names(), (Names{"h.a", "p1.a"}));
}

/// "n0000", "n0001", ...: distinct names of one size.
std::string numbered(std::size_t k) {
  std::string digits = std::to_string(k);
  return "n" + std::string(4 - std::min<std::size_t>(4, digits.size()), '0') + digits;
}

Bytes numbered_names(std::size_t count) {
  Bytes out;
  for (std::size_t k = 0; k < count; ++k) out = out + c_strings({numbered(k)});
  return out;
}

struct LimitCase {
  std::uint16_t signal_count;
  std::size_t in_header;
  std::size_t admitted;
};

class WlfNameLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(WlfNameLimit, AtMostMaxOfCountAndThousand) {
  WlfHeaderPage h;
  h.signal_count = GetParam().signal_count;
  h.name_area = numbered_names(GetParam().in_header);
  const RecordTrace t = load(file_of(h));
  ASSERT_EQ(t.signal_names().size(), GetParam().admitted);
  EXPECT_EQ(t.signal_names().back(), numbered(GetParam().admitted - 1));
  EXPECT_EQ(t.signal_id(t.signal_names().back()), GetParam().admitted - 1);
}

INSTANTIATE_TEST_SUITE_P(Table, WlfNameLimit,
                         ::testing::Values(LimitCase{0, 1005, 1000}, LimitCase{999, 1005, 1000},
                                           LimitCase{1200, 1300, 1200}, LimitCase{1200, 1100, 1100},
                                           LimitCase{0, 1000, 1000}));

TEST(WlfNames, LimitCountsNamesNotDuplicates) {
  // 999 distinct names, a duplicate, then two more: the duplicate uses no slot.
  WlfHeaderPage h;
  h.name_area = numbered_names(999) + c_strings({"n0000", "x.a", "x.b"});
  const RecordTrace t = load(file_of(h));
  EXPECT_EQ(t.signal_names().size(), 1000u);
  EXPECT_EQ(t.signal_names().back(), "x.a");
  EXPECT_EQ(t.scopes(), Names{"x"});
  EXPECT_FALSE(t.signal_id("x.b"));
}

// --- value pages -------------------------------------------------------------

TEST(WlfValuePages, MatchesADenseModelOnRandomRecords) {
  // Reference: the decoding rules applied to a dense table, then forward
  // fill. 0xFF opens an index (across pages too), a number naming a signal
  // takes the next byte (any byte) as its value, the later write at one index
  // wins, filler (0) and numbers past the names take one byte, and a page's
  // last record byte is never examined.
  constexpr std::size_t kNames = 6;
  std::uint32_t seed = 99;
  auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 24; };
  for (int round = 0; round < 40; ++round) {
    std::vector<Bytes> pages(1 + next() % 3);
    for (Bytes& records : pages) {
      records.resize(20 + next() % 200);
      // Mostly small numbers (signals, filler), some time steps and strays.
      for (auto& b : records) b = next() % 4 == 0 ? 0xFF : static_cast<std::uint8_t>(next() % 9);
    }
    std::vector<std::vector<int>> model(kNames, std::vector<int>(1, -1));
    std::size_t t = 0;
    for (const Bytes& r : pages) {
      for (std::size_t i = 0; i + 1 < r.size();) {
        if (r[i] == 0xFF) {
          ++t;
          for (auto& col : model) col.push_back(-1);
          ++i;
        } else if (r[i] != 0 && r[i] < kNames) {
          model[r[i]][t] = r[i + 1];
          i += 2;
        } else {
          ++i;
        }
      }
    }
    for (auto& col : model)
      for (std::size_t k = 1; k < col.size(); ++k)
        if (col[k] < 0) col[k] = col[k - 1];

    Bytes file = header_naming({"s0", "s1", "s2", "s3", "s4", "s5"}).build();
    for (const Bytes& records : pages) file = file + value_page(records);
    const RecordTrace t_loaded = load(file);
    ASSERT_EQ(t_loaded.max_index(), t) << "round " << round;
    EXPECT_EQ(t_loaded.timestamp(t), t) << "round " << round;  // the index is the time
    for (SignalId id = 0; id < kNames; ++id) ASSERT_EQ(values_of(t_loaded, id), model[id]) << "round " << round;
  }
}

struct PageCase {
  const char* what;
  WlfValuePage page;
  std::vector<int> s1;  // values_of signal 1
};

TEST(WlfValuePages, PageTestAndRecordArea) {
  const Bytes set_42 = {0xFF, 1, 42, 0};  // s1 := 42 at index 1, if decoded
  // A count beyond the page is clamped to the 8176 bytes that exist; the
  // last byte of the page is FF.
  // (Set in place: g++ 12 warns wrongly on an insert at the end here.)
  Bytes to_page_end(kPage - 16, 0);
  to_page_end[kPage - 16 - 3] = 1;
  to_page_end[kPage - 16 - 2] = 9;
  to_page_end[kPage - 16 - 1] = 0xFF;
  // Fields in order: marker, record count (unset: the records' size),
  // reserved fill, records, bytes after the records.
  const PageCase cases[] = {
      {"no marker", {false, {}, 0x11, set_42, {}}, {-1}},
      // Non-zero bytes: 2 marker + 1 count + 3 records + 9 after = 15, one too few.
      {"under 16 non-zero bytes", {true, {}, 0, set_42, Bytes(9, 0x01)}, {-1}},
      {"record count below 2", {true, 1, 0x11, set_42, {}}, {-1}},
      // The page test counts all 8192 bytes: bytes after the records lift a
      // sparse page over the threshold without being decoded themselves.
      {"exactly 16 non-zero bytes", {true, {}, 0, set_42, Bytes(10, 0x01)}, {-1, 42}},
      {"bytes past the count ignored", {true, {}, 0x11, {1, 5, 0xFF, 0}, {1, 6, 0xFF, 0}}, {5, 5}},
      {"count clamped to the page", {true, 0xFFFF, 0x11, to_page_end, {}}, {9}},
  };
  for (const PageCase& c : cases)
    EXPECT_EQ(values_of(load(file_of(header_naming({"s0", "s1"}), {c.page.build()})), 1), c.s1) << c.what;
}

TEST(WlfValuePages, PartialLastPageIgnored) {
  Bytes file = file_of(header_naming({"s0", "s1"}), {value_page({1, 5, 0xFF, 0})});
  const Bytes extra = value_page({0xFF, 1, 6, 0});
  file.insert(file.end(), extra.begin(), extra.end() - 1);  // one byte short of a page
  const RecordTrace t = load(file);
  EXPECT_EQ(values_of(t, 1), (std::vector<int>{5, 5}));
}

// Damaged files: the fuzz target (fuzz/fuzz_wlf.cpp).

}  // namespace
}  // namespace quarn
