// SHM databases on disk: finding the design and transition files from a
// directory or a file path, and whole loads through ShmTrace::from_file.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "shm_images.h"
#include "test_values.h"
#include "trace/shm_locate.h"
#include "trace/shm_reader.h"

namespace quarn {
namespace {

using namespace shm_test;
using namespace std::string_literals;
using Strings = std::vector<std::string>;

const std::string kFffd = "\xEF\xBF\xBD";

// ---- Path text -------------------------------------------------------------------

class LossyUtf8 : public testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(LossyUtf8, ReplacesEachInvalidSequenceOnce) { EXPECT_EQ(shm::lossy_utf8(GetParam().first), GetParam().second); }

INSTANTIATE_TEST_SUITE_P(
    Cases, LossyUtf8,
    testing::Values(std::pair{"run.dsn"s, "run.dsn"s}, std::pair{"\xE2\x82\xAC"s, "\xE2\x82\xAC"s},
                    std::pair{"\xF0\x9F\x98\x80"s, "\xF0\x9F\x98\x80"s}, std::pair{"\xFF.dsn"s, kFffd + ".dsn"},
                    std::pair{"a\xE2\x82"s, "a" + kFffd},                      // truncated sequence: one
                    std::pair{"\xF0\x9F\x98x"s, kFffd + "x"},                  // cut by an ASCII byte
                    std::pair{"\xED\xA0\x80"s, kFffd + kFffd + kFffd},         // surrogate
                    std::pair{"\xC0\xAF"s, kFffd + kFffd},                     // overlong
                    std::pair{"\xF4\x90\x80\x80"s, kFffd + kFffd + kFffd + kFffd}));  // past U+10FFFF

struct PathCase {
  std::string path, ext, trn_partner;
};

class PathParts : public testing::TestWithParam<PathCase> {};

TEST_P(PathParts, ExtensionAndPartner) {
  const PathCase& c = GetParam();
  EXPECT_EQ(shm::file_extension(c.path), c.ext);
  EXPECT_EQ(shm::partner_path(c.path, "trn"), c.trn_partner);
}

INSTANTIATE_TEST_SUITE_P(Cases, PathParts,
                         testing::Values(PathCase{"run.dsn", "dsn", "run.trn"},
                                         PathCase{"/db/run.final.dsn", "dsn", "/db/run.trn"},
                                         PathCase{"db.v2/run.DSN", "DSN", "db.v2/run.trn"},
                                         PathCase{"db/.dsn", "dsn", "db/.trn"},
                                         PathCase{"db/run..dsn", "dsn", "db/run.trn"},
                                         PathCase{"db/x.trn/", "trn", "db/x.trn"},
                                         PathCase{"db.v2/noext", "", "db.v2/noext.trn"},
                                         PathCase{"db/x.\xFF", "", "db/x.trn"}));

// ---- Locating files --------------------------------------------------------------

shm::ShmInputs inputs_of(const std::string& path) { return loaded(shm::resolve_inputs(path)); }

TEST(ResolveInputs, LastListedDesignFileWins) {
  TempDir dir;
  dir.write("one.dsn", "");
  dir.write("two.dsn", "");
  std::string last;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) last = e.path().string();
  EXPECT_EQ(inputs_of(dir.path().string()).dsn, last);
}

struct FileCase {
  const char* label;
  std::string given;  // inside the directory; "": the directory itself
  Strings existing;
  std::string dsn;  // empty: none
  Strings trns;
};

class ResolveFile : public testing::TestWithParam<FileCase> {};

TEST_P(ResolveFile, FindsThePartner) {
  const FileCase& c = GetParam();
  TempDir dir;
  for (const auto& name : c.existing) {
    std::filesystem::create_directories(dir.path(name).parent_path());
    dir.write(name, "");
  }
  const auto in = inputs_of(c.given.empty() ? dir.path().string() : dir / c.given);
  EXPECT_EQ(in.dsn, c.dsn.empty() ? std::nullopt : std::optional<std::string>(dir / c.dsn));
  Strings trns;
  for (const auto& t : c.trns) trns.push_back(dir / t);
  EXPECT_EQ(in.trns, trns);
}

// How the partner's name is made: PathParts above.
INSTANTIATE_TEST_SUITE_P(
    Cases, ResolveFile,
    testing::Values(FileCase{"design_with_partner", "run.dsn", {"run.dsn", "run.trn"}, "run.dsn", {"run.trn"}},
                    FileCase{"design_alone", "run.dsn", {"run.dsn", "other.trn"}, "run.dsn", {}},
                    FileCase{"transitions_with_partner", "run.trn", {"run.trn", "run.dsn"}, "run.dsn", {"run.trn"}},
                    FileCase{"missing_transitions", "gone.trn", {}, "", {"gone.trn"}},
                    FileCase{"other_extension_is_a_design", "wave.vcd", {"wave.vcd", "wave.trn"}, "wave.vcd", {}},
                    // Any suffix case; names without a hyphen first, each group in byte order.
                    FileCase{"directory",
                             "",
                             {"b.trn", "RUN.DSN", "a.Trn", "b-1.TRN", "notes.txt", "trn", "x.trnx"},
                             "RUN.DSN",
                             {"a.Trn", "b.trn", "b-1.TRN"}},
                    FileCase{"hyphen_in_the_directory_leaves_byte_order",
                             "x-y",
                             {"x-y/b.trn", "x-y/a.trn", "x-y/b-1.trn"},
                             "",
                             {"x-y/a.trn", "x-y/b-1.trn", "x-y/b.trn"}}),
    [](const testing::TestParamInfo<FileCase>& i) { return std::string(i.param.label); });

// ---- Whole loads -----------------------------------------------------------------

std::string design(const Strings& signals) {
  DsnImage d;
  for (const auto& s : signals) d.record(kSignal, s);
  return d.bytes;
}

RecordTrace load(const std::string& path) { return loaded(ShmTrace::from_file(path)); }

std::string load_error(const std::string& path) {
  auto r = ShmTrace::from_file(path);
  if (auto* e = std::get_if<std::string>(&r)) return *e;
  return "(loaded)";
}

std::vector<Time> times_of(const Trace& t) {
  std::vector<Time> out;
  for (Index i = 0; i <= t.max_index(); ++i) out.push_back(t.timestamp(i));
  return out;
}

// Values of one signal at every index: "0", "1" or "E".
std::string values_of(const Trace& t, const std::string& name) {
  std::string out;
  for (Index i = 0; i <= t.max_index(); ++i) {
    const SignalValue v = t.signal_value(name, i);
    out += v.tag() == ValueTag::Empty ? "E" : v.tag() == ValueTag::Bits ? std::to_string(v.as_bits()) : "?";
  }
  return out;
}

// One database loaded from its directory, design or transition file, and
// the failure messages: tests/python.

// Regression: with several transition files, earlier files' values were read
// at the last file's time steps. Each file's changes stay at their own times.
TEST(ShmTrace, TwoTransitionFilesKeepTheirOwnTimes) {
  TempDir dir;
  dir.write("run.dsn", design({"p", "q"}));
  TrnImage a;
  a.block({300, 2, "\x10", ""});  // p: 1, then 0 at 100, 1 at 200
  dir.write("a.trn", a.bytes);
  TrnImage b;
  b.block({0, 1, "", ""});        // no values: moves on to q
  b.block({250, 1, "\x10", ""});  // q: 1, then 0 at 125
  dir.write("b.trn", b.bytes);
  const RecordTrace trace = load(dir.path().string());
  EXPECT_EQ(times_of(trace), (std::vector<Time>{0, 100, 125, 200, 250, 300}));
  EXPECT_EQ(values_of(trace, "p"), "100111");
  EXPECT_EQ(values_of(trace, "q"), "110000");
}

TEST(ShmTrace, UnusableTransitionFilesAreSkipped) {
  TempDir dir;
  dir.write("run.dsn", design({"p"}));
  dir.write("a.trn", "short");
  dir.write("b.trn", TrnImage(0, 0x12345678).bytes);
  std::filesystem::create_directory(dir.path() / "c.trn");
  TrnImage good;
  good.block({40, 1, "\x08", ""});
  dir.write("d.trn", good.bytes);
  const RecordTrace trace = load(dir.path().string());
  EXPECT_EQ(times_of(trace), (std::vector<Time>{0, 20, 40}));
  EXPECT_EQ(values_of(trace, "p"), "011");
}

TEST(ShmTrace, WithoutTransitionFilesNamesHaveNoValues) {
  TempDir dir;
  const std::string dsn = dir.write("run.dsn", design({"p"}));
  std::filesystem::create_directory(dir.path() / "run.trn");  // a partner that cannot be read
  const RecordTrace trace = load(dsn);
  EXPECT_EQ(trace.signal_names(), Strings{"p"});
  EXPECT_EQ(times_of(trace), std::vector<Time>{0});
  EXPECT_EQ(values_of(trace, "p"), "E");
}

TEST(ShmTrace, WithoutNamesTransitionFilesAreNotDecoded) {
  TempDir dir;
  TrnImage t;
  t.block({300, 2, "\x10", ""});
  dir.write("a.trn", t.bytes);
  const RecordTrace only_trn = load(dir.path().string());
  EXPECT_TRUE(only_trn.signal_names().empty());
  EXPECT_EQ(times_of(only_trn), std::vector<Time>{0});
  // A transition file that does not exist and has no design file loads too.
  const RecordTrace missing = load(dir / "gone.trn");
  EXPECT_TRUE(missing.signal_names().empty());
  EXPECT_EQ(times_of(missing), std::vector<Time>{0});
}

TEST(ShmTrace, PathWithANulFails) {
  TempDir dir;
  // A NUL must not cut the path short: neither the directory nor the partner
  // before it may be used.
  dir.write("p.dsn", design({"p"}));
  EXPECT_EQ(load_error(dir.path().string() + "\0/x"s), "DSN: Invalid argument");
  EXPECT_EQ(load_error(dir / "p.dsn" + "\0.dsn"s), "DSN: Invalid argument");
  // Here the partner p.dsn is real; the transition file is not (cut at the
  // NUL it would be p.dsn itself, read as transitions).
  EXPECT_EQ(values_of(load(dir / "p.dsn" + "\0.trn"s), "p"), "E");
}

TEST(ShmTrace, EntryNameThatIsNotUtf8CannotBeOpened) {
  TempDir dir;
  dir.write("\xFF.dsn", design({"p"}));
  EXPECT_EQ(inputs_of(dir.path().string()).dsn, dir.path().string() + "/" + kFffd + ".dsn");
  EXPECT_EQ(load_error(dir.path().string()), "DSN: No such file or directory");
}

}  // namespace
}  // namespace quarn
