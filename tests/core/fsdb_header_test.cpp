// FSDB file check, the older layout, and the name scans shared by both
// layouts (identifiers, scopes, the file-tail scan).

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fsdb_image.h"
#include "test_values.h"
#include "trace/dotted_scopes.h"
#include "trace/fsdb_header.h"
#include "trace/fsdb_names.h"
#include "trace/fsdb_reader.h"

namespace quarn {
namespace {

using namespace fsdb_test;
using fsdb::Bytes;

class TempFile {
 public:
  explicit TempFile(const ByteVec& content) {
    path_ = (std::filesystem::temp_directory_path() / ("quarn_fsdb_" + std::to_string(::getpid()) + "_" +
                                                       std::to_string(counter_++) + ".fsdb"))
                .string();
    std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(content.data()), content.size());
  }
  ~TempFile() { std::filesystem::remove(path_); }
  const std::string& path() const { return path_; }

 private:
  static inline int counter_ = 0;
  std::string path_;
};

std::string load_error(const ByteVec& content) {
  TempFile f(content);
  auto got = FsdbTrace::from_file(f.path());
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

INSTANTIATE_TEST_SUITE_P(
    Magic, FileCheck,
    ::testing::Values(CheckCase{"eleven bytes, right magic", with_magic(11, fsdb::kOlderMagic), "FSDB file too small"},
                      CheckCase{"empty file", {}, "FSDB file too small"},
                      CheckCase{"twelve bytes, older magic", with_magic(12, fsdb::kOlderMagic), ""},
                      CheckCase{"twelve bytes, newer magic", with_magic(12, fsdb::kNewerMagic), ""},
                      CheckCase{"other magic", with_magic(12, 0x12345678), "Not an FSDB file (magic=0x12345678)"},
                      CheckCase{"leading zeros kept", with_magic(12, 0x000000AB), "Not an FSDB file (magic=0x000000AB)"},
                      CheckCase{"upper-case digits", with_magic(40, 0xFDE099C2), "Not an FSDB file (magic=0xFDE099C2)"},
                      CheckCase{"magic read big-endian", with_magic(12, 0xC199E0FD), "Not an FSDB file (magic=0xC199E0FD)"}),
    [](const auto& info) {
      std::string s = info.param.what;
      for (char& c : s)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return s;
    });

TEST(FsdbRead, MissingFileAndDirectoryGiveTheSystemText) {
  const std::string missing = "/nonexistent/quarn/none.fsdb";
  EXPECT_EQ(std::get<std::string>(FsdbTrace::from_file(missing)),
            "Failed to read " + missing + ": " + std::strerror(ENOENT));
  const std::string dir = std::filesystem::temp_directory_path().string();
  EXPECT_EQ(std::get<std::string>(FsdbTrace::from_file(dir)), "Failed to read " + dir + ": " + std::strerror(EISDIR));
  // A NUL would make the system open a shorter path.
  TempFile f(with_magic(12, fsdb::kOlderMagic));
  const std::string with_nul = f.path() + std::string(1, '\0') + "x";
  EXPECT_EQ(std::get<std::string>(FsdbTrace::from_file(with_nul)),
            "Failed to read " + with_nul + ": " + std::strerror(EINVAL));
}

TEST(FsdbOlderLayout, NamesAfterTheHeaderWithScopesAndNoValues) {
  Image img = Image(0);
  img.put(0, with_magic(12, fsdb::kOlderMagic));
  // A name inside the header region is not read.
  img.put(100, c_strings({"hidden.sig"}));
  img.put(fsdb::kOlderNamesOffset, cat({c_strings({"top.cpu.clk", "top.cpu.data[7]"}), bytes({0x05, 0x80}),
                                        c_strings({"top.mem", "top.cpu.clk", "3bad"})}));
  TempFile f(img.data);
  auto got = FsdbTrace::from_file(f.path());
  ASSERT_TRUE(std::holds_alternative<RecordTrace>(got));
  const auto& t = std::get<RecordTrace>(got);
  EXPECT_EQ(t.signal_names(), (std::vector<std::string>{"top.cpu.clk", "top.cpu.data[7]", "top.mem"}));
  EXPECT_EQ(t.scopes(), (std::vector<std::string>{"top", "top.cpu"}));
  for (SignalId id = 0; id < 3; ++id) {
    EXPECT_EQ(t.signal_id(t.signal_names()[id]), id);
    EXPECT_EQ(t.signal_width(t.signal_names()[id]), 1u);
  }
  EXPECT_EQ(t.max_index(), 0u);
  EXPECT_EQ(t.timestamp(0), 0u);
  EXPECT_EQ(t.record().timestamps.size(), 1u);
  EXPECT_EQ(t.signal_value("top.mem", 0), SignalValue::empty());
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

TEST(Scopes, SortedDistinctProperPrefixes) {
  EXPECT_EQ(derive_scopes({"b.c.d", "a.x", "b.y"}), (std::vector<std::string>{"a", "b", "b.c"}));
  // Byte order: "a" < "a.b" < "ab".
  EXPECT_EQ(derive_scopes({"ab.z", "a.b.c", "plain"}), (std::vector<std::string>{"a", "a.b", "ab"}));
  EXPECT_TRUE(derive_scopes({"x", "y"}).empty());
}

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
