#include "trace/text_scan.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "signal/signal_value.h"

namespace quarn {

bool is_valid_utf8(std::string_view s) { return classify_utf8(s) != Utf8Kind::Invalid; }

Utf8Kind classify_utf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  if (s.size() >= 8) {
    // Most lines are ASCII: OR all words together, the last one overlapping.
    std::uint64_t any = 0, w;
    for (std::size_t i = 0; i + 8 <= s.size(); i += 8) {
      std::memcpy(&w, p + i, 8);
      any |= w;
    }
    std::memcpy(&w, end - 8, 8);
    if (((any | w) & 0x8080808080808080ull) == 0) return Utf8Kind::Ascii;
  }
  bool ascii = true;
  while (p < end) {
    // ASCII runs, eight bytes at a time.
    while (end - p >= 8) {
      std::uint64_t w;
      std::memcpy(&w, p, 8);
      if (w & 0x8080808080808080ull) break;
      p += 8;
    }
    if (p == end) break;
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    ascii = false;
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) n = 2;
    else if (c == 0xE0) n = 3, lo = 0xA0;
    else if (c == 0xED) n = 3, hi = 0x9F;  // no surrogates
    else if (c >= 0xE1 && c <= 0xEF) n = 3;
    else if (c == 0xF0) n = 4, lo = 0x90;
    else if (c >= 0xF1 && c <= 0xF3) n = 4;
    else if (c == 0xF4) n = 4, hi = 0x8F;
    else return Utf8Kind::Invalid;
    if (static_cast<std::size_t>(end - p) < n) return Utf8Kind::Invalid;
    if (p[1] < lo || p[1] > hi) return Utf8Kind::Invalid;
    for (std::size_t k = 2; k < n; ++k)
      if ((p[k] & 0xC0) != 0x80) return Utf8Kind::Invalid;
    p += n;
  }
  return ascii ? Utf8Kind::Ascii : Utf8Kind::Utf8;
}

std::size_t white_space_at(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
  if (c < 0xC2) return 0;
  const std::size_t left = s.size() - i;
  auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  if (c == 0xC2 && left >= 2) return (b(1) == 0x85 || b(1) == 0xA0) ? 2 : 0;  // U+0085, U+00A0
  if (left < 3) return 0;
  if (c == 0xE1) return (b(1) == 0x9A && b(2) == 0x80) ? 3 : 0;  // U+1680
  if (c == 0xE2 && b(1) == 0x80) {
    const unsigned char t = b(2);  // U+2000..U+200A, U+2028, U+2029, U+202F
    return (t <= 0x8A || t == 0xA8 || t == 0xA9 || t == 0xAF) && t >= 0x80 ? 3 : 0;
  }
  if (c == 0xE2 && b(1) == 0x81) return b(2) == 0x9F ? 3 : 0;  // U+205F
  if (c == 0xE3) return (b(1) == 0x80 && b(2) == 0x80) ? 3 : 0;  // U+3000
  return 0;
}

namespace {

// Length of the white space character that ends just before s[end], or 0.
std::size_t white_space_before(std::string_view s, std::size_t end) {
  for (std::size_t n = 1; n <= 3 && n <= end; ++n) {
    const auto c = static_cast<unsigned char>(s[end - n]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte: look further back
    return white_space_at(s.substr(0, end), end - n) == n ? n : 0;
  }
  return 0;
}

}  // namespace

std::string_view trim_white_space(std::string_view s) {
  std::size_t b = 0;
  while (b < s.size()) {
    const std::size_t n = white_space_at(s, b);
    if (!n) break;
    b += n;
  }
  std::size_t e = s.size();
  while (e > b) {
    const std::size_t n = white_space_before(s, e);
    if (!n) break;
    e -= n;
  }
  return s.substr(b, e - b);
}

std::size_t split_white_space(std::string_view s, std::string_view* out, std::size_t max_fields) {
  std::size_t count = 0, i = 0;
  while (i < s.size() && count < max_fields) {
    while (i < s.size()) {
      const std::size_t n = white_space_at(s, i);
      if (!n) break;
      i += n;
    }
    if (i >= s.size()) break;
    const std::size_t start = i;
    while (i < s.size() && white_space_at(s, i) == 0) ++i;
    out[count++] = s.substr(start, i - start);
  }
  return count;
}

std::optional<std::uint32_t> parse_decimal_u32(std::string_view s) {
  auto n = parse_decimal_u64(s);
  if (!n || *n > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(*n);
}

namespace {

bool equals_lower(std::string_view s, std::string_view lower_word) {
  if (s.size() != lower_word.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower_word[i]) return false;
  }
  return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<double> parse_real(std::string_view s) {
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  if (!is_digit(s.front()) && s.front() != '.') {
    double v;
    if (equals_lower(s, "inf") || equals_lower(s, "infinity")) v = std::numeric_limits<double>::infinity();
    else if (equals_lower(s, "nan")) v = std::numeric_limits<double>::quiet_NaN();
    else return std::nullopt;
    return negative ? -v : v;
  }
  // Check the whole syntax first: from_chars alone would stop early or take
  // forms that are not accepted here.
  std::size_t i = 0, int_digits = 0, frac_digits = 0;
  while (i < s.size() && is_digit(s[i])) ++i, ++int_digits;
  const std::size_t int_end = i;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && is_digit(s[i])) ++i, ++frac_digits;
  }
  if (int_digits + frac_digits == 0) return std::nullopt;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    const std::size_t exp_start = j;
    while (j < s.size() && is_digit(s[j])) ++j;
    if (j == exp_start) return std::nullopt;
    i = j;
  }
  if (i != s.size()) return std::nullopt;

  double v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    // Out of range means beyond DBL_MAX or below the smallest subnormal; tell
    // them apart by where the first nonzero digit sits.
    long long magnitude = 0;  // decimal position of the leading digit
    std::size_t k = 0;
    while (k < int_end && s[k] == '0') ++k;
    if (k < int_end) {
      magnitude = static_cast<long long>(int_end - k);
    } else {
      std::size_t f = int_end + 1;
      while (f < s.size() && s[f] == '0') ++f;
      magnitude = -static_cast<long long>(f - int_end - 1);
    }
    const std::size_t e = s.find_first_of("eE");
    if (e != std::string_view::npos) {
      std::string_view exp = s.substr(e + 1);
      const bool exp_negative = !exp.empty() && exp.front() == '-';
      if (!exp.empty() && (exp.front() == '+' || exp.front() == '-')) exp.remove_prefix(1);
      const auto n = parse_decimal_u64(exp);
      const long long ev = (!n || *n > 100000) ? 100000 : static_cast<long long>(*n);
      magnitude += exp_negative ? -ev : ev;
    }
    v = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
    return std::nullopt;
  }
  return negative ? -v : v;
}

}  // namespace quarn
