// FST files written by real simulators and converters (../shared/corpus, see
// its README for each file's origin; Debian gtkwave's examples). Facts here
// were read off the files with fst2vcd.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "trace/fst_trace.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> real_fst_files() {
  std::vector<fs::path> out;
  for (const fs::path& root : {fs::path(QUARN_CORPUS_DIR), fs::path("/usr/share/doc/gtkwave/examples")}) {
    if (!fs::exists(root)) continue;
    for (const auto& e : fs::recursive_directory_iterator(root))
      // The 420,000-signal nvc file takes minutes under ASan; pytest loads it.
      if (e.is_regular_file() && e.path().extension() == ".fst" && e.file_size() < 300'000) out.push_back(e.path());
  }
  return out;
}

TEST(FstCorpus, EveryFileLoadsOrFailsWithAStagedMessage) {
  const auto files = real_fst_files();
  if (files.empty()) GTEST_SKIP() << "no corpus";
  std::size_t loaded = 0;
  for (const auto& f : files) {
    LoadControl never;
    LoadReport report;
    auto r = FstTrace::from_file(f.string(), never, &report);
    if (const auto* e = std::get_if<std::string>(&r)) {
      EXPECT_EQ(e->rfind("FST ", 0), 0u) << f << ": " << *e;
      continue;
    }
    // Every writer's header counts agree with what it wrote.
    EXPECT_EQ(report.problems, 0u) << f << ": " << report.first;
    const RecordTrace& t = std::get<RecordTrace>(r);
    EXPECT_FALSE(t.signal_names().empty()) << f;
    for (Index i = 1; i <= t.max_index(); ++i) ASSERT_LT(t.timestamp(i - 1), t.timestamp(i)) << f;
    ++loaded;
  }
  EXPECT_GE(loaded + 1, files.size());  // only the interrupted Verilator dump fails
}

std::variant<RecordTrace, std::string> load(const char* relative) {
  const fs::path p = fs::path(QUARN_CORPUS_DIR) / relative;
  if (!fs::exists(p)) return std::string("missing");
  return FstTrace::from_file(p.string());
}

TEST(FstCorpus, GhdlWholeFileGzippedStringTrace) {
  auto r = load("ghdl/oscar/ghdl.fst");
  if (std::holds_alternative<std::string>(r)) GTEST_SKIP() << std::get<std::string>(r);
  const RecordTrace& t = std::get<RecordTrace>(r);
  EXPECT_EQ(t.signal_names(), std::vector<std::string>{"ee"});
  EXPECT_EQ(t.max_index(), 3u);
  EXPECT_EQ(t.signal_value("ee", 0), SignalValue::text("foo"));
  EXPECT_EQ(t.signal_width("ee"), 0u);
}

TEST(FstCorpus, NvcBooleanIsTextNotXBits) {
  // Regression: "false" once read as five X bits ('l' is a nine-state letter).
  auto r = load("nvc/vhdl_test_bool_issue_16.fst");
  if (std::holds_alternative<std::string>(r)) GTEST_SKIP() << std::get<std::string>(r);
  EXPECT_EQ(std::get<RecordTrace>(r).signal_value("test_bool.bool", 0), SignalValue::text("false"));
}

TEST(FstCorpus, InterruptedVerilatorDumpLoadsItsCompleteBlocks) {
  // No geometry or hierarchy block: the hierarchy is in the side file, and
  // the write stopped at an empty block after the first value change block.
  const fs::path p = fs::path(QUARN_CORPUS_DIR) / "verilator/verilator-incomplete.fst";
  if (!fs::exists(p)) GTEST_SKIP();
  LoadControl never;
  LoadReport report;
  auto r = FstTrace::from_file(p.string(), never, &report);
  ASSERT_TRUE(std::holds_alternative<RecordTrace>(r)) << std::get<std::string>(r);
  EXPECT_EQ(std::get<RecordTrace>(r).signal_names().size(), 11398u);
  EXPECT_EQ(report.problems, 1u);
  EXPECT_EQ(report.first.rfind("FST open: unfinished file (empty block at byte 981664); read the 1 complete", 0), 0u)
      << report.first;
}

}  // namespace
}  // namespace quarn
