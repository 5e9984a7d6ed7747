#include "signal/value_bits.h"

namespace quarn {

namespace {

// Bit i (0 = least significant) of a two-state value.
bool word_bit(const SignalValue& v, std::size_t i) {
  if (v.tag() == ValueTag::Bits) return i < 64 && ((v.as_bits() >> i) & 1);
  const auto& words = v.as_wide_bits();
  return i / 64 < words.size() && ((words[i / 64] >> (i % 64)) & 1);
}

}  // namespace

std::string value_bits(const SignalValue& v, Width width) {
  std::string out;
  switch (v.tag()) {
    case ValueTag::Bits:
    case ValueTag::WideBits:
      out.resize(width);
      for (Width i = 0; i < width; ++i) out[width - 1 - i] = word_bit(v, i) ? '1' : '0';
      return out;
    case ValueTag::Logic: {
      const auto& e = v.as_logic();
      if (width == 0) return out;
      out.reserve(width);
      if (e.size() < width) {
        const char top = e.empty() ? '0' : logic_char(e.front());
        out.assign(width - e.size(), top == 'x' || top == 'z' ? top : '0');
      }
      const std::size_t skip = e.size() > width ? e.size() - width : 0;
      for (std::size_t k = skip; k < e.size(); ++k) out += logic_char(e[k]);
      return out;
    }
    default: return out;
  }
}

}  // namespace quarn
