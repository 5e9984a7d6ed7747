#include "trace/fst_values.h"

#include <array>

#include "trace/text_scan.h"

namespace quarn {

namespace {

enum CharClass : std::uint8_t { kBinary = 0, kLogicMark = 1, kOther = 2 };

// Logic element of each character of the nine states, either case: 0, 1,
// X 2, Z 3, U 4, W 5, L 6, H 7, don't-care ('-') 8; kNotLogic for the rest.
constexpr std::uint8_t kNotLogic = 0xFF;
constexpr std::array<std::uint8_t, 256> make_elements() {
  std::array<std::uint8_t, 256> t{};
  for (auto& e : t) e = kNotLogic;
  const std::string_view states = "01xzuwlh-";
  for (std::size_t i = 0; i < states.size(); ++i) {
    t[static_cast<unsigned char>(states[i])] = static_cast<std::uint8_t>(i);
    if (states[i] >= 'a') t[static_cast<unsigned char>(states[i] - 'a' + 'A')] = static_cast<std::uint8_t>(i);
  }
  return t;
}
constexpr auto kElements = make_elements();

constexpr std::array<std::uint8_t, 256> make_classes() {
  std::array<std::uint8_t, 256> t{};
  for (std::size_t c = 0; c < t.size(); ++c) t[c] = kElements[c] == kNotLogic ? kOther : kLogicMark;
  t['0'] = t['1'] = kBinary;
  return t;
}
constexpr auto kClasses = make_classes();

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
  if (seen & (1u << kOther)) return fst_text_view(text, scratch);
  if (seen & (1u << kLogicMark)) {
    auto& l = scratch.binary.logic;
    l.resize(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) l[i] = kElements[static_cast<unsigned char>(text[i])];
    return ValueView::logic(l.data(), l.size());
  }
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
