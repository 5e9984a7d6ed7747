// Timescales, time strings, packed byte sources and format detection from a
// file's first bytes. Timescales read from VCD text, lookups by time and
// packed VCD files are checked through the module in tests/python.

#include <bzlib.h>
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <string>
#include <vector>

#include "temp_dir.h"
#include "trace/byte_source.h"
#include "trace/format_detect.h"
#include "trace/timescale.h"

namespace quarn {
namespace {

struct TimescaleCase {
  const char* text;
  std::optional<Timescale> expected;
};

class ParseTimescale : public ::testing::TestWithParam<TimescaleCase> {};

TEST_P(ParseTimescale, AsDeclared) { EXPECT_EQ(parse_timescale(GetParam().text), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Cases, ParseTimescale,
                         ::testing::Values(TimescaleCase{"1ns", Timescale{1, -9}}, TimescaleCase{" 100 ps ", Timescale{100, -12}},
                                           TimescaleCase{"10s", Timescale{10, 0}}, TimescaleCase{"244 ns", Timescale{244, -9}},
                                           TimescaleCase{"1 fs", Timescale{1, -15}}, TimescaleCase{"ns", std::nullopt},
                                           TimescaleCase{"0ns", std::nullopt}, TimescaleCase{"1 hour", std::nullopt},
                                           TimescaleCase{"99999999999 ns", std::nullopt}));

TEST(TimescaleFromExponent, SplitsIntoMagnitudeAndUnit) {
  EXPECT_EQ(timescale_from_exponent(-9), (Timescale{1, -9}));
  EXPECT_EQ(timescale_from_exponent(-10), (Timescale{100, -12}));
  EXPECT_EQ(timescale_from_exponent(-11), (Timescale{10, -12}));
  EXPECT_EQ(timescale_from_exponent(2), (Timescale{100, 0}));
  EXPECT_EQ(timescale_from_exponent(-19), std::nullopt);
}

struct TimeCase {
  const char* text;
  std::optional<Timescale> scale;
  std::optional<Time> ticks;
};

class ParseTime : public ::testing::TestWithParam<TimeCase> {};

TEST_P(ParseTime, ExactAndRoundedDown) {
  std::string error;
  const auto got = parse_time(GetParam().text, GetParam().scale, error);
  EXPECT_EQ(got, GetParam().ticks) << GetParam().text;
  EXPECT_EQ(error.empty(), got.has_value());
}

constexpr Timescale kNs{1, -9};
constexpr Timescale k100Ps{100, -12};

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseTime,
    ::testing::Values(TimeCase{"120", std::nullopt, 120}, TimeCase{"18446744073709551615", std::nullopt, ~Time{0}},
                      TimeCase{"18446744073709551616", std::nullopt, std::nullopt},
                      TimeCase{"1.2us", kNs, 1200}, TimeCase{"1.2 us", k100Ps, 12000}, TimeCase{"250ps", k100Ps, 2},
                      TimeCase{"1ps", kNs, 0}, TimeCase{"0.5", kNs, std::nullopt}, TimeCase{"1ns", std::nullopt, std::nullopt},
                      TimeCase{"3 years", kNs, std::nullopt}, TimeCase{"", kNs, std::nullopt},
                      TimeCase{"1e3ns", kNs, std::nullopt}, TimeCase{"20000000000 s", kNs, std::nullopt},
                      TimeCase{"18446744073.709551615 s", kNs, ~Time{0}}));

// Packers as the command-line tools would write.
std::string gzip_pack(const std::string& in) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, in.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string bzip2_pack(const std::string& in) {
  std::string out(in.size() + in.size() / 100 + 700, '\0');
  unsigned size = static_cast<unsigned>(out.size());
  BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(in.data()), static_cast<unsigned>(in.size()), 9, 0, 0);
  out.resize(size);
  return out;
}

std::string zstd_pack(const std::string& in) {
  std::string out(ZSTD_compressBound(in.size()), '\0');
  out.resize(ZSTD_compress(out.data(), out.size(), in.data(), in.size(), 3));
  return out;
}

class PackedFile : public ::testing::TestWithParam<std::string (*)(const std::string&)> {};

std::string read_all(ByteSource& src, std::string& error) {
  std::string out;
  char buf[777];  // odd size: reads end mid-block
  for (long got; (got = src.read(buf, sizeof buf)) != 0;) {
    if (got < 0) {
      error = src.error();
      break;
    }
    out.append(buf, static_cast<std::size_t>(got));
  }
  return out;
}

TEST_P(PackedFile, DecodesWholeJoinedAndRefusesCutData) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "#" + std::to_string(i) + "\nb" + std::to_string(i % 2) + " !\n";
  const auto pack = GetParam();
  // Two packed pieces one after the other read as their joined content.
  const test::TempDir dir;
  auto opened = open_byte_source(dir.write("joined", pack(text.substr(0, 1000)) + pack(text.substr(1000))));
  ASSERT_EQ(opened.index(), 0u);
  std::string error;
  EXPECT_EQ(read_all(*std::get<0>(opened), error), text);
  EXPECT_EQ(error, "");

  const std::string whole = pack(text);
  const std::string cut_path = dir.write("cut", whole.substr(0, whole.size() / 2));
  auto cut = open_byte_source(cut_path);
  read_all(*std::get<0>(cut), error);
  EXPECT_NE(error.find("Failed to read " + cut_path + ": corrupt"), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Packers, PackedFile, ::testing::Values(&gzip_pack, &bzip2_pack, &zstd_pack));

struct HeadCase {
  std::string head;
  TraceFormat format;
};

class FormatOfHead : public ::testing::TestWithParam<HeadCase> {};

TEST_P(FormatOfHead, FromFirstBytes) { EXPECT_EQ(format_of_head(GetParam().head), GetParam().format); }

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s.push_back(static_cast<char>(c));
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatOfHead,
    ::testing::Values(HeadCase{"$date today $end", TraceFormat::Vcd}, HeadCase{"\xEF\xBB\xBF\r\n  #0\n", TraceFormat::Vcd},
                      HeadCase{bytes({0, 0, 0, 0, 0, 0, 0, 1, 0x49, 0}), TraceFormat::Fst},
                      HeadCase{bytes({0xFE, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 9, 0x1F, 0x8B}), TraceFormat::Fst},
                      HeadCase{bytes({0, 0, 0, 0, 0xFD, 0xE0, 0x99, 0xC1}), TraceFormat::Fsdb},
                      HeadCase{bytes({0x78, 0x56, 0x34, 0x12}), TraceFormat::Vpd},
                      HeadCase{bytes({0xA1, 0x95, 0x11, 0xBF}), TraceFormat::Shm},
                      HeadCase{std::string("$var\0", 5), TraceFormat::Unknown}, HeadCase{"", TraceFormat::Unknown},
                      HeadCase{"hello", TraceFormat::Unknown}));

}  // namespace
}  // namespace quarn
