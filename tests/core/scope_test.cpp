#include "eval/scope.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "record_fixture.h"

namespace quarn {
namespace {

using testing::names_only;
using Names = std::vector<std::string>;

const RecordTrace& hierarchy() {
  static const RecordTrace t = names_only(
      {"top.clk", "top.u1.q", "topx.d", "bare", "top.a.b.deep", "top.", "top.u1.clk", "other.clk"},
      {"top", "top.a", "top.a.b", "other", "top.u2.v", "top.a", "topx"});
  return t;
}

struct ListCase {
  const char* label;
  bool scopes;  // local_scopes, else local_signals
  std::string scope;
  Names expected;
};

class LocalLists : public ::testing::TestWithParam<ListCase> {};

TEST_P(LocalLists, ListDirectChildrenInOrder) {
  const ListCase& c = GetParam();
  EXPECT_EQ(c.scopes ? local_scopes(hierarchy(), c.scope) : local_signals(hierarchy(), c.scope), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, LocalLists,
    // The plain cases are in tests/python/test_navigation.py. Here "top.a" is
    // listed twice and also reached through "top.a.b"; "top.u2" only through
    // its child.
    ::testing::Values(ListCase{"children_once_even_when_only_deeper_listed", true, "top", {"top.a", "top.u2"}},
                      ListCase{"leaf_scope", true, "top.a.b", {}},
                      ListCase{"signals_directly_in_scope", false, "top", {"top.clk", "top."}}),
    [](const auto& info) { return std::string(info.param.label); });

struct ResolveCase {
  const char* label;
  Names names;
  std::string scope;
  std::string short_name;
  std::optional<std::string> expected;
};

class Resolve : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(Resolve, FindsTheFullName) {
  const ResolveCase& c = GetParam();
  EXPECT_EQ(resolve(names_only(c.names), c.scope, c.short_name), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, Resolve,
    // As for the lists, the plain cases are in tests/python.
    ::testing::Values(
        ResolveCase{"joined_name_wins_over_earlier_suffix", {"top.u1.clk", "top.clk"}, "top", "clk", "top.clk"},
        ResolveCase{"empty_scope_uses_short_name", {"a.clk", "clk"}, "", "clk", "clk"},
        ResolveCase{"empty_short_name_needs_trailing_stop", {"top.x", "top.y."}, "top", "", "top.y."},
        ResolveCase{"short_name_longer_than_names", {"a", "b"}, "", "long.name", std::nullopt}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace quarn
