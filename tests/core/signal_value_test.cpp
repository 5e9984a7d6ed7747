// Readings of SignalValue: binary digit strings, to_u64 and equality. The
// truth of each variant is pinned by the Not cases in eval_test.cpp.

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>

#include "signal/bitpack.h"
#include "signal/signal_value.h"
#include "test_values.h"

namespace quarn {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

std::string rep(const std::string& s, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

// `n` Logic elements, all 0 but the ones listed as {position, element}.
SignalValue logic_with(std::size_t n, std::initializer_list<std::pair<std::size_t, std::uint8_t>> set) {
  SignalValue::LogicBits bits(n, kLogic0);
  for (auto [at, v] : set) bits[at] = v;
  return SignalValue::logic(bits);
}

TEST(ParseBinaryStr, DigitStrings) {
  const std::pair<std::string, SignalValue> cases[] = {
      {"", SignalValue::empty()},
      {"b", SignalValue::empty()},
      {"B", SignalValue::empty()},
      {"b1010", SignalValue::bits(10)},
      {"1010", SignalValue::bits(10)},
      {"b0", SignalValue::bits(0)},
      {"bb1", SignalValue::bits(1)},  // one prefix dropped; the second 'b' is a 0 bit
      {"10u1", SignalValue::bits(9)},
      {"b1x0", SignalValue::logic({1, 2, 0})},
      {"zZ1", SignalValue::logic({3, 3, 1})},
      {"b1u0z", SignalValue::logic({1, 2, 0, 3})},
      // Up to 64 significant bits: Bits, however many leading zeros.
      {rep("1", 64), SignalValue::bits(kMax)},
      {rep("0", 100) + "101", SignalValue::bits(5)},
      {"0010" + rep("0", 60) + "11", SignalValue::bits(0x8000000000000003ull)},
      {"u1" + rep("0", 63), SignalValue::bits(1ull << 63)},
      {"\u00e9u" + rep("1", 64), SignalValue::bits(kMax)},
      // More: WideBits with the fewest words, word 0 the lowest.
      {std::string("1") + rep("0", 64), SignalValue::wide_bits({0, 1})},
      {"000" + std::string("1") + rep("0", 64), SignalValue::wide_bits({0, 1})},
      {rep("1", 70), SignalValue::wide_bits({kMax, 0x3F})},
      {rep("0", 7) + "1" + rep("01", 40), SignalValue::wide_bits({0x5555555555555555ull, 0x15555ull})},
      {rep("0", 10) + "1" + rep("0", 128), SignalValue::wide_bits({0, 0, 1})},
      // A multi-byte UTF-8 character is one element, one bit.
      {"1\u00e90", SignalValue::bits(4)},
      {"1\u20ac", SignalValue::bits(2)},
      {std::string("1") + rep("\u00e9", 64), SignalValue::wide_bits({0, 1})},
      {"1\u00e90z", SignalValue::logic({1, 2, 0, 3})},
      {"\U0001F600x", SignalValue::logic({2, 2})},
  };
  for (const auto& [text, want] : cases) {
    const SignalValue got = parse_binary_str(text);
    EXPECT_TRUE(bit_identical(got, want)) << "\"" << text << "\": got " << describe(got) << ", want " << describe(want);
  }
}

TEST(ToU64, EachVariant) {
  const std::pair<SignalValue, std::optional<std::uint64_t>> cases[] = {
      {SignalValue::bits(kMax), kMax},
      {SignalValue::wide_bits({}), std::nullopt},
      {SignalValue::wide_bits({7, 1}), 7},
      {SignalValue::logic({0, 1, 1}), 3},
      {SignalValue::logic({}), 0},
      {SignalValue::logic({1, 2}), std::nullopt},
      {SignalValue::logic({3}), std::nullopt},
      {logic_with(65, {{0, kLogic1}, {63, kLogic1}}), 2},  // bit 64 ignored
      {logic_with(70, {{0, kLogicX}}), std::nullopt},      // X beyond 64 bits still counts
      {SignalValue::real(-3.5), 0},
      {SignalValue::real(3.99), 3},
      {SignalValue::real(1e30), kMax},
      {SignalValue::real(18446744073709551616.0), kMax},
      {SignalValue::real(18446744073709549568.0), 18446744073709549568ull},
      {SignalValue::real(kInf), kMax},
      {SignalValue::real(kNaN), 0},
      {SignalValue::text("+42"), 42},  // text as parse_decimal_u64 reads it (text_scan_test.cpp)
      {SignalValue::text("42 "), std::nullopt},
      {SignalValue::empty(), std::nullopt},
  };
  for (const auto& [value, want] : cases) EXPECT_EQ(to_u64(value), want) << describe(value);
}

TEST(SignalValueEquality, StructuralPerVariant) {
  struct Case {
    SignalValue a, b;
    bool equal;
  };
  const Case cases[] = {
      {SignalValue::bits(1), SignalValue::logic({1}), false},
      {SignalValue::bits(1), SignalValue::wide_bits({1}), false},
      {SignalValue::bits(1), SignalValue::real(1.0), false},
      {SignalValue::text(""), SignalValue::empty(), false},
      {SignalValue::empty(), SignalValue::empty(), true},
      {SignalValue::real(kNaN), SignalValue::real(kNaN), false},
      {SignalValue::real(0.0), SignalValue::real(-0.0), true},
      {SignalValue::logic({1, 2}), SignalValue::logic({1, 2}), true},
      {SignalValue::logic({1, 2}), SignalValue::logic({1, 3}), false},
      {SignalValue::logic({1}), SignalValue::logic({0, 1}), false},
      {SignalValue::wide_bits({1}), SignalValue::wide_bits({1, 0}), false},
      {SignalValue::text("\u00e9"), SignalValue::text("e\u0301"), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.a == c.b, c.equal) << describe(c.a) << " vs " << describe(c.b);
    EXPECT_EQ(c.b == c.a, c.equal) << describe(c.b) << " vs " << describe(c.a);
  }
}

}  // namespace
}  // namespace quarn
