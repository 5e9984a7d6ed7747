// The VCD reader: line classification through a recording sink, whole traces
// through VcdTrace::parse, and file reading against string parsing.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "same_trace.h"
#include "test_values.h"
#include "trace/vcd_line_parser.h"
#include "trace/vcd_trace.h"

namespace quarn {
namespace {

// Records each event as text; "[...]" shows exact string contents.
struct RecordingSink {
  std::vector<std::string> events;
  void scope(std::string_view name) { events.push_back("scope [" + std::string(name) + "]"); }
  void upscope() { events.push_back("upscope"); }
  void var(Width width, std::string_view code, std::string_view reference) {
    events.push_back("var " + std::to_string(width) + " [" + std::string(code) + "] [" + std::string(reference) + "]");
  }
  void timestamp(Time time) { events.push_back("time " + std::to_string(time)); }
  void scalar(std::string_view code, ScalarKind kind) {
    static const char* const kinds[] = {"0", "1", "x", "z"};
    events.push_back(std::string("scalar ") + kinds[static_cast<int>(kind)] + " [" + std::string(code) + "]");
  }
  void vector(std::string_view digits, std::string_view code) {
    events.push_back("vector [" + std::string(digits) + "] [" + std::string(code) + "]");
  }
  void real(double value, std::string_view code) {
    std::ostringstream v;
    v << value;
    events.push_back("real " + v.str() + " [" + std::string(code) + "]");
  }
};

struct LineCase {
  std::string line;
  std::string want;  // the one event, or "" for a skipped line
};

TEST(VcdLine, Classification) {
  const LineCase cases[] = {
      // Line ends, encoding, trimming of Unicode white space.
      {"", ""}, {"\r", ""}, {"1!\r", "scalar 1 [!]"},
      {"1!\r!", "scalar 1 [!\r!]"},  // a lone CR inside a line is kept
      {" \u00A01!\u3000\t", "scalar 1 [!]"}, {"1!\u200B", "scalar 1 [!\u200B]"},
      {"1!\xff", ""}, {"\xC3", ""}, {"$var wire 1 ! a\xC0\x80 $end", ""},
      // Keywords are prefixes; a scope takes its third field, whatever it is.
      {"$scope module top $end", "scope [top]"}, {"$scopeX a b", "scope [b]"},
      {"$scope module $end", "scope [$end]"}, {"$scope module", ""},
      {"$scope\u3000module\u00A0top", "scope [top]"}, {"$upscope $end", "upscope"}, {"$upscopeX", "upscope"},
      {"$enddefinitions $end", ""}, {"$dumpvars", ""}, {"$end", ""}, {"$comment 1!", ""},
      // Variables: width (default 1), code, reference cut at '['.
      {"$var wire 8 # data [7:0] $end", "var 8 [#] [data]"}, {"$var wire 8 # data[7:0] $end", "var 8 [#] [data]"},
      {"$var wire 1 ! a[1][2]", "var 1 [!] [a]"}, {"$var wire 1 ! [0] $end", "var 1 [!] []"},
      {"$var wire x ! v $end", "var 1 [!] [v]"}, {"$var wire -1 ! v $end", "var 1 [!] [v]"},
      {"$var wire 4294967296 ! v", "var 1 [!] [v]"}, {"$var wire +8 ! v $end", "var 8 [!] [v]"},
      {"$var wire 0 ! v $end", "var 0 [!] [v]"}, {"$var wire 1 !", ""},
      {"$varx wire 2 ab c", "var 2 [ab] [c]"}, {"$var\twire\u30001 ! v", "var 1 [!] [v]"},
      // Timestamps: the rest trimmed, then optional '+' and digits, else 0.
      {"#10", "time 10"}, {"# 7 ", "time 7"}, {"#+5", "time 5"}, {"#-1", "time 0"}, {"#", "time 0"},
      {"#abc", "time 0"}, {"#10 1!", "time 0"}, {"#18446744073709551615", "time 18446744073709551615"},
      {"#18446744073709551616", "time 0"},
      // Scalars: the code is the rest of the line, not trimmed again.
      {"0!", "scalar 0 [!]"}, {"1 !", "scalar 1 [ !]"}, {"0 !", "scalar 0 [ !]"}, {"z\t!", "scalar z [\t!]"},
      {"1", "scalar 1 []"}, {"X#", "scalar x [#]"}, {"Z#", "scalar z [#]"}, {"q!", ""},
      // Vectors and reals: split at the first single space.
      {"b1010 #", "vector [b1010] [#]"}, {"b1010   #", "vector [b1010] [#]"}, {"B1 x y", "vector [B1] [x y]"},
      {"b1\r #", "vector [b1\r] [#]"}, {"b1010\t#", ""}, {"b1010", ""},
      {"r3.25 %", "real 3.25 [%]"}, {"R-1.5e3 %", "real -1500 [%]"}, {"rfoo %", "real 0 [%]"},
      {"r1_0 %", "real 0 [%]"}, {"r %", "real 0 [%]"}, {"r3.25\t%", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("line \"" + c.line + "\"");
    RecordingSink sink;
    parse_vcd_line(c.line, sink);
    if (c.want.empty()) {
      EXPECT_TRUE(sink.events.empty()) << sink.events.front();
    } else {
      ASSERT_EQ(sink.events.size(), 1u);
      EXPECT_EQ(sink.events[0], c.want);
    }
  }
}

struct ValueAt {
  std::string name;
  Index index;
  SignalValue want;
};

struct TraceCase {
  const char* label;
  std::string text;
  std::vector<std::string> names;
  std::vector<std::string> scopes;
  std::vector<Time> times;
  std::vector<ValueAt> values;
  std::vector<std::pair<std::string, Width>> widths = {};
};

const std::string kWideOne = "b1" + std::string(64, '0');     // 2^64
const std::string kWideThree = "b11" + std::string(64, '0');  // 3 * 2^64

const TraceCase kTraceCases[] = {
    {"basic",
     "$scope module top $end\n$var wire 1 ! clk $end\n$upscope $end\n#0\n1!\n#10\n0!\n",
     {"top.clk"}, {"top"}, {0, 10},
     {{"top.clk", 0, SignalValue::bits(1)}, {"top.clk", 1, SignalValue::bits(0)}, {"top.clk", 2, SignalValue::empty()}},
     {{"top.clk", 1}}},
    {"nested and reopened scopes",
     "$scope module a $end\n$scope module b $end\n$var wire 1 ! v $end\n$upscope $end\n"
     "$scope module b $end\n$var wire 1 \" w $end\n$upscope $end\n$upscope $end\n$upscope $end\n"
     "$var wire 1 # top $end\n",
     {"a.b.v", "a.b.w", "top"}, {"a", "a.b"}, {}, {{"a.b.v", 0, SignalValue::empty()}}},
    {"bit ranges cut from names",
     "$var wire 8 # data [7:0] $end\n$var wire 8 $ bus[7:0] $end\n#0\nb1010 #\n",
     {"data", "bus"}, {}, {0}, {{"data", 0, SignalValue::bits(10)}, {"bus", 0, SignalValue::empty()}},
     {{"data", 8}, {"bus", 8}}},
    {"later declaration of a name wins",
     "$var wire 1 ! bus[3] $end\n$var wire 2 \" bus[2] $end\n#0\n1!\nb10 \"\n",
     {"bus"}, {}, {0}, {{"bus", 0, SignalValue::bits(2)}}, {{"bus", 2}}},
    {"aliases share values",
     "$scope module m $end\n$var wire 1 ! p $end\n$var wire 1 ! q $end\n$upscope $end\n#0\n1!\n#1\n0!\n",
     {"m.p", "m.q"}, {"m"}, {0, 1},
     {{"m.p", 0, SignalValue::bits(1)}, {"m.q", 0, SignalValue::bits(1)}, {"m.q", 1, SignalValue::bits(0)}}},
    {"values before the first timestamp land at index 0",
     "$var wire 1 ! a $end\n$var wire 1 \" b $end\n$var wire 4 # c $end\n$enddefinitions $end\n"
     "$dumpvars\n1!\n1\"\nbz #\n$end\n#100\n0!\n#200\n",
     {"a", "b", "c"}, {}, {100, 200},
     {{"a", 0, SignalValue::bits(0)}, {"b", 0, SignalValue::bits(1)}, {"b", 1, SignalValue::bits(1)},
      {"c", 0, SignalValue::logic({3})}, {"c", 1, SignalValue::logic({3})}, {"a", 1, SignalValue::bits(0)}}},
    // A dump cut off before its first timestamp keeps its initial values.
    {"no timestamp line: initial values still at index 0",
     "$var wire 1 ! a $end\n$dumpvars\n1!\n$end\n",
     {"a"}, {}, {}, {{"a", 0, SignalValue::bits(1)}, {"a", 1, SignalValue::empty()}}},
    {"timestamps kept as written",
     "$var wire 1 ! a $end\n#5\n0!\n#5\n#20\n#10\n#abc\n#\n#10 1!\n#+5\n#-1\n",
     {"a"}, {}, {5, 5, 20, 10, 0, 0, 0, 5, 0},
     {{"a", 6, SignalValue::bits(0)}, {"a", 8, SignalValue::bits(0)}, {"a", 9, SignalValue::empty()}}},
    {"vector forms",
     "$var wire 4 # v $end\n#0\nb1010 #\n#1\nb10z1 #\n#2\nb1111\t#\n#3\nb1\n#4\nb0110   #\n",
     {"v"}, {}, {0, 1, 2, 3, 4},
     {{"v", 0, SignalValue::bits(10)}, {"v", 1, SignalValue::logic({1, 0, 3, 1})},
      {"v", 3, SignalValue::logic({1, 0, 3, 1})}, {"v", 4, SignalValue::bits(6)}}},
    {"wide vectors keep their upper bits",
     "$var wire 128 w bus $end\n#0\n" + kWideOne + " w\n#1\n" + kWideThree + " w\n#2\nb0 w\n#3\n",
     {"bus"}, {}, {0, 1, 2, 3},
     {{"bus", 0, SignalValue::wide_bits({0, 1})}, {"bus", 1, SignalValue::wide_bits({0, 3})},
      {"bus", 2, SignalValue::bits(0)}, {"bus", 3, SignalValue::bits(0)}},
     {{"bus", 128}}},
    {"reals",
     "$var real 64 % r $end\n#0\nr3.25 %\n#1\nrfoo %\n#2\nR-1e400 %\n#3\n",
     {"r"}, {}, {0, 1, 2, 3},
     {{"r", 0, SignalValue::real(3.25)}, {"r", 1, SignalValue::real(0.0)},
      {"r", 3, SignalValue::real(-std::numeric_limits<double>::infinity())}}},
    {"x is not carried forward, z is",
     "$var wire 1 ! a $end\n$var wire 1 \" b $end\n#0\n1!\n1\"\n#1\nx!\nz\"\n#2\n#3\n1!\n",
     {"a", "b"}, {}, {0, 1, 2, 3},
     {{"a", 1, SignalValue::empty()}, {"a", 2, SignalValue::empty()}, {"a", 3, SignalValue::bits(1)},
      {"b", 1, SignalValue::logic({3})}, {"b", 2, SignalValue::logic({3})}, {"b", 3, SignalValue::logic({3})},
      {"a", 4, SignalValue::empty()}, {"b", 4, SignalValue::empty()}}},
    {"last change at an index wins; unknown codes ignored",
     "$var wire 1 ! a $end\n#0\n1!\n0!\n1?\nb1 ?\nr1 ?\nx?\nz?\n#1\n1!\nx!\n",
     {"a"}, {}, {0, 1}, {{"a", 0, SignalValue::bits(0)}, {"a", 1, SignalValue::empty()}}},
    {"inner line of a comment block in the data section",
     "$var wire 1 ! a $end\n#0\n$comment\n1!\n$end\n",
     {"a"}, {}, {0}, {{"a", 0, SignalValue::bits(1)}}},
    {"upscope at the top level does nothing",
     "$upscope $end\n$var wire 1 ! a $end\n$scope module m $end\n$upscope $end\n$upscope $end\n$var wire 1 \" b $end\n",
     {"a", "b"}, {"m"}, {}, {}},
    {"empty text", "", {}, {}, {}, {{"a", 0, SignalValue::empty()}}},
};

void PrintTo(const TraceCase& c, std::ostream* os) { *os << c.label; }

class VcdTraceCase : public testing::TestWithParam<TraceCase> {};

TEST_P(VcdTraceCase, Parse) {
  const TraceCase& c = GetParam();
  const VcdTrace t = VcdTrace::parse(c.text);
  EXPECT_EQ(t.signal_names(), c.names);
  EXPECT_EQ(t.scopes(), c.scopes);
  EXPECT_EQ(t.record().timestamps, c.times);
  EXPECT_EQ(t.max_index(), c.times.empty() ? 0 : c.times.size() - 1);
  for (const auto& v : c.values) {
    const SignalValue got = t.signal_value(v.name, v.index);
    EXPECT_TRUE(bit_identical(got, v.want))
        << v.name << " at " << v.index << ": got " << describe(got) << ", want " << describe(v.want);
  }
  for (const auto& [name, width] : c.widths) EXPECT_EQ(t.signal_width(name), width) << name;
}

INSTANTIATE_TEST_SUITE_P(Rules, VcdTraceCase, testing::ValuesIn(kTraceCases),
                         [](const testing::TestParamInfo<TraceCase>& info) {
                           std::string name;
                           for (const char* p = info.param.label; *p; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

TEST(VcdTrace, NeutralAnswersAndAliases) {
  const VcdTrace t = VcdTrace::parse(
      "$scope module m $end\n$var wire 1 ! p $end\n$var wire 1 ! q $end\n$var wire 1 \" r $end\n"
      "$upscope $end\n#3\n#7\n1!\n#9\n");
  ASSERT_TRUE(t.signal_id("m.p").has_value());
  EXPECT_EQ(t.signal_id("m.p"), t.signal_id("m.q"));
  EXPECT_NE(t.signal_id("m.p"), t.signal_id("m.r"));
  EXPECT_EQ(t.record().id_count, 2u);
  EXPECT_EQ(t.signal_value_by_id(*t.signal_id("m.q"), 1), SignalValue::bits(1));
  EXPECT_EQ(t.timestamp(1), 7u);
  EXPECT_EQ(t.timestamp(2), 9u);
  EXPECT_EQ(t.timestamp(3), 0u);
  EXPECT_EQ(t.signal_id("no.such.signal"), std::nullopt);
  EXPECT_EQ(t.signal_id("M.p"), std::nullopt);
  EXPECT_EQ(t.signal_width("no.such.signal"), 0u);
  EXPECT_TRUE(t.signal_value("no.such.signal", 0).is_empty());
  EXPECT_EQ(t.signal_values_range("no.such.signal", 3, 6), std::vector<SignalValue>(3));
  EXPECT_TRUE(t.signal_values_range("no.such.signal", 6, 3).empty());
  EXPECT_EQ(t.signal_values_range("m.p", 0, 4),
            (std::vector<SignalValue>{SignalValue::empty(), SignalValue::bits(1), SignalValue::bits(1),
                                      SignalValue::empty()}));
}

// Many codes over the 94-character alphabet (one to four characters), long
// ones and non-ASCII ones included: every code keeps its own id and value.
TEST(VcdTrace, ManyIdentifierCodes) {
  std::string text, data = "#0\n";
  std::vector<std::string> codes, names;
  for (int i = 0; i < 3000; ++i) {
    std::string code;
    int n = i * 331;
    do {
      code += static_cast<char>('!' + n % 94);
      n /= 94;
    } while (n);
    if (i % 7 == 0) code += "_long_tail";
    if (i % 11 == 0) code.insert(0, "\u00e9");
    std::string name = "s";
    name += std::to_string(i);
    text.append("$var wire 16 ").append(code).append(" ").append(name).append(" $end\n");
    std::string digits;
    for (int b = 15; b >= 0; --b) digits += ((i >> b) & 1) ? '1' : '0';
    data.append("b").append(digits).append(" ").append(code).append("\n");
    codes.push_back(code);
    names.push_back(name);
  }
  const VcdTrace t = VcdTrace::parse(text + data);
  ASSERT_EQ(t.signal_names(), names);
  EXPECT_EQ(t.record().id_count, codes.size());
  for (int i = 0; i < 3000; ++i)
    ASSERT_EQ(t.signal_value(names[i], 0), SignalValue::bits(static_cast<std::uint64_t>(i))) << codes[i];
}

// --- Volume ---------------------------------------------------------------

// A dump with enough changes and value bytes to cross any batching of changes
// inside the reader; every value follows from its index.
constexpr Index kVolumeIndices = 120000;

std::string volume_logic_digits(Index i) {
  std::string d = "x";
  for (int b = 98; b >= 0; --b) d += (b < 64 && ((i >> b) & 1)) ? '1' : '0';
  return d;
}

std::string volume_text() {
  std::string text =
      "$var wire 1 ! clk $end\n$var wire 32 \" count $end\n$var wire 100 # wide $end\n"
      "$var real 64 $ r $end\n$var wire 1 % sparse $end\n$dumpvars\n1!\nb1 \"\n$end\n";
  for (Index i = 0; i < kVolumeIndices; ++i) {
    text.append("#").append(std::to_string(i)).append(i % 2 ? "\n1!\n" : "\n0!\n");
    if (i % 7 == 0) text.append("b11111 \"\n");  // overwritten at the same index
    std::string digits;
    for (Index n = i; n; n >>= 1) digits.insert(digits.begin(), n & 1 ? '1' : '0');
    text.append("b").append(digits.empty() ? "0" : digits).append(" \"\n");
    if (i % 3 == 0) text.append("b").append(volume_logic_digits(i)).append(" #\n");
    if (i % 5 == 0) text.append("r").append(std::to_string(i)).append(".5 $\n");
    if (i % 1000 == 0) text.append("x%\n");
    if (i % 1000 == 500) text.append("1%\n");
  }
  return text;
}

void expect_volume_values(const VcdTrace& t) {
  ASSERT_EQ(t.max_index(), kVolumeIndices - 1);
  std::vector<std::vector<SignalValue>> got;  // one past the last index included
  for (const char* name : {"clk", "count", "wide", "r", "sparse"})
    got.push_back(t.signal_values_range(name, 0, kVolumeIndices + 1));
  SignalValue::LogicBits logic;
  for (Index i = 0; i < kVolumeIndices; ++i) {
    if (i % 3 == 0) {
      logic.assign(1, kLogicX);
      for (char c : volume_logic_digits(i).substr(1)) logic.push_back(c == '1');
    }
    const SignalValue want[] = {SignalValue::bits(i % 2), SignalValue::bits(i), SignalValue::logic(logic),
                                SignalValue::real(static_cast<double>(i - i % 5) + 0.5),
                                i % 1000 < 500 ? SignalValue::empty() : SignalValue::bits(1)};
    ASSERT_EQ(t.timestamp(i), i);
    for (std::size_t k = 0; k < got.size(); ++k) ASSERT_EQ(got[k][i], want[k]) << "signal " << k << " at " << i;
  }
  for (const auto& values : got) EXPECT_TRUE(values.back().is_empty());
}

// --- Files --------------------------------------------------------------

class TempFile {
 public:
  explicit TempFile(const std::string& contents) {
    static int counter = 0;
    path_ = (std::filesystem::path(testing::TempDir()) /
             ("quarn_vcd_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + ".vcd"))
                .string();
    std::ofstream(path_, std::ios::binary) << contents;
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(VcdFile, FromFileMatchesParse) {
  const std::string header = "$scope module top $end\n$var wire 1 ! a $end\n$var wire 8 # v $end\n$upscope $end\n";
  const std::size_t mib = std::size_t{1} << 20;
  // A vector line longer than the read buffer, with lines before and after it.
  const std::string long_vector = "b1" + std::string(3 * mib, '0') + " #\n";
  // Lines whose "\n" falls right at, before and after a buffer boundary.
  std::string boundary = header + "#0\n";
  for (std::size_t len : {mib - boundary.size() - 1, mib, mib + 1, 2 * mib - 1}) {
    boundary += "$comment " + std::string(len > 9 ? len - 9 : 0, 'c') + "\n1!\n#" + std::to_string(len) + "\n0!\n";
  }
  // A first buffer of ASCII only, then a line that is not UTF-8 (skipped)
  // across the boundary and one trimmed of a no-break space: the second
  // buffer must not be read as ASCII on the first one's word.
  std::string mixed = header + "#0\n1!\n#1\n$comment ";
  mixed += std::string(mib - 1 - mixed.size() - 6, 'c') + " $end\n";
  mixed += "0!\xff\n\xC2\xA0" "b101 #\n#2\n0!\n";
  const std::string texts[] = {
      mixed,
      "",
      header + "#0\n1!\n#5\n0!",                                   // no final newline
      header + "#0\r\n1!\r\n#5\r\nb11 #\r\n",                        // CRLF
      header + "#0\n1!\n" + long_vector + "#1\n0!\nb1 #\n#2\n",     // one line > buffer
      boundary,
      header + "$dumpvars\n1!\nbx #\n$end\n#7\n\n\n#8\n0!\n",         // values before #7
  };
  for (std::size_t i = 0; i < std::size(texts); ++i) {
    SCOPED_TRACE("text " + std::to_string(i));
    const TempFile file(texts[i]);
    auto loaded = VcdTrace::from_file(file.path());
    ASSERT_TRUE(std::holds_alternative<VcdTrace>(loaded)) << std::get<std::string>(loaded);
    const VcdTrace parsed = VcdTrace::parse(texts[i]);
    expect_same_trace(std::get<VcdTrace>(loaded), parsed);
    if (HasFatalFailure()) return;
  }
}

TEST(VcdFile, ManyChangesReadBackExactly) {
  const std::string text = volume_text();
  {
    SCOPED_TRACE("parse");
    expect_volume_values(VcdTrace::parse(text));
  }
  const TempFile file(text);
  auto loaded = VcdTrace::from_file(file.path());
  ASSERT_TRUE(std::holds_alternative<VcdTrace>(loaded));
  SCOPED_TRACE("from_file");
  expect_volume_values(std::get<VcdTrace>(loaded));
}

TEST(VcdFile, OpenAndReadFailures) {
  const std::string missing = testing::TempDir() + "/quarn_no_such_dir/missing.vcd";
  auto r = VcdTrace::from_file(missing);
  ASSERT_TRUE(std::holds_alternative<std::string>(r));
  EXPECT_EQ(std::get<std::string>(r), "Failed to open " + missing + ": No such file or directory");

  const std::string with_nul("a\0b", 3);  // must not open the file "a"
  r = VcdTrace::from_file(with_nul);
  ASSERT_TRUE(std::holds_alternative<std::string>(r));
  EXPECT_EQ(std::get<std::string>(r), "Failed to open " + with_nul + ": Invalid argument");

  const std::string dir = testing::TempDir();
  r = VcdTrace::from_file(dir);
  ASSERT_TRUE(std::holds_alternative<std::string>(r));
  EXPECT_EQ(std::get<std::string>(r), "Failed to read " + dir + ": Is a directory");
}

}  // namespace
}  // namespace quarn
