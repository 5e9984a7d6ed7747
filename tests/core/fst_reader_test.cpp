// The FST reader on files written by the FST library's own writer, with
// every block compression and with the whole file gzipped.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <variant>
#include <vector>

#include "fst_test_writer.h"
#include "test_values.h"
#include "trace/fst_trace.h"

namespace quarn {
namespace {

using test::FstWriter;
using test::TempDir;

struct Packing {
  const char* name;
  FstWriter::Options options;
};

class FstReaderPacking : public testing::TestWithParam<Packing> {};

// The design of test::write_design.
TEST_P(FstReaderPacking, LoadsNamesWidthsTimesAndValues) {
  TempDir dir;
  const auto file = dir.path("d.fst");
  test::write_design(file, GetParam().options);
  const RecordTrace t = loaded(FstTrace::from_file(file.string()));
  EXPECT_EQ(t.signal_names(), (std::vector<std::string>{"top_flag", "top.clk", "top.bus", "top.clk_alias", "top.clk#2",
                                                         "top.temp", "top.msg", "top.wide", "top.sub.b"}));
  EXPECT_EQ(t.scopes(), (std::vector<std::string>{"top", "top.sub"}));
  EXPECT_EQ(t.signal_id("top.clk"), t.signal_id("top.clk_alias"));
  EXPECT_EQ(t.signal_id("top.bus"), t.signal_id("top.sub.b"));
  EXPECT_EQ(t.signal_width("top.temp"), 64u);
  EXPECT_EQ(t.signal_width("top.msg"), 0u);
  EXPECT_EQ(t.signal_width("top.wide"), 100u);
  EXPECT_EQ(t.signal_width("no.such"), 1u);

  ASSERT_EQ(t.max_index(), 4u);
  EXPECT_EQ((std::vector<Time>{t.timestamp(0), t.timestamp(1), t.timestamp(2), t.timestamp(3), t.timestamp(4)}),
            (std::vector<Time>{0, 10, 20, 30, 40}));

  // The values from before the first step get index 0, at the start time.
  EXPECT_EQ(t.signal_value("top_flag", 0), SignalValue::bits(1));
  EXPECT_EQ(t.signal_value("top_flag", 4), SignalValue::bits(1));
  EXPECT_EQ(t.signal_values_range("top.clk", 0, 5),
            (std::vector<SignalValue>{SignalValue::bits(0), SignalValue::bits(1), SignalValue::bits(0),
                                      SignalValue::bits(0), SignalValue::bits(0)}));
  EXPECT_EQ(t.signal_values_range("top.sub.b", 0, 4),
            (std::vector<SignalValue>{SignalValue::logic(std::vector<std::uint8_t>(8, 2)), SignalValue::bits(5),
                                      SignalValue::bits(5), SignalValue::logic({0, 0, 0, 0, 3, 1, 0, 1})}));
  EXPECT_EQ(t.signal_value("top.temp", 0), SignalValue::real(1.5));
  EXPECT_EQ(t.signal_value("top.temp", 2), SignalValue::real(-2.25));
  EXPECT_EQ(t.signal_value("top.msg", 0), SignalValue::empty());
  EXPECT_EQ(t.signal_value("top.msg", 1), SignalValue::text("false"));
  EXPECT_EQ(t.signal_value("top.msg", 4), SignalValue::text("hello"));
  EXPECT_EQ(t.signal_value("top.wide", 1), SignalValue::bits(1));
  EXPECT_EQ(t.signal_value("top.wide", 2), SignalValue::wide_bits({0, std::uint64_t{1} << 35}));
  EXPECT_EQ(t.signal_value("top.clk", 5), SignalValue::empty());  // past the end
}

INSTANTIATE_TEST_SUITE_P(
    Packings, FstReaderPacking,
    testing::Values(Packing{"zlib", {FST_WR_PT_ZLIB, false, true}}, Packing{"fastlz", {FST_WR_PT_FASTLZ, false, true}},
                    Packing{"lz4", {FST_WR_PT_LZ4, false, true}}, Packing{"lz4_gzipped", {FST_WR_PT_LZ4, true, true}},
                    Packing{"zlib_gzipped", {FST_WR_PT_ZLIB, true, true}}),
    [](const testing::TestParamInfo<Packing>& i) { return i.param.name; });

std::string load_error(const std::string& path) {
  auto r = FstTrace::from_file(path);
  return std::holds_alternative<std::string>(r) ? std::get<std::string>(r) : "(loaded)";
}

// Missing files, directories and other formats are checked in tests/python.
TEST(FstReaderErrors, PathsThatNameNoReadableFile) {
  // A NUL must not cut the path short to one that exists.
  EXPECT_EQ(load_error(std::string("a\0b", 3)), "Failed to open " + std::string("a\0b", 3) + ": Invalid argument");
  // Refused at once, not read until the end that never comes.
  EXPECT_EQ(load_error("/dev/zero"), "Failed to open /dev/zero: not a regular file");
}

// Header counts the blocks do not bear out are noted, first one first, and
// the file loads as its blocks say.
TEST(FstReaderReport, NotesHeaderCountsTheBlocksDisagreeWith) {
  TempDir dir;
  const auto file = dir.path("d.fst");
  test::write_design(file, {});
  auto r = FstTrace::from_file(file.string());
  ASSERT_TRUE(std::holds_alternative<RecordTrace>(r));
  std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(9 + 32);  // type, length, start and end time, byte order, memory
  f.write("\0\0\0\x01\0\0\0\0", 8);  // scopes: 2^32
  f.seekp(9 + 56);  // value change blocks
  f.write("\0\0\0\0\0\0\0\x07", 8);
  f.close();
  LoadControl never;
  LoadReport noted;
  auto patched = FstTrace::from_file(file.string(), never, &noted);
  ASSERT_TRUE(std::holds_alternative<RecordTrace>(patched));
  EXPECT_EQ(std::get<RecordTrace>(patched).signal_names(), std::get<RecordTrace>(r).signal_names());
  EXPECT_EQ(noted.problems, 2u);
  EXPECT_EQ(noted.first, "FST header: declares 4294967296 scopes, the file holds 3");
}

// Stopped at poll k for every k (each advance polls here), the load unwinds
// with kLoadInterrupted, from the gzip wrapper to the pool's value loading.
TEST(FstReaderStops, UnwindsAtEveryPoll) {
  TempDir dir;
  const auto file = dir.path("d.fst");
  test::write_design(file, {FST_WR_PT_LZ4, true, true});
  expect_stops_at_every_poll([&](LoadControl& control) { return FstTrace::from_file(file.string(), control); }, 3);
}

TEST(FstReaderSideFiles, IgnoresAHierFileBesideTheTrace) {
  // The library would read "<path>.hier" in place of the file's own hierarchy.
  TempDir dir;
  const auto file = dir.path("d.fst");
  test::write_design(file, {});
  std::ofstream(file.string() + ".hier") << "garbage that is no hierarchy";
  auto r = FstTrace::from_file(file.string());
  ASSERT_TRUE(std::holds_alternative<RecordTrace>(r));
  EXPECT_EQ(std::get<RecordTrace>(r).signal_names().size(), 9u);
  // Nothing of the library's scratch files is left beside the trace.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 2u);
}

TEST(FstReaderRefusals, FilesTheLibraryCannotWalk) {
  TempDir dir;
  // No value change at all: the writer leaves an empty block, and the library
  // opens no file without a value change block anyway.
  const auto quiet = dir.path("quiet.fst");
  {
    FstWriter w(quiet, {});
    w.scope("t");
    w.var("a", 1);
    w.upscope();
    w.time(0);
  }
  EXPECT_EQ(load_error(quiet), "FST open: unfinished file (empty block at byte 330)");
}

// Copies the FST file `from` to `to` without its geometry block.
void drop_geometry(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::ifstream in(from, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string kept;
  for (std::size_t pos = 0; pos + 9 <= bytes.size();) {
    std::uint64_t len = 0;
    for (std::size_t i = 1; i <= 8; ++i) len = (len << 8) | static_cast<std::uint8_t>(bytes[pos + i]);
    if (bytes[pos] != 3) kept.append(bytes, pos, 1 + len);
    pos += 1 + len;
  }
  std::ofstream(to, std::ios::binary) << kept;
}

// A file whose hierarchy the writer kept in "<path>.hier" reads it from
// there (and without a geometry block, the sizes too), and says what is
// missing without it.
TEST(FstReaderSideFiles, ReadsTheHierarchySideFileOfAFileWithoutHierarchyBlock) {
  TempDir dir;
  const auto embedded = dir.path("embedded.fst");
  test::write_design(embedded, {FST_WR_PT_ZLIB, false, true});
  const auto side = dir.path("side.fst");
  test::write_design(side, {FST_WR_PT_ZLIB, false, false});
  const auto bare = dir.path("bare.fst");
  drop_geometry(side, bare);
  std::filesystem::copy_file(side.string() + ".hier", bare.string() + ".hier");
  auto e = FstTrace::from_file(embedded.string());
  ASSERT_TRUE(std::holds_alternative<RecordTrace>(e));
  const RecordTrace& want = std::get<RecordTrace>(e);
  for (const auto& file : {side, bare}) {
    auto r = FstTrace::from_file(file.string());
    ASSERT_TRUE(std::holds_alternative<RecordTrace>(r)) << file << ": " << std::get<std::string>(r);
    const RecordTrace& t = std::get<RecordTrace>(r);
    ASSERT_EQ(t.signal_names(), want.signal_names()) << file;
    for (const std::string& name : want.signal_names()) {
      EXPECT_EQ(t.signal_width(name), want.signal_width(name)) << file << " " << name;
      EXPECT_EQ(t.signal_values_range(name, 0, 5), want.signal_values_range(name, 0, 5)) << file << " " << name;
    }
  }

  const std::string hier = side.string() + ".hier";
  std::filesystem::remove(hier);
  std::filesystem::create_directory(hier);
  EXPECT_EQ(load_error(side), "FST open: no hierarchy block, and the side file " + hier + " is not a regular file");
}

}  // namespace
}  // namespace quarn
