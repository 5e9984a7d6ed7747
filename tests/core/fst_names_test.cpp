// Names shared by every reader: a variable's name loses its bit range,
// lookups take either spelling, bit-blasted buses become one vector, and
// clashing names are all kept.

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "fst_test_writer.h"
#include "test_values.h"
#include "trace/fst_trace.h"
#include "trace/name_alias.h"

namespace quarn {
namespace {

struct SplitCase {
  const char* declared;
  const char* base;
  std::optional<std::int64_t> msb, lsb;
  bool single;
};

class SplitVarName : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitVarName, SeparatesTheTrailingBitRange) {
  const SplitCase& c = GetParam();
  const VarNameParts p = split_var_name(c.declared);
  EXPECT_EQ(p.base, c.base) << c.declared;
  EXPECT_EQ(p.msb, c.msb) << c.declared;
  EXPECT_EQ(p.lsb, c.lsb) << c.declared;
  EXPECT_EQ(p.single_index, c.single) << c.declared;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitVarName,
    testing::Values(SplitCase{"busy [7:0]", "busy", 7, 0, false}, SplitCase{"busy[7:0]", "busy", 7, 0, false},
                    SplitCase{"d [3]", "d", 3, 3, true}, SplitCase{"x_i[15:-1]", "x_i", 15, -1, false},
                    SplitCase{"top.lane[0].q [1]", "top.lane[0].q", 1, 1, true},
                    // Only the last range goes: an array element keeps its index.
                    SplitCase{"arr[2][7:0]", "arr[2]", 7, 0, false},
                    // Not a range of something: kept whole.
                    SplitCase{"[0]", "[0]", {}, {}, false}, SplitCase{"top.[4]", "top.[4]", {}, {}, false},
                    SplitCase{"d[i]", "d[i]", {}, {}, false}, SplitCase{"d[1:]", "d[1:]", {}, {}, false},
                    SplitCase{"q [3:0", "q [3:0", {}, {}, false}, SplitCase{"plain", "plain", {}, {}, false}));

TEST(FstNames, MergeBusesKeepClashesAndAnswerBothSpellings) {
  test::TempDir dir;
  const auto file = dir.path("n.fst");
  {
    test::FstWriter w(file, {});
    w.scope("top");
    const fstHandle d1 = w.var("d [1]", 1);
    const fstHandle busy = w.var("busy [7:0]", 8);
    const fstHandle d0 = w.var("d [0]", 1);
    const fstHandle high = w.var("busy [15:8]", 8);
    const fstHandle clk = w.var("clk", 1);
    const fstHandle clk2 = w.var("clk", 1);
    w.var("clk", 1, clk);  // the same signal again: one name
    w.scope("lane[0]");
    const fstHandle bit = w.var("v [0]", 1);
    w.upscope();
    w.upscope();
    w.scope("top");  // reopened, declaring the bus's bits again
    w.var("d [1]", 1, d1);
    w.var("d [0]", 1, d0);
    w.upscope();
    w.time(0);
    w.value(d1, "1"), w.value(d0, "0"), w.value(busy, "00000011"), w.value(high, "00000100");
    w.value(clk, "0"), w.value(clk2, "1"), w.value(bit, "1");
    w.time(10);
    w.value(d0, "1");
    w.time(20);
    w.value(d1, "x");
    w.time(30);
    // Every history distinct: the writer's sharing of identical value chains
    // shifts a negative number, which UBSan stops on.
    w.value(bit, "0");
    w.close();
  }
  const RecordTrace t = loaded(FstTrace::from_file(file.string()));
  EXPECT_EQ(t.signal_names(), (std::vector<std::string>{"top.d", "top.busy", "top.busy [15:8]", "top.clk",
                                                         "top.clk#2", "top.lane[0].v"}));
  EXPECT_EQ(t.signal_width("top.d"), 2u);
  EXPECT_EQ(t.signal_values_range("top.d", 0, 4),
            (std::vector<SignalValue>{SignalValue::bits(2), SignalValue::bits(3), SignalValue::logic({2, 1}),
                                      SignalValue::logic({2, 1})}));
  EXPECT_EQ(t.signal_value("top.busy [15:8]", 0), SignalValue::bits(4));
  EXPECT_EQ(t.signal_value("top.clk#2", 0), SignalValue::bits(1));
  for (const char* spelling : {"top.busy", "top.busy [7:0]", "top.busy[7:0]"}) {
    EXPECT_EQ(t.signal_id(spelling), t.signal_id("top.busy")) << spelling;
    EXPECT_EQ(t.signal_width(spelling), 8u) << spelling;
    EXPECT_EQ(t.signal_value(spelling, 0), SignalValue::bits(3)) << spelling;
    EXPECT_EQ(t.signal_values_range(spelling, 0, 1), (std::vector<SignalValue>{SignalValue::bits(3)})) << spelling;
  }
  EXPECT_EQ(t.signal_id("top.lane[0].v [0]"), t.signal_id("top.lane[0].v"));
  // A range must span the signal: no name for one bit of a vector.
  for (const char* other : {"top.lane.v", "top.busy [3]", "top.busy[8:0]", "top.d [1]"})
    EXPECT_EQ(t.signal_id(other), std::nullopt) << other;
  EXPECT_EQ(t.signal_width("top.d [1]"), 1u);  // an unknown name's width
}

}  // namespace
}  // namespace quarn
