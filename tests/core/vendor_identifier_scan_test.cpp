#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "trace/dotted_scopes.h"
#include "trace/vendor_identifier_scan.h"
#include "vendor_images.h"

namespace quarn {
namespace {

using test::Bytes;
using test::operator+;
using test::c_strings;
using test::raw;

struct NameCase {
  const char* run;
  bool accepted;
};

class VendorIdentifierRule : public ::testing::TestWithParam<NameCase> {};

TEST_P(VendorIdentifierRule, AcceptsOnlyNames) {
  EXPECT_EQ(is_vendor_identifier(GetParam().run), GetParam().accepted) << GetParam().run;
}

INSTANTIATE_TEST_SUITE_P(
    Table, VendorIdentifierRule,
    ::testing::Values(
        // accepted: letters, '_' starts, spaces and any other printable byte
        // after a part's first byte (unlike the FSDB reader's stricter scan)
        NameCase{"ab", true}, NameCase{"_x", true}, NameCase{"data_q[3]", true}, NameCase{"a.b c", true},
        NameCase{"top.u1.clk", true}, NameCase{"a-b+c=d", true}, NameCase{"run.log", true},
        NameCase{"A.b", true}, NameCase{"a.9", false},
        // rejected
        NameCase{"a", false}, NameCase{"1abc", false}, NameCase{"a/b", false}, NameCase{"f(x)", false},
        NameCase{"{a}", false}, NameCase{".a", false}, NameCase{"a.", false}, NameCase{"a..b", false},
        NameCase{"a.1b", false}, NameCase{"a@b", false}, NameCase{"ab@", false}, NameCase{"a. b", false},
        NameCase{"$ab", false}, NameCase{"", false}));

struct ScanCase {
  const char* what;
  Bytes bytes;
  std::vector<std::string> names;
};

class VendorIdentifierScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(VendorIdentifierScan, FindsTerminatedNames) {
  EXPECT_EQ(extract_vendor_identifiers(GetParam().bytes), GetParam().names) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, VendorIdentifierScan,
    ::testing::Values(
        ScanCase{"dotted name", c_strings({"top.u1.clk"}), {"top.u1.clk"}},
        ScanCase{"order and duplicates kept", c_strings({"b", "zz", "aa", "zz"}), {"zz", "aa", "zz"}},
        ScanCase{"ended by 0x01: dropped, scan resumes after it", raw("abc\x01" "def") + Bytes{0}, {"def"}},
        ScanCase{"ended by a high byte", raw("abc") + Bytes{0x80} + c_strings({"de"}), {"de"}},
        ScanCase{"leading spaces skipped", c_strings({"  abc"}), {"abc"}},
        ScanCase{"tail of a rejected run never tried", c_strings({"9abc"}), {}},
        ScanCase{"tail of an unterminated run never tried", raw("9ab\x02" "cd") + Bytes{0}, {"cd"}},
        ScanCase{"run up to the end ends the scan", c_strings({"ab"}) + raw("cd"), {"ab"}},
        ScanCase{"one byte past a terminator starts the next run", c_strings({"ab", "cd"}), {"ab", "cd"}},
        ScanCase{"empty input", Bytes{}, {}}, ScanCase{"only zeros", Bytes(10, 0), {}},
        ScanCase{"single byte then end", raw("a"), {}}));

TEST(VendorIdentifierScan, ViewsPointIntoTheBytes) {
  const Bytes bytes = c_strings({"xx", "top.a"});
  VendorIdentifierScanner scanner(bytes);
  auto first = scanner.next();
  auto second = scanner.next();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(second->data()), bytes.data() + 3);
  EXPECT_FALSE(scanner.next());
  EXPECT_FALSE(scanner.next()) << "a finished scanner stays finished";
}

struct ScopeCase {
  std::vector<std::string> names;
  std::vector<std::string> scopes;
};

class DeriveScopes : public ::testing::TestWithParam<ScopeCase> {};

TEST_P(DeriveScopes, ProperPrefixesSortedOnce) { EXPECT_EQ(derive_scopes(GetParam().names), GetParam().scopes); }

INSTANTIATE_TEST_SUITE_P(
    Table, DeriveScopes,
    ::testing::Values(ScopeCase{{"b.c.d", "a.x", "b.y"}, {"a", "b", "b.c"}},
                      // byte order: "a" < "a.b" < "ab"
                      ScopeCase{{"ab.x", "a.b.c"}, {"a", "a.b", "ab"}},
                      ScopeCase{{"clk", "rst"}, {}}, ScopeCase{{}, {}},
                      ScopeCase{{"top.u1.clk", "top.u1.rst", "top.x"}, {"top", "top.u1"}}));

}  // namespace
}  // namespace quarn
