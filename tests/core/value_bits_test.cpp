// value_bits: a value as VCD writes it, padded or cut to the width; and the
// VCD vector digits it comes from.

#include <gtest/gtest.h>

#include <string>

#include "signal/bitpack.h"
#include "signal/value_bits.h"

namespace quarn {
namespace {

struct BitsCase {
  const char* digits;  // through parse_vcd_vector at `width`
  Width width;
  const char* want;
};

TEST(ValueBits, VcdDigitsReadBackPaddedAsVcdPads) {
  const BitsCase cases[] = {
      {"1010", 4, "1010"}, {"1", 4, "0001"}, {"0", 1, "0"}, {"10x1", 4, "10x1"},
      {"x", 4, "xxxx"}, {"z1", 4, "zzz1"}, {"1z", 4, "001z"}, {"Z", 2, "zz"},
      {"UWLH-", 5, "uwlh-"}, {"h", 3, "00h"}, {"u", 3, "00u"},  // only x and z extend themselves
      // Longer than the width: only digits that extension gives back go.
      {"0011", 2, "11"}, {"xx1", 2, "x1"}, {"zzz", 2, "zz"}, {"0x1", 2, "x1"},
  };
  BinaryScratch scratch;
  for (const auto& c : cases) {
    ValueView v;
    ASSERT_TRUE(parse_vcd_vector(c.digits, c.width, scratch, v)) << c.digits;
    EXPECT_EQ(value_bits(to_value(v), c.width), c.want) << c.digits;
  }
  for (const char* bad : {"", "102", "1 0", "b1", "1?", "10001", "x0001", "zx001", "1x001"}) {
    ValueView v;
    EXPECT_FALSE(parse_vcd_vector(bad, 4, scratch, v)) << bad;
  }
}

TEST(ValueBits, WideAndNonBitValues) {
  const std::string wide = "1" + std::string(68, '0') + "1";
  BinaryScratch scratch;
  ValueView v;
  ASSERT_TRUE(parse_vcd_vector(wide, 70, scratch, v));
  EXPECT_EQ(v.tag, ValueTag::WideBits);
  EXPECT_EQ(value_bits(to_value(v), 70), wide);
  EXPECT_EQ(value_bits(to_value(v), 72), "00" + wide);
  EXPECT_EQ(value_bits(SignalValue::bits(5), 0), "");
  for (const SignalValue& none : {SignalValue::real(1.0), SignalValue::text("1"), SignalValue::empty()})
    EXPECT_EQ(value_bits(none, 4), "");
}

// Two-state digits of any length are packed eight at a time; the bit-by-bit
// reading of parse_binary_str is the reference, across word and byte edges.
TEST(ValueBits, WideTwoStateDigitsPackAsReadBitByBit) {
  std::uint64_t state = 12345;
  for (std::size_t length : {63, 64, 65, 71, 72, 73, 127, 128, 129, 200, 1000}) {
    for (int leading_zeros : {0, 1, 9, 70}) {
      std::string digits(static_cast<std::size_t>(leading_zeros), '0');
      digits += '1';
      for (std::size_t k = 1; k < length; ++k) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        digits += static_cast<char>('0' + (state >> 63));
      }
      BinaryScratch scratch;
      ValueView v;
      ASSERT_TRUE(parse_vcd_vector(digits, static_cast<Width>(digits.size()), scratch, v));
      EXPECT_TRUE(to_value(v) == parse_binary_str(digits)) << digits;
    }
  }
}

}  // namespace
}  // namespace quarn
