#include "eval/scope.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "eval/snapshot.h"
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
    ::testing::Values(ListCase{"top_level_scopes", true, "", {"top", "other", "topx"}},
                      // "top.a" is listed twice and also reached through "top.a.b"; "top.u2" only
                      // through its child.
                      ListCase{"children_once_even_when_only_deeper_listed", true, "top", {"top.a", "top.u2"}},
                      ListCase{"grandchild", true, "top.a", {"top.a.b"}},
                      ListCase{"text_prefix_is_not_a_scope", true, "to", {}},
                      ListCase{"leaf_scope", true, "top.a.b", {}},
                      ListCase{"signals_directly_in_scope", false, "top", {"top.clk", "top."}},
                      ListCase{"signals_without_scope", false, "", {"bare"}},
                      ListCase{"signals_deep_scope", false, "top.a.b", {"top.a.b.deep"}},
                      ListCase{"signals_unknown_scope", false, "nowhere", {}}),
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
    ::testing::Values(
        ResolveCase{"joined_name_wins_over_earlier_suffix", {"top.u1.clk", "top.clk"}, "top", "clk", "top.clk"},
        ResolveCase{"deeper_suffix_match", {"top.u1.xclk", "top.u1.clk"}, "top", "clk", "top.u1.clk"},
        ResolveCase{"scope_is_a_plain_text_prefix", {"topx.clk", "top.u1.clk"}, "top", "clk", "topx.clk"},
        ResolveCase{"suffix_must_start_a_component", {"top.u1.xclk"}, "top", "clk", std::nullopt},
        ResolveCase{"empty_scope_uses_short_name", {"a.clk", "clk"}, "", "clk", "clk"},
        ResolveCase{"empty_scope_any_suffix", {"a.clk"}, "", "clk", "a.clk"},
        ResolveCase{"empty_short_name_needs_trailing_stop", {"top.x", "top.y."}, "top", "", "top.y."},
        ResolveCase{"short_name_longer_than_names", {"a", "b"}, "", "long.name", std::nullopt},
        ResolveCase{"nothing_matches", {"top.a"}, "top", "b", std::nullopt}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SnapshotScope, KeysAreRelativeToTheScope) {
  const RecordTrace t = testing::make_trace({"top.clk", "top.u1.q", "topx.a", "top"}, 2,
                                            {{"top.clk", 0, testing::bits(1)}, {"top.u1.q", 1, testing::bits(2)}});
  Names keys;
  std::vector<std::string> values;
  for (const SnapshotEntry& e : snapshot_scope(t, 1, "top")) {
    keys.emplace_back(e.key);
    values.push_back(describe(to_value(e.value)));
  }
  EXPECT_EQ(keys, (Names{"clk", "u1.q"}));
  EXPECT_EQ(values, (Names{"Bits(1)", "Bits(2)"}));
  EXPECT_TRUE(snapshot_scope(t, 1, "").empty());
  EXPECT_TRUE(snapshot(names_only({}), 0).empty());
}

}  // namespace
}  // namespace quarn
