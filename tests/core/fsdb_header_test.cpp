// FSDB file check, the older layout, and the name scans shared by both
// layouts (identifiers, scopes, the file-tail scan).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fsdb_image.h"
#include "temp_dir.h"
#include "trace/fsdb_header.h"
#include "trace/fsdb_names.h"
#include "trace/fsdb_reader.h"

namespace quarn {
namespace {

using namespace fsdb_test;

std::string load_error(const ByteVec& content) {
  test::TempDir dir;
  auto got = FsdbTrace::from_file(dir.write("f.fsdb", content));
  return std::holds_alternative<std::string>(got) ? std::get<std::string>(got) : "";
}

ByteVec with_magic(std::size_t size, std::uint32_t magic) {
  Image img(12);
  img.be32(fsdb::kMagicOffset, magic);
  img.data.resize(size);
  return img.data;
}

struct CheckCase {
  const char* what;
  ByteVec content;
  std::string error;  // empty: loads
};

class FileCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(FileCheck, GivesTheMessageOrLoads) { EXPECT_EQ(load_error(GetParam().content), GetParam().error); }

// Sizes and other magics: tests/python.
INSTANTIATE_TEST_SUITE_P(
    Magic, FileCheck,
    ::testing::Values(CheckCase{"twelve bytes, older magic", with_magic(12, fsdb::kOlderMagic), ""},
                      CheckCase{"twelve bytes, newer magic", with_magic(12, fsdb::kNewerMagic), ""},
                      CheckCase{"read big-endian, upper-case digits", with_magic(12, 0xC199E0FD),
                                "Not an FSDB file (magic=0xC199E0FD)"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(FsdbOlderLayout, NamesAfterTheHeaderWithScopesAndNoValues) {
  Image img = Image(0);
  img.put(0, with_magic(12, fsdb::kOlderMagic));
  // A name inside the header region is not read.
  img.put(100, c_strings({"hidden.sig"}));
  img.put(fsdb::kOlderNamesOffset, cat({c_strings({"top.cpu.clk", "top.cpu.data[7]"}), bytes({0x05, 0x80}),
                                        c_strings({"top.mem", "top.cpu.clk", "3bad"})}));
  test::TempDir dir;
  auto got = FsdbTrace::from_file(dir.write("older.fsdb", img.data));
  ASSERT_TRUE(std::holds_alternative<RecordTrace>(got));
  const auto& t = std::get<RecordTrace>(got);
  EXPECT_EQ(t.signal_names(), (std::vector<std::string>{"top.cpu.clk", "top.cpu.data[7]", "top.mem"}));
  EXPECT_EQ(t.scopes(), (std::vector<std::string>{"top", "top.cpu"}));
}

struct IdentCase {
  const char* what;
  ByteVec data;
  std::vector<std::string> found;
};

class Identifiers : public ::testing::TestWithParam<IdentCase> {};

TEST_P(Identifiers, FoundInOrder) {
  EXPECT_EQ(fsdb::extract_identifiers(GetParam().data), GetParam().found) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Scan, Identifiers,
    ::testing::Values(
        IdentCase{"accepted forms", c_strings({"x", "_tmp", "a$b", "bus[3:0]", "top.u_1.q"}),
                  {"x", "_tmp", "a$b", "bus[3:0]", "top.u_1.q"}},
        IdentCase{"digit first", c_strings({"3abc"}), {}},
        IdentCase{"empty part", c_strings({"top..x", ".a", "a."}), {}},
        IdentCase{"part led by a digit", c_strings({"top.3x"}), {}},
        IdentCase{"forbidden characters", c_strings({"a-b", "a b", "a/b", "a{b", "a(b", "a=b", "a+b", "a\\b", "a@b"}),
                  {}},
        IdentCase{"artefact names", c_strings({"run.log", "simv.daidir", "x.tcl", "w.fsdb", "csrc", "my_simv"}), {}},
        IdentCase{"character outside the set", c_strings({"top.x%"}), {}},
        IdentCase{"not NUL-terminated", cat({text("top.x"), bytes({0x01}), c_strings({"ok"})}), {"ok"}},
        IdentCase{"data ends inside a run", cat({c_strings({"a"}), text("top.x")}), {"a"}},
        // The rejected run's tail ("b") is not tried on its own.
        IdentCase{"space inside a run", c_strings({"a b"}), {}},
        IdentCase{"duplicates kept", c_strings({"a", "a"}), {"a", "a"}},
        IdentCase{"a leading space byte is skipped", cat({bytes({0x20}), c_strings({"ab"})}), {"ab"}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

struct TailCase {
  const char* what;
  ByteVec tail;
  std::vector<std::string> found;
};

class TailNames : public ::testing::TestWithParam<TailCase> {};

TEST_P(TailNames, Found) { EXPECT_EQ(fsdb::scan_tail_names(GetParam().tail), GetParam().found) << GetParam().what; }

INSTANTIATE_TEST_SUITE_P(
    Scan, TailNames,
    ::testing::Values(
        TailCase{"marker then runs", cat({bytes({0x11, 0x02}), c_strings({"top", "clk", "3x"}), bytes({0x05})}),
                 {"top", "clk"}},
        TailCase{"0x04 before the marker skips", cat({bytes({0x04, 0x02}), c_strings({"top"}), bytes({0x01})}), {}},
        TailCase{"marker needs a letter after it", cat({bytes({0x02}), c_strings({"_x"}), bytes({0x01})}), {}},
        // No substring or dotted-part rules here.
        TailCase{"looser than the identifier scan", cat({bytes({0x02}), c_strings({"run.log", "a..b"}), bytes({9})}),
                 {"run.log", "a..b"}},
        TailCase{"space run is rejected, reading goes on",
                 cat({bytes({0x02}), c_strings({"ab", " x", "cd"}), bytes({0x01})}), {"ab", "cd"}},
        TailCase{"empty run stops the reading", cat({bytes({0x02}), c_strings({"ab", "", "cd"}), bytes({0x01})}),
                 {"ab"}},
        // A run ended by 0x02 hands that byte back to the scan as a new marker.
        TailCase{"run ended by a marker", cat({bytes({0x02}), text("ab"), bytes({0x02}), c_strings({"cd"}), bytes({1})}),
                 {"cd"}},
        TailCase{"run reaching the end", cat({bytes({0x02}), c_strings({"ab"}), text("cd")}), {"ab"}},
        TailCase{"marker as the last byte", bytes({0x41, 0x02}), {}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

}  // namespace
}  // namespace quarn
