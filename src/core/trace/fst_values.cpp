#include "trace/fst_values.h"

#include <array>

#include "trace/text_scan.h"

namespace quarn {

namespace {

enum CharClass : std::uint8_t { kBinary = 0, kLogicMark = 1, kOther = 2 };

constexpr std::array<std::uint8_t, 256> make_classes() {
  std::array<std::uint8_t, 256> t{};
  for (auto& c : t) c = kOther;
  t['0'] = t['1'] = kBinary;
  for (unsigned char c : std::string_view("XZhluwxz-")) t[c] = kLogicMark;
  return t;
}
constexpr auto kClasses = make_classes();

std::uint8_t logic_element(char c) {
  switch (c) {
    case '0': return kLogic0;
    case '1': return kLogic1;
    case 'Z':
    case 'z': return kLogicZ;
    default: return kLogicX;
  }
}

// Length of the valid UTF-8 sequence at s[i], or 0 with `bad` set to the
// length of the maximal invalid prefix to replace.
std::size_t utf8_sequence(std::string_view s, std::size_t i, std::size_t& bad) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) need = 1;
  else if (b >= 0xE0 && b <= 0xEF) need = 2, lo = b == 0xE0 ? 0xA0 : 0x80, hi = b == 0xED ? 0x9F : 0xBF;
  else if (b >= 0xF0 && b <= 0xF4) need = 3, lo = b == 0xF0 ? 0x90 : 0x80, hi = b == 0xF4 ? 0x8F : 0xBF;
  else return bad = 1, 0;
  for (std::size_t k = 1; k <= need; ++k) {
    if (i + k >= s.size()) return bad = k, 0;
    const auto c = static_cast<unsigned char>(s[i + k]);
    if (c < lo || c > hi) return bad = k, 0;
    lo = 0x80, hi = 0xBF;
  }
  return need + 1;
}

}  // namespace

void append_utf8_replacing(std::string_view s, std::string& out) {
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t bad = 0;
    const std::size_t n = utf8_sequence(s, i, bad);
    if (n) {
      out.append(s.substr(i, n));
      i += n;
    } else {
      out.append("\xEF\xBF\xBD");
      i += bad;
    }
  }
}

ValueView fst_value_view(std::string_view text, FstValueScratch& scratch) {
  if (text.empty()) return ValueView::empty();
  if (text.size() == 1 && (text[0] == '0' || text[0] == '1')) return ValueView::bits(text[0] == '1');
  std::uint8_t seen = 0;
  for (unsigned char c : text) seen |= std::uint8_t{1} << kClasses[c];
  if (seen & (1u << kLogicMark)) {
    auto& l = scratch.binary.logic;
    l.resize(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) l[i] = logic_element(text[i]);
    return ValueView::logic(l.data(), l.size());
  }
  if (seen & (1u << kOther)) return fst_text_view(text, scratch);
  // Only '0' and '1' here, so the VCD digit rules give the same number.
  return parse_binary_view(text, scratch.binary);
}

ValueView fst_text_view(std::string_view text, FstValueScratch& scratch) {
  if (text.empty()) return ValueView::empty();
  if (is_valid_utf8(text)) return ValueView::text(text.data(), text.size());
  scratch.text.clear();
  append_utf8_replacing(text, scratch.text);
  return ValueView::text(scratch.text.data(), scratch.text.size());
}

SignalValue convert_value(std::string_view text) {
  FstValueScratch scratch;
  return to_value(fst_value_view(text, scratch));
}

}  // namespace quarn
