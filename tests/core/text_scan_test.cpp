// Text primitives of the readers: Unicode White_Space trimming and splitting,
// UTF-8 validation, and the strict decimal and real number readings.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "signal/signal_value.h"
#include "trace/text_scan.h"

namespace quarn {
namespace {

struct TrimCase {
  std::string in, want;
};

TEST(TrimWhiteSpace, UnicodeWhiteSpaceOnly) {
  const TrimCase cases[] = {
      {" \t\n\v\f\r", ""},
      {" \t a b \n", "a b"},
      {"\u0085\u00A0x\u1680\u2000", "x"},
      {"\u200A\u2028x\u2029\u202F", "x"},
      {"\u205F\u3000x\u2009", "x"},
      // Not White_Space: zero-width space, BOM, Mongolian vowel separator,
      // word joiner, neighbours of white space code points, and characters
      // whose last byte is 0x85 or 0xA0.
      {"\u200Bx\u200B", "\u200Bx\u200B"},
      {"\uFEFF\u180Ex\u2060", "\uFEFF\u180Ex\u2060"},
      {"\u00A1\u1681x\u2080\u3080", "\u00A1\u1681x\u2080\u3080"},
      {"x\u0145\u0160", "x\u0145\u0160"},
  };
  for (const auto& c : cases) EXPECT_EQ(trim_white_space(c.in), c.want) << "input \"" << c.in << "\"";
}

struct SplitCase {
  std::string in;
  std::size_t max_fields;
  std::vector<std::string> want;
};

TEST(SplitWhiteSpace, FieldsBetweenRuns) {
  const SplitCase cases[] = {
      {" \u3000 ", 5, {}},
      {"a  b\tc", 5, {"a", "b", "c"}},
      {"  a\u00A0b\u3000\u2028c  ", 5, {"a", "b", "c"}},
      {"a\u200Bb c", 5, {"a\u200Bb", "c"}},
      {"\u00e9\u0085\u20ac", 5, {"\u00e9", "\u20ac"}},
      {"a b c d", 2, {"a", "b"}},
  };
  for (const auto& c : cases) {
    std::string_view out[8];
    const std::size_t n = split_white_space(c.in, out, c.max_fields);
    EXPECT_EQ(std::vector<std::string>(out, out + n), c.want) << "input \"" << c.in << "\"";
  }
}

TEST(IsValidUtf8, AcceptsWellFormedOnly) {
  const std::pair<std::string, bool> cases[] = {
      {"plain ascii, longer than eight bytes", true},
      {"\u00e9\u20ac\U0001F600", true},
      {"\xF4\x8F\xBF\xBF", true},  // U+10FFFF
      {"\xED\x9F\xBF", true},      // U+D7FF
      {"\xEE\x80\x80", true},      // U+E000
      {"\xC0\x80", false},          // overlong
      {"\xE0\x9F\xBF", false},      // overlong
      {"\xF0\x8F\xBF\xBF", false},  // overlong
      {"\xED\xA0\x80", false},      // surrogate U+D800
      {"\xED\xBF\xBF", false},      // surrogate U+DFFF
      {"\xF4\x90\x80\x80", false},  // U+110000
      {"\xF5\x80\x80\x80", false},
      {"\xFF", false},
      {"12345678\x80", false},  // lone continuation after an ASCII run
      {"abcdefgh\xC3", false},  // truncated
      {"\xE2\x28\xA1", false},
      {"\xE2\x82\x28", false},
      {"\xF0\x9F\x98\x28", false},
  };
  // A sequence cut short by the end of the view, not of the buffer.
  const std::string whole = "a\u00e9\u20ac\U0001F600";
  for (std::size_t len : {2, 4, 5, 7, 8, 9}) EXPECT_FALSE(is_valid_utf8(std::string_view(whole).substr(0, len))) << len;
  for (std::size_t len : {1, 3, 6, 10}) EXPECT_TRUE(is_valid_utf8(std::string_view(whole).substr(0, len))) << len;
  for (const auto& [s, want] : cases) {
    std::string hex;
    for (unsigned char c : s) hex += std::to_string(c) + " ";
    EXPECT_EQ(is_valid_utf8(s), want) << "bytes " << hex;
  }
}

TEST(ParseDecimal, OptionalPlusThenDigitsOnly) {
  const std::optional<std::uint64_t> no;
  const std::pair<std::string, std::optional<std::uint64_t>> u64_cases[] = {
      {"+0", 0},  {"00012", 12},  {"18446744073709551615", std::numeric_limits<std::uint64_t>::max()},
      {"18446744073709551616", no}, {"99999999999999999999999", no}, {"", no}, {"+", no}, {"++1", no},
      {"-1", no}, {"1+", no}, {" 1", no}, {"1 ", no}, {"0x10", no}, {"1e3", no}, {"\u0663", no},
  };
  for (const auto& [s, want] : u64_cases) EXPECT_EQ(parse_decimal_u64(s), want) << "u64 \"" << s << "\"";
  const std::pair<std::string, std::optional<std::uint32_t>> u32_cases[] = {
      {"+7", 7}, {"4294967295", 4294967295u}, {"4294967296", std::nullopt},
      {"18446744073709551616", std::nullopt}, {"-1", std::nullopt}, {"", std::nullopt},
  };
  for (const auto& [s, want] : u32_cases) EXPECT_EQ(parse_decimal_u32(s), want) << "u32 \"" << s << "\"";
}

std::uint64_t bits_of(double d) {
  std::uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  return u;
}

TEST(ParseReal, AcceptedFormsCorrectlyRounded) {
  const double inf = std::numeric_limits<double>::infinity();
  const double max = std::numeric_limits<double>::max(), tiny = std::numeric_limits<double>::denorm_min();
  const std::pair<std::string, double> cases[] = {
      {"3.25", 3.25}, {"1.", 1.0}, {".5", 0.5}, {"-.5", -0.5}, {"1.e5", 1e5}, {"+2.5", 2.5}, {"1E+2", 100.0},
      {"0.1", 0.1}, {"-0", -0.0}, {"-inf", -inf}, {"INFINITY", inf}, {"+Infinity", inf},
      // Past the range: infinity or zero by magnitude, sign kept.
      {"1e400", inf}, {"-1e400", -inf}, {"1000e306", inf}, {"1.7976931348623159e308", inf},
      {"1e-400", 0.0}, {"-1e-400", -0.0}, {"2e-324", 0.0}, {"0.0001e-320", 0.0}, {"0.00e400", 0.0},
      // Inside it, correctly rounded.
      {"1.7976931348623157e308", max}, {"100e306", 1e308}, {"0.001e310", 1e307}, {"4.9e-324", tiny},
      {"3e-324", tiny}, {"9007199254740993", 9007199254740992.0}, {"0.000000000000000000000000000001e330", 1e300},
  };
  for (const auto& [s, want] : cases) {
    const auto got = parse_real(s);
    ASSERT_TRUE(got.has_value()) << "\"" << s << "\"";
    EXPECT_EQ(bits_of(*got), bits_of(want)) << "\"" << s << "\" gave " << *got << ", want " << want;
  }
  for (const char* s : {"nan", "NaN", "-nan", "+NAN"}) {
    const auto got = parse_real(s);
    ASSERT_TRUE(got.has_value()) << s;
    EXPECT_TRUE(std::isnan(*got)) << s;
  }
}

TEST(ParseReal, RejectedForms) {
  for (const char* s : {"", ".", "+", "-", "e5", ".e5", "+.e1", "1e", "1e+", "0x1p3", "0x10", " 1", "1 ", "1_0",
                        "1,5", "1.5.2", "1e5.5", "1d5", "--1", "++1", "nan(1)", "infx", "inf ", "in", "infinit",
                        "nana", "\u0663"}) {
    EXPECT_EQ(parse_real(s), std::nullopt) << "\"" << s << "\"";
  }
}

}  // namespace
}  // namespace quarn
