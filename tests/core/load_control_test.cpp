// Loads stopped by their load control: wherever the stop comes, the reader
// unwinds (test_values.h); the FST reader's stops are in fst_reader_test.cpp.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <variant>

#include "shm_images.h"
#include "test_values.h"
#include "trace/fsdb_reader.h"
#include "trace/load_control.h"
#include "trace/shm_reader.h"
#include "trace/vpd_reader.h"
#include "trace/wlf_reader.h"

namespace quarn {
namespace {

using Load = std::function<std::variant<RecordTrace, std::string>(const std::string&, LoadControl&)>;

struct Reader {
  const char* name;
  Load load;
  std::string file;  // written into the directory; "" loads the directory
  std::string bytes;
};

std::string shm_design() {
  shm_test::DsnImage d;
  d.record(shm_test::kScopeDef, "top");
  for (const char* name : {"a", "b", "c"}) d.record(shm_test::kSignal, name);
  return d.bytes;
}

std::string shm_transitions() {
  shm_test::TrnImage t;
  t.block({300, 2, "\x10\x08\x10", ""});
  t.block({600, 4, "\x10\x08\x10", ""});
  return t.bytes;
}

class StoppedLoad : public testing::TestWithParam<Reader> {};

TEST_P(StoppedLoad, UnwindsAtEveryPollAndOtherwiseLoadsAsAlways) {
  const Reader& r = GetParam();
  shm_test::TempDir dir;
  std::ofstream(dir / r.file, std::ios::binary) << r.bytes;
  if (std::string(r.name) == "shm") std::ofstream(dir / "run.dsn", std::ios::binary) << shm_design();
  const std::string path = std::string(r.name) == "shm" ? dir.path().string() : dir / r.file;
  expect_stops_at_every_poll([&](LoadControl& control) { return r.load(path, control); }, 1);
}

std::string with_header(std::string head, std::size_t size) {
  head.resize(size, '\0');
  return head;
}

INSTANTIATE_TEST_SUITE_P(
    Readers, StoppedLoad,
    testing::Values(
        Reader{"fsdb", [](const std::string& p, LoadControl& c) { return FsdbTrace::from_file(p, c); }, "t.fsdb",
               with_header(std::string("\0\0\0\0\x1C\x3E\xD9\x48x\x9C", 10), 20000)},
        Reader{"wlf", [](const std::string& p, LoadControl& c) { return WlfTrace::from_file(p, c); }, "t.wlf",
               with_header("", 3 * 8192)},
        Reader{"vpd", [](const std::string& p, LoadControl& c) { return VpdTrace::from_file(p, c); }, "t.vpd",
               with_header(std::string("\x78\x56\x34\x12", 4), 4096)},
        Reader{"shm", [](const std::string& p, LoadControl& c) { return ShmTrace::from_file(p, c); }, "run.trn",
               shm_transitions()}),
    [](const testing::TestParamInfo<Reader>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace quarn
