// Regressions on VCD files written by real simulators (../shared/corpus, see
// its README for each file's origin). Facts asserted here were read off the
// files by hand.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "same_trace.h"
#include "test_values.h"
#include "trace/vcd_trace.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = QUARN_CORPUS_DIR;

// The loaded corpus file, or nullopt when the corpus is not there (the caller
// skips) or the load failed (recorded as a failure here).
std::optional<VcdTrace> load(const char* relative) {
  const fs::path path = kCorpus / relative;
  if (!fs::exists(path)) return std::nullopt;
  auto loaded = VcdTrace::from_file(path.string());
  if (const auto* error = std::get_if<std::string>(&loaded)) {
    ADD_FAILURE() << *error;
    return std::nullopt;
  }
  return std::move(std::get<VcdTrace>(loaded));
}

struct Expect {
  const char* name;
  Index index;
  SignalValue want;
};

void expect_values(const VcdTrace& t, const std::vector<Expect>& expects) {
  for (const auto& e : expects) {
    const SignalValue got = t.signal_value(e.name, e.index);
    EXPECT_TRUE(bit_identical(got, e.want))
        << e.name << " at " << e.index << ": got " << describe(got) << ", want " << describe(e.want);
  }
}

// Aldec writes its initial values in $dumpvars before the first timestamp
// (#31000); they are time 0, index 0, and hold until their next change.
TEST(VcdCorpus, AldecValuesBeforeFirstTimestamp) {
  const auto loaded = load("aldec/SPI_Write.vcd");
  if (!loaded) GTEST_SKIP() << "corpus file missing";
  const VcdTrace& t = *loaded;
  EXPECT_EQ(t.signal_names().size(), 93u);
  EXPECT_EQ(t.record().id_count, 74u);
  EXPECT_EQ(t.scopes(), (std::vector<std::string>{"tb", "tb.t", "tb.t.controller", "tb.t.reg_mag_i", "tb.t.SPI_i"}));
  EXPECT_EQ(t.max_index(), 9998u);
  EXPECT_EQ(t.timestamp(0), 0u);
  EXPECT_EQ(t.timestamp(1), 31000u);
  EXPECT_EQ(t.timestamp(9998), 309938000u);
  EXPECT_EQ(t.signal_id("tb.t.CLK"), t.signal_id("tb.t.controller.clk"));
  EXPECT_EQ(t.signal_width("tb.t.reg_mag_i.MAXADDRESS"), 32u);
  const SignalValue z8 = SignalValue::logic(SignalValue::LogicBits(8, kLogicZ));  // "bz", z-extended
  expect_values(t, {
                       {"tb.t.PIN_10", 1, SignalValue::bits(1)},              // only in $dumpvars
                       {"tb.t.controller.READ_DATA", 0, SignalValue::bits(2)},  // parameter
                       {"tb.t.reg_mag_i.MAXADDRESS", 0, SignalValue::bits(8)},
                       {"tb.t.reg_mag_i.MAXADDRESS", 9998, SignalValue::bits(8)},
                       {"tb.t.reg_mag_i.r_w", 0, SignalValue::logic({kLogicX})},  // x in $dumpvars
                       {"tb.t.reg_mag_i.r_w", 1141, SignalValue::bits(1)},
                       {"tb.t.reg_mag_i.r_w", 2037, SignalValue::bits(0)},
                       {"tb.t.AddrBus", 0, z8},
                       {"tb.t.AddrBus", 1138, z8},
                       {"tb.t.AddrBus", 1139, SignalValue::bits(128)},
                       {"tb.t.AddrBus", 1141, z8},
                       {"tb.t.SPI_Data_Available", 0, SignalValue::logic({kLogicX})},  // x, then 0 at #31000
                       {"tb.t.SPI_Data_Available", 1, SignalValue::bits(0)},
                       {"tb.t.CLK", 0, SignalValue::bits(0)},  // 0, then 1 at #31000
                       {"tb.t.CLK", 1, SignalValue::bits(1)},
                       {"tb.t.CLK", 2, SignalValue::bits(0)},
                       {"tb.t.CLK", 9998, SignalValue::bits(0)},
                       {"tb.t.CLK", 9999, SignalValue::empty()},
                   });
}

// GHDL dumps 128-bit keys; keeping only the last 64 digits lost their upper half.
TEST(VcdCorpus, GhdlWideVectors) {
  const auto loaded = load("ghdl/idea.vcd");
  if (!loaded) GTEST_SKIP() << "corpus file missing";
  const VcdTrace& t = *loaded;
  EXPECT_EQ(t.signal_names().size(), 706u);
  EXPECT_EQ(t.scopes().size(), 131u);
  EXPECT_EQ(t.record().timestamps,
            (std::vector<Time>{0, 100000000, 200000000, 300000000, 400000000, 1400000000}));
  EXPECT_EQ(t.signal_width("tb_idea.key"), 128u);
  const SignalValue first = SignalValue::wide_bits({0x0005000600070008ull, 0x0001000200030004ull});
  const SignalValue last = SignalValue::wide_bits({0xefdfbedfaf0793a8ull, 0x8032746083787a34ull});
  expect_values(t, {
                       {"tb_idea.key", 0, SignalValue::logic(SignalValue::LogicBits(128, kLogicU))},  // all 'U'
                       {"tb_idea.key", 1, first},
                       {"tb_idea.key", 2, SignalValue::bits(0)},
                       {"tb_idea.key", 3, last},
                       {"tb_idea.key", 5, last},
                       {"tb_idea.uut.key", 3, last},
                   });
}

TEST(VcdCorpus, IcarusCounter) {
  const auto loaded = load("icarus/counter_tb.vcd");
  if (!loaded) GTEST_SKIP() << "corpus file missing";
  const VcdTrace& t = *loaded;
  EXPECT_EQ(t.signal_names(),
            (std::vector<std::string>{"counter_tb.out", "counter_tb.clock", "counter_tb.enable", "counter_tb.reset",
                                      "counter_tb.top.clock", "counter_tb.top.enable", "counter_tb.top.reset",
                                      "counter_tb.top.out"}));
  EXPECT_EQ(t.scopes(), (std::vector<std::string>{"counter_tb", "counter_tb.top"}));
  EXPECT_EQ(t.max_index(), 26u);
  EXPECT_EQ(t.timestamp(26), 26u);
  EXPECT_EQ(t.record().id_count, 5u);
  EXPECT_EQ(t.signal_id("counter_tb.clock"), t.signal_id("counter_tb.top.clock"));
  EXPECT_NE(t.signal_id("counter_tb.out"), t.signal_id("counter_tb.top.out"));
  EXPECT_EQ(t.signal_width("counter_tb.out"), 2u);
  expect_values(t, {
                       {"counter_tb.out", 0, SignalValue::logic({kLogicX, kLogicX})},  // "bx", x-extended
                       {"counter_tb.out", 2, SignalValue::bits(0)},
                       {"counter_tb.out", 8, SignalValue::bits(2)},
                       {"counter_tb.top.out", 11, SignalValue::bits(3)},
                       {"counter_tb.out", 26, SignalValue::bits(2)},
                       {"counter_tb.out", 27, SignalValue::empty()},
                       {"counter_tb.top.clock", 25, SignalValue::bits(0)},
                       {"counter_tb.clock", 26, SignalValue::bits(1)},
                       {"counter_tb.reset", 3, SignalValue::bits(0)},
                       {"counter_tb.enable", 24, SignalValue::bits(1)},
                       {"counter_tb.top.enable", 25, SignalValue::bits(0)},
                   });
}

// Every VCD file loads, from a file exactly as from a string, with each name
// and scope once, every id below the id count, and nothing past the last index.
TEST(VcdCorpus, EveryFileLoadsAlikeFromFileAndString) {
  if (!fs::exists(kCorpus)) GTEST_SKIP() << "corpus missing: " << kCorpus;
  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(kCorpus)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".vcd") continue;
    ++files;
    SCOPED_TRACE(entry.path().string());
    auto loaded = VcdTrace::from_file(entry.path().string());
    ASSERT_TRUE(std::holds_alternative<VcdTrace>(loaded)) << std::get<std::string>(loaded);
    const VcdTrace& a = std::get<VcdTrace>(loaded);
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const VcdTrace b = VcdTrace::parse(text);

    expect_same_trace(a, b);
    if (HasFatalFailure()) return;
    const auto& names = a.signal_names();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
    EXPECT_EQ(std::set<std::string>(a.scopes().begin(), a.scopes().end()).size(), a.scopes().size());
    for (const std::string& name : names) ASSERT_LT(a.signal_id(name).value_or(~0ull), a.record().id_count) << name;
    for (SignalId id = 0; id < a.record().id_count; ++id)
      EXPECT_TRUE(a.signal_value_by_id(id, a.max_index() + 1).is_empty()) << "id " << id;
  }
  EXPECT_GT(files, 20u);
}

}  // namespace
}  // namespace quarn
