#include "signal/bitpack.h"

namespace quarn {

namespace {

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

ValueView parse_binary_view(std::string_view text, BinaryScratch& scratch) {
  if (!text.empty() && (text.front() == 'b' || text.front() == 'B')) text.remove_prefix(1);
  if (text.empty()) return ValueView::empty();

  bool four_state = false;
  for (char c : text) {
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

SignalValue parse_binary_str(std::string_view text) {
  BinaryScratch scratch;
  return to_value(parse_binary_view(text, scratch));
}

}  // namespace quarn
