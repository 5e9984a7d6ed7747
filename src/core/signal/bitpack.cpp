#include "signal/bitpack.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quarn {

namespace {

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Digit strings of '0' and '1' only, the common case, eight digits at a time.
// Returns false when another character appears. `low` keeps the last 64
// digits; `significant` counts the digits from the leading '1' on.
bool parse_plain_binary(std::string_view text, std::uint64_t& low, std::size_t& significant) {
  const char* p = text.data();
  const std::size_t n = text.size();
  std::uint64_t value = 0;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    if ((w & 0xFEFEFEFEFEFEFEFEull) != 0x3030303030303030ull) return false;
    // Each byte is now 0 or 1; the multiply gathers them, first digit highest.
    value = (value << 8) | (((w - 0x3030303030303030ull) * 0x8040201008040201ull) >> 56);
  }
  for (; i < n; ++i) {
    const auto c = static_cast<unsigned char>(p[i]);
    if ((c & 0xFE) != 0x30) return false;
    value = (value << 1) | (c & 1);
  }
  low = value;
  // Up to 64 digits nothing shifted out, so the bit length says it; longer
  // strings (rare) look for their leading '1'.
  significant = n <= 64 ? static_cast<std::size_t>(std::bit_width(value)) : n - std::min(n, text.find('1'));
  return true;
}

// Digits of '0' and '1' only, `significant` of them from the leading '1'
// on, into the fewest words, least significant first: eight digits per step
// straight into their byte of a word, no bit at a time.
ValueView pack_plain_binary(std::string_view text, std::size_t significant, std::vector<std::uint64_t>& words) {
  words.assign((significant + 63) / 64, 0);
  const std::size_t bits = words.size() * 64;
  const char* p = text.data();
  std::size_t i = text.size();
  std::size_t bit = 0;  // of the next digit, counted from the least significant end
  for (; i >= 8 && bit < bits; bit += 8) {
    i -= 8;
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    // Groups start at multiples of 8 bits, so one never straddles two words.
    words[bit / 64] |= (((w - 0x3030303030303030ull) * 0x8040201008040201ull) >> 56) << (bit % 64);
  }
  for (; i > 0 && bit < bits; ++bit)
    if (p[--i] == '1') words[bit / 64] |= std::uint64_t{1} << (bit % 64);
  return ValueView::wide_bits(words.data(), words.size());
}

}  // namespace

ValueView parse_binary_view(std::string_view text, BinaryScratch& scratch) {
  if (!text.empty() && (text.front() == 'b' || text.front() == 'B')) text.remove_prefix(1);
  if (text.empty()) return ValueView::empty();

  std::uint64_t plain_low = 0;
  std::size_t plain_significant = 0;
  const bool plain = parse_plain_binary(text, plain_low, plain_significant);
  if (plain && plain_significant <= 64) return ValueView::bits(plain_low);

  bool four_state = false;
  for (char c : plain ? std::string_view() : text) {
    if (c == 'x' || c == 'X' || c == 'z' || c == 'Z') {
      four_state = true;
      break;
    }
  }
  if (four_state) {
    auto& out = scratch.logic;
    out.clear();
    for (char ch : text) {
      const auto c = static_cast<unsigned char>(ch);
      if (is_continuation(c)) continue;  // one element per code point
      out.push_back(c == '0' ? kLogic0 : c == '1' ? kLogic1 : (c == 'z' || c == 'Z') ? kLogicZ : kLogicX);
    }
    return ValueView::logic(out.data(), out.size());
  }

  // Two-state: every code point is one bit, '1' the only one bit. Bits up to
  // 64 significant bits; past that a WideBits of the fewest words, so equal
  // numbers always have one representation.
  std::uint64_t low = 0;
  std::size_t significant = 0;  // bits from the leading '1' on
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (is_continuation(c)) continue;
    if (significant) ++significant;
    else if (c == '1') significant = 1;
    low = (low << 1) | (c == '1');
  }
  if (significant <= 64) return ValueView::bits(low);

  auto& words = scratch.words;
  words.assign((significant + 63) / 64, 0);
  std::size_t bit = 0;  // position counted from the least significant end
  for (std::size_t i = text.size(); i-- > 0;) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (is_continuation(c)) continue;
    if (c == '1' && bit / 64 < words.size()) words[bit / 64] |= std::uint64_t{1} << (bit % 64);
    ++bit;
  }
  return ValueView::wide_bits(words.data(), words.size());
}

bool parse_vcd_vector(std::string_view digits, Width width, BinaryScratch& scratch, ValueView& out) {
  if (digits.empty()) return false;
  // Digits above the width may only repeat what extension would give back.
  const auto extends = [](char top, char below) {
    const std::uint8_t e = logic_from_char(top);
    return e == kLogic0 || ((e == kLogicX || e == kLogicZ) && e == logic_from_char(below));
  };
  while (width > 0 && digits.size() > width && extends(digits[0], digits[1])) digits.remove_prefix(1);
  std::uint64_t low = 0;
  std::size_t significant = 0;
  if (parse_plain_binary(digits, low, significant)) {
    if (width > 0 && significant > width) return false;
    out = significant <= 64 ? ValueView::bits(low) : pack_plain_binary(digits, significant, scratch.words);
    return true;
  }
  if (width > 0 && digits.size() > width) return false;
  auto& e = scratch.logic;
  e.clear();
  const std::uint8_t top = logic_from_char(digits.front());
  if (digits.size() < width) e.assign(width - digits.size(), top == kLogicX || top == kLogicZ ? top : kLogic0);
  for (char c : digits) {
    const std::uint8_t element = logic_from_char(c);
    if (element == 0xFF) return false;
    e.push_back(element);
  }
  out = ValueView::logic(e.data(), e.size());
  return true;
}

SignalValue parse_binary_str(std::string_view text) {
  BinaryScratch scratch;
  return to_value(parse_binary_view(text, scratch));
}

}  // namespace quarn
