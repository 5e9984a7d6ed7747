// Value conversion of the FST reader and the index of a change's time.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "trace/fst_trace.h"
#include "trace/fst_values.h"

namespace quarn {
namespace {

SignalValue logic(std::vector<std::uint8_t> v) { return SignalValue::logic(std::move(v)); }

struct ValueCase {
  std::string text;
  SignalValue expected;
};

class FstConvertValue : public testing::TestWithParam<ValueCase> {};

TEST_P(FstConvertValue, GivesTheVariantOfItsCharacters) {
  EXPECT_EQ(convert_value(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FstConvertValue,
    testing::Values(ValueCase{"", SignalValue::empty()}, ValueCase{"0101", SignalValue::bits(5)},
                    ValueCase{"1", SignalValue::bits(1)}, ValueCase{"0", SignalValue::bits(0)},
                    ValueCase{"01x1", logic({0, 1, 2, 1})}, ValueCase{"Z", logic({3})},
                    ValueCase{"z1", logic({3, 1})},
                    // Nine-state letters in either case keep their state.
                    ValueCase{"hl-uw", logic({7, 6, 8, 4, 5})}, ValueCase{"1U", logic({1, 4})},
                    ValueCase{"UUUU", logic({4, 4, 4, 4})}, ValueCase{"0WzXLH", logic({0, 5, 3, 2, 6, 7})},
                    ValueCase{"1?", SignalValue::text("1?")},
                    ValueCase{"abc", SignalValue::text("abc")},
                    ValueCase{"caf\xC3\xA9", SignalValue::text("caf\xC3\xA9")},
                    // Invalid UTF-8 (Latin-1 from nvc) is replaced, one U+FFFD per bad sequence.
                    ValueCase{"r\xE5" "d", SignalValue::text("r\xEF\xBF\xBD" "d")},
                    ValueCase{"\xE2\x82", SignalValue::text("\xEF\xBF\xBD")},
                    ValueCase{"1\xFF", SignalValue::text("1\xEF\xBF\xBD")},
                    // 70 digits: a number that fits stays Bits, a bigger one is WideBits.
                    ValueCase{std::string(6, '0') + std::string(64, '1'), SignalValue::bits(~std::uint64_t{0})},
                    ValueCase{"1" + std::string(69, '0'), SignalValue::wide_bits({0, 1u << 5})},
                    ValueCase{"1" + std::string(64, '0'), SignalValue::wide_bits({0, 1})}));

TEST(FstTextValue, StringSignalsAreAlwaysText) {
  // "false" holds 'l', which would make X bits under the bit rules.
  FstValueScratch scratch;
  for (const char* s : {"false", "hello", "0101", "x"})
    EXPECT_EQ(to_value(fst_text_view(s, scratch)), SignalValue::text(s)) << s;
  EXPECT_EQ(to_value(fst_text_view("", scratch)), SignalValue::empty());
}

struct TimeCase {
  std::vector<Time> steps;
  Time time;
  std::optional<Index> index;
};

class FstTimeIndex : public testing::TestWithParam<TimeCase> {};

TEST_P(FstTimeIndex, MapsATimeToItsStep) {
  EXPECT_EQ(fst_time_index(GetParam().steps, GetParam().time), GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(Cases, FstTimeIndex,
                         testing::Values(TimeCase{{10, 20, 30}, 20, 1},   // exact
                                         TimeCase{{10, 20, 30}, 25, 1},   // between two steps
                                         TimeCase{{10, 20, 30}, 0, 0},    // before the first
                                         TimeCase{{10, 20, 30}, 99, 2},   // after the last
                                         TimeCase{{0}, 0, 0}, TimeCase{{}, 5, std::nullopt}));

}  // namespace
}  // namespace quarn
