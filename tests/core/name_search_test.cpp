#include "eval/name_search.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "record_fixture.h"

namespace quarn {
namespace {

using Names = std::vector<std::string>;

struct GlobCase {
  std::string pattern;
  std::string name;
  bool matches;
};

void PrintTo(const GlobCase& c, std::ostream* os) { *os << "'" << c.pattern << "' on '" << c.name << "'"; }

class Glob : public ::testing::TestWithParam<GlobCase> {};

TEST_P(Glob, MatchesWholeNameByteWise) {
  const GlobCase& c = GetParam();
  EXPECT_EQ(glob_match(c.pattern, c.name), c.matches) << "pattern '" << c.pattern << "' name '" << c.name << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Glob,
    ::testing::Values(GlobCase{"top.*", "top.clk", true}, GlobCase{"top.*", "top.u1.q", true},
                      GlobCase{"top.*", "topx.a", false}, GlobCase{"top.?", "top.a", true},
                      GlobCase{"top.?", "top.ab", false}, GlobCase{"*clk", "top.clk", true},
                      GlobCase{"*clk", "clk", true}, GlobCase{"*clk", "top.clk2", false},
                      GlobCase{"", "", true}, GlobCase{"", "a", false}, GlobCase{"*", "", true},
                      GlobCase{"*", "any.thing", true}, GlobCase{"**", "x", true}, GlobCase{"a", "", false},
                      GlobCase{"?", "", false},
                      // Backtracking: the star must give back bytes it took.
                      GlobCase{"*a*b", "xaxxb", true}, GlobCase{"*a*b", "xaxxbx", false},
                      GlobCase{"a*b*c", "abbbc", true}, GlobCase{"*.q", "top.u1.q", true},
                      GlobCase{"*ab", "aab", true}, GlobCase{"a*", "ba", false},
                      // "?" is one byte: the two-byte "é" needs two.
                      GlobCase{"?", "\xC3\xA9", false}, GlobCase{"??", "\xC3\xA9", true},
                      GlobCase{"caf?", "caf\xC3\xA9", false}, GlobCase{"caf??", "caf\xC3\xA9", true},
                      // No classes or escapes: brackets and backslashes are plain bytes.
                      GlobCase{"a[0]", "a[0]", true}, GlobCase{"a[01]", "a0", false},
                      GlobCase{"a\\*", "a\\xyz", true},
                      // A star first matches a literal star in the name.
                      GlobCase{"*", "*", true}, GlobCase{"a*", "a*", true}, GlobCase{"*b", "*b", true},
                      // Once a star has matched as a literal it is no wildcard: with no
                      // earlier star to fall back on, the match fails.
                      GlobCase{"*b", "**b", false}, GlobCase{"x*y", "x*zy", false},
                      GlobCase{"**b", "*xb", true},
                      // Case matters.
                      GlobCase{"TOP.*", "top.clk", false}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

struct LowerCase {
  const char* label;
  std::string text;
  std::string lower;
};

class Lower : public ::testing::TestWithParam<LowerCase> {};

TEST_P(Lower, FullUnicodeLowerCasing) { EXPECT_EQ(to_lower(GetParam().text), GetParam().lower); }

INSTANTIATE_TEST_SUITE_P(
    Cases, Lower,
    ::testing::Values(
        LowerCase{"ascii", "Top.CLK_Div[3]", "top.clk_div[3]"}, LowerCase{"empty", "", ""},
        LowerCase{"latin1", "CAF\xC3\x89", "caf\xC3\xA9"},                              // CAFÉ
        LowerCase{"final_sigma", "\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3", "\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82"},  // ΟΔΟΣ -> οδος
        LowerCase{"sigma_inside_word", "\xCE\xA3\xCE\x91", "\xCF\x83\xCE\xB1"},     // ΣΑ -> σα
        LowerCase{"lone_sigma", "\xCE\xA3", "\xCF\x83"},                                // Σ -> σ
        LowerCase{"sigma_before_full_stop_ends_word", "\xCE\x91\xCE\xA3.", "\xCE\xB1\xCF\x82."},
        // A full stop is skipped when looking ahead: a letter after it continues the word.
        LowerCase{"sigma_before_stop_and_letter", "\xCE\x91\xCE\xA3.B", "\xCE\xB1\xCF\x83.b"},
        LowerCase{"sigma_before_underscore_ends_word", "\xCE\x91\xCE\xA3_1", "\xCE\xB1\xCF\x82_1"},
        LowerCase{"sigma_after_digit_is_not_final", "1\xCE\xA3", "1\xCF\x83"},
        LowerCase{"dotted_capital_i_becomes_two", "\xC4\xB0X", "i\xCC\x87x"},         // İX -> i̇x
        LowerCase{"kelvin_sign", "\xE2\x84\xAA", "k"},
        LowerCase{"titlecase_digraph", "\xC7\x85", "\xC7\x86"},                         // ǅ -> ǆ
        LowerCase{"invalid_bytes_kept", "A\xFF\xC3", "a\xFF\xC3"}),
    [](const auto& info) { return std::string(info.param.label); });

const RecordTrace& named() {
  static const RecordTrace t = testing::names_only(
      {"top.Clk_div", "top.data", "top.\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3", "CLK", "a*b", "caf\xC3\xA9", ""});
  return t;
}

struct SearchCase {
  const char* label;
  bool glob;
  std::string query;
  Names expected;
};

class Search : public ::testing::TestWithParam<SearchCase> {};

TEST_P(Search, KeepsNameOrderAndSpelling) {
  const SearchCase& c = GetParam();
  EXPECT_EQ(c.glob ? find_signals_glob(named(), c.query) : find_signals_containing(named(), c.query), c.expected);
}

// Matching itself is in the Glob and Lower tables.
INSTANTIATE_TEST_SUITE_P(
    Cases, Search,
    ::testing::Values(
        SearchCase{"contains_ignores_case", false, "CLK", {"top.Clk_div", "CLK"}},
        SearchCase{"contains_empty_matches_all",
                   false,
                   "",
                   {"top.Clk_div", "top.data", "top.\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3", "CLK", "a*b", "caf\xC3\xA9", ""}},
        SearchCase{"contains_final_sigma", false, "\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82", {"top.\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3"}},
        SearchCase{"contains_medial_sigma_misses_final", false, "\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x83", {}},
        SearchCase{"contains_non_ascii_query", false, "CAF\xC3\x89", {"caf\xC3\xA9"}},
        SearchCase{"glob_star", true, "top.*", {"top.Clk_div", "top.data", "top.\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3"}},
        SearchCase{"glob_empty_pattern_only_empty_name", true, "", {""}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace quarn
