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

// The plain cases are in tests/python/test_navigation.py; these are the
// edges its trace does not have.
TEST(LocalLists, DirectChildrenInOrder) {
  // "top.a" is listed twice and also reached through "top.a.b"; "top.u2"
  // only through its child.
  EXPECT_EQ(local_scopes(hierarchy(), "top"), (Names{"top.a", "top.u2"}));
  EXPECT_EQ(local_scopes(hierarchy(), "top.a.b"), Names{});
  EXPECT_EQ(local_signals(hierarchy(), "top"), (Names{"top.clk", "top."}));
}

TEST(Resolve, FindsTheFullName) {
  // The name joined from scope and short name wins over an earlier suffix match.
  EXPECT_EQ(resolve(names_only({"top.u1.clk", "top.clk"}), "top", "clk"), "top.clk");
  EXPECT_EQ(resolve(names_only({"a.clk", "clk"}), "", "clk"), "clk");
  EXPECT_EQ(resolve(names_only({"top.x", "top.y."}), "top", ""), "top.y.");
  EXPECT_EQ(resolve(names_only({"a", "b"}), "", "long.name"), std::nullopt);
}

}  // namespace
}  // namespace quarn
