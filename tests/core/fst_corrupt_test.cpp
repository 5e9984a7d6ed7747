// Truncated and corrupted FST files must end in a clear error or a trace,
// never in a crash, a hang or an exit of the process (run under ASan too).

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "fst_test_writer.h"
#include "trace/fst_trace.h"

namespace quarn {
namespace {

using test::FstWriter;
using test::TempDir;

std::vector<char> write_sample(const std::filesystem::path& file, FstWriter::Options options) {
  {
    FstWriter w(file, options);
    w.scope("top");
    const fstHandle a = w.var("a", 1);
    const fstHandle v = w.var("v", 12);
    const fstHandle r = w.real("r");
    const fstHandle s = w.string("s");
    w.var("a2", 1, a);
    w.upscope();
    for (int t = 0; t < 40; ++t) {
      w.time(static_cast<std::uint64_t>(t * 5));
      w.value(a, t % 2 ? "1" : "0");
      w.value(v, t % 7 ? "010101010101" : "0101x1010z01");
      if (t % 3 == 0) w.value(r, t * 0.5);
      if (t % 4 == 0) w.text(s, "step" + std::to_string(t));
    }
  }
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A message must name its stage; a load may also succeed with what is left.
void expect_clean_outcome(const std::string& path, const std::string& what) {
  auto r = FstTrace::from_file(path);
  if (const auto* e = std::get_if<std::string>(&r)) {
    const bool staged = e->rfind("FST open: ", 0) == 0 || e->rfind("FST hierarchy: ", 0) == 0 ||
                        e->rfind("FST signals: ", 0) == 0;
    EXPECT_TRUE(staged) << what << ": " << *e;
  }
}

void write_bytes(const std::filesystem::path& file, const std::vector<char>& bytes, std::size_t n) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(n));
}

class FstCorrupt : public testing::TestWithParam<FstWriter::Options> {};

TEST_P(FstCorrupt, EveryTruncationFailsCleanly) {
  TempDir dir;
  const std::vector<char> whole = write_sample(dir.path("ok.fst"), GetParam());
  const auto cut = dir.path("cut.fst");
  for (std::size_t n = 1; n < whole.size(); ++n) {
    write_bytes(cut, whole, n);
    expect_clean_outcome(cut.string(), "first " + std::to_string(n) + " bytes");
  }
}

TEST_P(FstCorrupt, ByteFlipsFailCleanly) {
  TempDir dir;
  const std::vector<char> whole = write_sample(dir.path("ok.fst"), GetParam());
  const auto bad = dir.path("bad.fst");
  std::mt19937 rng(12345);  // fixed: a failure must reproduce
  for (int round = 0; round < 600; ++round) {
    std::vector<char> bytes = whole;
    const int flips = 1 + round % 4;
    std::string what = "flips";
    for (int k = 0; k < flips; ++k) {
      const std::size_t at = rng() % bytes.size();
      bytes[at] = static_cast<char>(rng());
      what += " @" + std::to_string(at);
    }
    write_bytes(bad, bytes, bytes.size());
    expect_clean_outcome(bad.string(), what);
  }
}

INSTANTIATE_TEST_SUITE_P(Packings, FstCorrupt,
                         testing::Values(FstWriter::Options{FST_WR_PT_ZLIB, false, true},
                                         FstWriter::Options{FST_WR_PT_LZ4, false, true},
                                         FstWriter::Options{FST_WR_PT_FASTLZ, false, true},
                                         FstWriter::Options{FST_WR_PT_ZLIB, true, true}));

}  // namespace
}  // namespace quarn
