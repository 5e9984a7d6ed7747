// FST files written by real simulators and converters (../shared/corpus, see
// its README for each file's origin; Debian gtkwave's examples), loaded here
// under the sanitizers. Their values are compared with other readers' in
// tests/python.

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

}  // namespace
}  // namespace quarn
