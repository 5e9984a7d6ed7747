// The name table against a plain model: full names spelled out as strings
// in a vector and a map. Paths are built component by component, so the
// cases cover components that hold dots (one name, two spellings), empty
// components, reopened scopes and chains far deeper than any real design.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "trace/name_table.h"

namespace quarn {
namespace {

using Path = NameTable::Path;
using Strings = std::vector<std::string>;

/// A path given as its components, top first.
Path add_components(NameTable& t, const Strings& components) {
  Path p = NameTable::kTop;
  for (const std::string& c : components) p = t.add_path(p, c);
  return p;
}

struct Spelling {
  const char* what;
  Strings a, b;  // two component lists
  bool same;     // whether they spell one full name
};

class SameText : public ::testing::TestWithParam<Spelling> {};

TEST_P(SameText, AgreesWithTheSpelledOutNames) {
  const Spelling& s = GetParam();
  NameTable t;
  const Path a = add_components(t, s.a), b = add_components(t, s.b);
  EXPECT_EQ(t.same_text(a, b), s.same);
  EXPECT_EQ(t.same_text(b, a), s.same);
  EXPECT_EQ(t.text(a) == t.text(b), s.same);
  if (s.same) {
    EXPECT_EQ(t.text_hash(a), t.text_hash(b));
  }
  // As signals: the second spelling of one name is refused, and either
  // spelling finds the one signal.
  EXPECT_TRUE(t.add_signal(a, 1, 1));
  EXPECT_EQ(t.add_signal(b, 2, 1), !s.same);
  ASSERT_NE(t.find(t.text(b)), nullptr);
  EXPECT_EQ(t.find(t.text(b))->id, s.same ? 1u : 2u);
  EXPECT_EQ(t.find(b)->id, s.same ? 1u : 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SameText,
    ::testing::Values(Spelling{"one path", {"top", "a", "b"}, {"top", "a", "b"}, true},
                      Spelling{"dot inside a component", {"top", "a.b"}, {"top", "a", "b"}, true},
                      Spelling{"dots at both ends", {"top.a", "b.c"}, {"top", "a.b", "c"}, true},
                      Spelling{"all in one", {"top.a.b"}, {"top", "a", "b"}, true},
                      Spelling{"empty components", {"", "x"}, {".x"}, true},
                      Spelling{"two empty", {"a", "", ""}, {"a.."}, true},
                      Spelling{"prefix", {"top", "a"}, {"top", "ab"}, false},
                      Spelling{"one level more", {"top", "a"}, {"top", "a", ""}, false},
                      Spelling{"dot moved", {"top", "ab.c"}, {"top", "a", "bc"}, false},
                      Spelling{"longer top", {"xtop", "a"}, {"top", "a"}, false},
                      Spelling{"hashes collide", {"top", "s24727"}, {"top", "s1488830"}, false}),
    [](const auto& info) {
      std::string n = info.param.what;
      for (char& c : n) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return n;
    });

TEST(NameTableHash, TheCollidingRowCollides) {
  NameTable t;
  const Path top = t.add_path(NameTable::kTop, "top");
  EXPECT_EQ(t.text_hash(t.add_path(top, "s24727")), t.text_hash(t.add_path(top, "s1488830")));
}

// Scopes reopened under another spelling are one scope; flat lists keep
// repeats, as the SHM design file lists them.
TEST(NameTableScopes, ReopenedByTextListedOnce) {
  NameTable t;
  const Path top = t.add_scope(NameTable::kTop, "top");
  const Path ab = t.add_scope(top, "a.b");
  const Path a = t.add_scope(top, "a");
  EXPECT_EQ(t.add_scope(a, "b"), ab);
  EXPECT_EQ(t.add_scope(NameTable::kTop, "top"), top);
  t.list_scope("top");
  EXPECT_EQ(t.scopes(), (Strings{"top", "top.a.b", "top.a", "top"}));
}

// A bit range finds a signal only when it spans the signal's width.
TEST(NameTableLookup, RangeSpellingsByWidth) {
  NameTable t;
  ASSERT_TRUE(t.add_signal(t.add_path(t.add_path(NameTable::kTop, "top"), "bus"), 7, 8));
  ASSERT_TRUE(t.add_signal("flag", 9, 1));
  for (const char* name : {"top.bus", "top.bus [7:0]", "top.bus[7:0]", "top.bus [0:7]"}) {
    ASSERT_NE(t.find_signal(name), nullptr) << name;
    EXPECT_EQ(t.find_signal(name)->id, 7u) << name;
  }
  for (const char* name : {"top.bus [3]", "top.bus [6:0]", "top", "bus", "top.bu", "top.bus."})
    EXPECT_EQ(t.find_signal(name), nullptr) << name;
  EXPECT_EQ(t.find_signal("flag[0]")->id, 9u);
  EXPECT_EQ(t.find(""), nullptr);
  // An array element spelled with a dot before its index, as another reader
  // names nvc's and Amaranth's arrays.
  ASSERT_TRUE(t.add_signal(t.add_path(t.add_path(NameTable::kTop, "top"), "mem[3]"), 11, 8));
  for (const char* name : {"top.mem.[3]", "top.mem.[3] [7:0]", "top.mem.[3][7:0]"})
    EXPECT_EQ(t.find_signal(name) ? t.find_signal(name)->id : 0u, 11u) << name;
  EXPECT_EQ(t.find_signal("top.bus.[7:0]")->id, 7u);
  for (const char* name : {"top.mem.[2]", "top.mem.[3].", "top.mem.[3] [3]", "top.bus.[3]"})
    EXPECT_EQ(t.find_signal(name), nullptr) << name;
}

// Many names through rehashes: every one found, in order, nothing else.
TEST(NameTableLookup, ManyNamesAgainstAMap) {
  NameTable t;
  std::map<std::string, SignalId> model;
  Strings order;
  Path scope = t.add_scope(NameTable::kTop, "top");
  for (SignalId i = 0; i < 5000; ++i) {
    if (i % 100 == 0) scope = t.add_scope(t.add_scope(NameTable::kTop, "top"), "u" + std::to_string(i / 100));
    const std::string leaf = "s" + std::to_string(i % 137);
    const std::string full = t.text(scope) + "." + leaf;
    const bool fresh = model.emplace(full, i).second;
    EXPECT_EQ(t.add_signal(t.add_path(scope, leaf), i, 1), fresh) << full;
    if (fresh) order.push_back(full);
  }
  EXPECT_EQ(t.names(), order);
  for (const auto& [name, id] : model) EXPECT_EQ(t.find(name)->id, id) << name;
  EXPECT_EQ(t.find("top.u0.s137"), nullptr);
}

// Scopes nested 40,000 deep: the table grows with the declarations, and a
// name is built only when asked for.
TEST(NameTableDepth, DeepScopesStayLinear) {
  constexpr int kDepth = 40000;
  NameTable t;
  Path p = NameTable::kTop;
  for (int i = 0; i < kDepth; ++i) p = t.add_scope(p, "m" + std::to_string(i));
  ASSERT_TRUE(t.add_signal(t.add_path(p, "a"), 0, 1));
  EXPECT_LT(t.memory_bytes(), std::size_t{kDepth} * 128);
  const std::string name = t.text(t.signal(0).path);
  EXPECT_EQ(name.substr(0, 6), "m0.m1.");
  EXPECT_EQ(name.substr(name.size() - 9), ".m39999.a");
  EXPECT_EQ(t.find(name)->id, 0u);
}

// The lists are built once, whichever thread asks first.
TEST(NameTableLists, BuiltOnceFromManyThreads) {
  NameTable t;
  for (int i = 0; i < 2000; ++i) t.add_signal(t.add_path(t.add_scope(NameTable::kTop, "top"), "s" + std::to_string(i)), i, 1);
  std::vector<const Strings*> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t k = 0; k < seen.size(); ++k) threads.emplace_back([&, k] { seen[k] = &t.names(); });
  for (auto& th : threads) th.join();
  for (const Strings* s : seen) EXPECT_EQ(s, seen[0]);
  EXPECT_EQ(seen[0]->size(), 2000u);
  EXPECT_EQ(seen[0]->back(), "top.s1999");
}

}  // namespace
}  // namespace quarn
