// The value changes parsed in chunks on the pool must load exactly as one
// pass does: the trace, and what was skipped (count, first place, message).
// Chunks as small as one timestamp put a seam at every timestamp line.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "same_trace.h"
#include "trace/vcd_reader.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;

// Chunk sizes, and how many changes are staged before they go to their
// signals' logs (0: as the reader picks): a stage of 1 or 3 drains between
// any two changes, larger ones hold many timestamps' changes.
constexpr std::size_t kOnePass = VcdSplit::kNoSplit;
const VcdSplit kSplits[] = {
    {1, 0}, {7, 0}, {200, 0}, {4096, 0}, {7, 2}, {200, 5}, {kOnePass, 1}, {kOnePass, 3}, {kOnePass, 1000}, {kOnePass, 0},
};

void expect_same_load(const std::variant<VcdLoad, std::string>& a, const std::variant<VcdLoad, std::string>& b) {
  ASSERT_EQ(a.index(), b.index());
  if (const auto* error = std::get_if<std::string>(&a)) {
    EXPECT_EQ(*error, std::get<std::string>(b));
    return;
  }
  const VcdLoad& x = std::get<VcdLoad>(a);
  const VcdLoad& y = std::get<VcdLoad>(b);
  EXPECT_EQ(x.diagnostics.count, y.diagnostics.count);
  EXPECT_EQ(x.diagnostics.offset, y.diagnostics.offset);
  EXPECT_EQ(x.diagnostics.line, y.diagnostics.line);
  EXPECT_EQ(x.diagnostics.column, y.diagnostics.column);
  EXPECT_EQ(x.diagnostics.message, y.diagnostics.message);
  expect_same_trace(x.trace, y.trace);
}

std::string shown(const VcdSplit& split) {
  return "chunks of " + std::to_string(split.chunk_bytes) + ", stage of " + std::to_string(split.stage_changes);
}

// Against one pass that logs each change as it comes.
void expect_chunks_agree(std::string_view text) {
  const auto whole = read_vcd_text(text, nullptr, {kOnePass, VcdSplit::kNoStage});
  for (const VcdSplit& split : kSplits) {
    SCOPED_TRACE(shown(split));
    expect_same_load(whole, read_vcd_text(text, nullptr, split));
  }
}

// A body with what crosses seams: events counted on, time going back over
// several lines, unreadable times, unknown codes, x and wide values, reals,
// strings, values before the first timestamp, and lines starting with '#'
// that are no timestamp (inside a comment, or a change's code).
std::string random_vcd(unsigned seed) {
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  std::string v = "$timescale 1ns $end\n$scope module top $end\n"
                  "$var wire 1 ! a $end\n$var wire 8 \" b [7:0] $end\n$var event 1 # ev $end\n"
                  "$var real 1 $ r $end\n$var string 1 % s $end\n$var wire 130 & w [129:0] $end\n"
                  "$var wire 1 ' d [1] $end\n$var wire 1 ( d [0] $end\n$upscope $end\n$enddefinitions $end\n";
  if (pick(2)) v += "$dumpvars\n1!\nb101 \"\nr0.5 $\n$end\n";
  long time = pick(3) * 5;
  const int steps = 40 + pick(40);
  for (int step = 0; step < steps; ++step) {
    const int kind = pick(20);
    if (kind == 0) v += "#" + std::to_string(std::max(0L, time - 1 - pick(20))) + "\n";  // back in time
    else if (kind == 1) v += "#x" + std::to_string(time) + "\n";
    else if (kind == 2) v += "$comment\n#" + std::to_string(time) + " 1!\n$end\n";
    else v += "#" + std::to_string(time += pick(3) ? 1 + pick(10) : 0) + "\n";
    for (int n = pick(5); n > 0; --n) {
      switch (pick(12)) {
        case 0: v += "1#\n"; break;
        case 1: v += pick(2) ? "1!\n" : "x!\n"; break;
        case 2: v += "b" + std::string(1 + pick(8), "01xz"[pick(4)]) + " \"\n"; break;
        case 3: v += "b1" + std::string(129, "01"[pick(2)]) + " &\n"; break;
        case 4: v += pick(2) ? "rnan $\n" : "r" + std::to_string(pick(100)) + ".25 $\n"; break;
        case 5: v += "sword" + std::to_string(pick(3)) + " %\n"; break;
        case 6: v += "1q\n"; break;
        case 7: v += "b102 \"\n"; break;
        case 8: v += std::string(pick(2) ? "1" : "0") + "'\n0(\n"; break;
        case 9: v += "b11\n#\n"; break;  // the code of this change is '#'
        case 10: v += "b0b11 \"\n"; break;
        default: v += "0!\n"; break;
      }
    }
  }
  if (pick(3) == 0) v += "#" + std::to_string(time + 1) + "\nb1";  // cut off
  return v;
}

// A code for signal `n`, as writers number them: base 94 over '!'..'~'.
std::string code_of(std::size_t n) {
  std::string code;
  do {
    code += static_cast<char>('!' + n % 94);
    n /= 94;
  } while (n);
  return code;
}

// Thousands of signals, so that staged changes span several groups of ids,
// each signal's changes scattered among the others'.
std::string random_wide_vcd(unsigned seed, std::size_t signals) {
  std::mt19937 rng(seed);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  std::string v = "$scope module top $end\n";
  for (std::size_t s = 0; s < signals; ++s) {
    static const char* const kinds[] = {"wire 1", "wire 12", "event 1", "real 1", "wire 80"};
    v += std::string("$var ") + kinds[s % 5] + " " + code_of(s) + " s" + std::to_string(s) + " $end\n";
  }
  v += "$upscope $end\n$enddefinitions $end\n";
  for (int time = 0; time < 60; ++time) {
    v += "#" + std::to_string(time * 3) + "\n";
    for (std::size_t n = pick(400); n > 0; --n) {
      const std::size_t s = pick(signals);
      const std::string code = code_of(s);
      switch (s % 5) {
        case 0: v += std::string(1, "01x"[pick(3)]) + code + "\n"; break;
        case 1: v += "b" + std::string(1 + pick(12), "01xz"[pick(4)]) + "1 " + code + "\n"; break;
        case 2: v += "1" + code + "\n"; break;
        case 3: v += "r" + std::to_string(pick(1000)) + ".5 " + code + "\n"; break;
        default: v += "b1" + std::string(79, "01"[pick(2)]) + " " + code + "\n"; break;
      }
    }
  }
  return v;
}

TEST(VcdParallel, ManySignalsLoadAlikeStagedAndInChunks) {
  // 2,500 signals with a stage forced on; past 4,096 the reader stages by itself.
  for (const std::size_t signals : {2500, 5000}) {
    SCOPED_TRACE(std::to_string(signals) + " signals");
    expect_chunks_agree(random_wide_vcd(static_cast<unsigned>(signals), signals));
    if (HasFatalFailure()) return;
  }
}

TEST(VcdParallel, GeneratedTracesLoadAlikeInChunks) {
  for (unsigned seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    expect_chunks_agree(random_vcd(seed));
    if (HasFatalFailure()) return;
  }
}

TEST(VcdParallel, SeamsOfHandWrittenCases) {
  // Time going back, event triggers, values before the first timestamp and
  // timestamps inside comments cross seams in the generated traces above.
  const char* cases[] = {
      // a declaration among the changes: read in order
      "$var wire 1 ! a $end $enddefinitions $end\n#1\n1!\n#2\n$var wire 1 \" b $end\n#3\n1\"\n",
      // the first problem sits in a later chunk than a dropped time
      "$var wire 1 ! a $end $enddefinitions $end\n#10\n1!\n#20\nq!\n#5\n1!\n#30\nb2 !\n",
      // a dropped time before, and after, a chunk's own first problem
      "$var wire 1 ! a $end $enddefinitions $end\n#10\n1!\n#5\nq!\n#7\n",
      "$var wire 1 ! a $end $enddefinitions $end\n#10\n1!\n#x\n#5\n",
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    expect_chunks_agree(text);
  }
}

// Every corpus file, under the sanitizers too; its values are compared with
// another reader's in tests/python/test_pywellen_diff.py.
TEST(VcdParallel, CorpusFilesLoadAlikeInChunks) {
  const fs::path corpus = QUARN_CORPUS_DIR;
  if (!fs::exists(corpus)) GTEST_SKIP() << "corpus missing: " << corpus;
  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".vcd") continue;
    ++files;
    SCOPED_TRACE(entry.path().string());
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto whole = read_vcd_text(text, nullptr, {VcdSplit::kNoSplit});
    ASSERT_TRUE(std::holds_alternative<VcdLoad>(whole)) << std::get<std::string>(whole);
    const VcdTrace& t = std::get<VcdLoad>(whole).trace;
    EXPECT_EQ(std::set<std::string>(t.signal_names().begin(), t.signal_names().end()).size(), t.signal_names().size());
    EXPECT_EQ(std::set<std::string>(t.scopes().begin(), t.scopes().end()).size(), t.scopes().size());
    expect_chunks_agree(text);
    // The file reader streams one pass through its buffer, or reads its
    // chunks with pread, each through its buffer.
    for (std::size_t chunk : {VcdSplit::kNoSplit, std::size_t{64}})
      expect_same_load(whole, read_vcd_file(entry.path().string(), {}, nullptr, {chunk}));
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(files, 20u);
}

TEST(VcdParallel, StopInAChunkInterruptsTheLoad) {
  std::string text = "$var wire 1 ! a $end $enddefinitions $end\n";
  for (int t = 0; t < 200000; ++t) text += "#" + std::to_string(t) + "\n" + (t % 2 ? "1!\n" : "0!\n");
  int polls = 0;
  LoadControl control([](void* user) { return ++*static_cast<int*>(user) > 2; }, &polls, 0);
  const auto loaded = read_vcd_text(text, &control, {64 * 1024});
  ASSERT_TRUE(std::holds_alternative<std::string>(loaded));
  EXPECT_EQ(std::get<std::string>(loaded), kLoadInterrupted);
}

}  // namespace
}  // namespace quarn
