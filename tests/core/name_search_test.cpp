#include "eval/name_search.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace quarn {
namespace {

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

// Names are also searched against Python's own lower() in
// tests/python/test_navigation.py; these spellings are not among them.
TEST(Lower, FullUnicodeLowerCasing) {
  EXPECT_EQ(to_lower("\xCE\x91\xCE\xA3."), "\xCE\xB1\xCF\x82.");  // a final sigma before a full stop
  EXPECT_EQ(to_lower("1\xCE\xA3"), "1\xCF\x83");                  // after a digit: not final
  EXPECT_EQ(to_lower("A\xFF\xC3"), "a\xFF\xC3");                  // invalid bytes kept
}

}  // namespace
}  // namespace quarn
