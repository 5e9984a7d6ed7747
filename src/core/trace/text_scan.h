#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace quarn {

/// What `classify_utf8` found.
enum class Utf8Kind { Ascii, Utf8, Invalid };

/// ASCII only, well-formed UTF-8 with other characters, or not UTF-8.
Utf8Kind classify_utf8(std::string_view s);

/// True when no byte of `s` is above 0x7F. Meant for large spans: it has no
/// early exit, so the loop vectorises.
inline bool is_ascii(std::string_view s) {
  unsigned char any = 0;
  for (const char c : s) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

/// `trim_white_space` for text known to be ASCII.
inline std::string_view trim_ascii_white_space(std::string_view s) {
  // ' ' and '\t' .. '\r' as bits of one mask: two tests, no chain of compares.
  auto ws = [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 && ((std::uint64_t{0x100003E00} >> u) & 1);
  };
  std::size_t b = 0, e = s.size();
  while (b < e && ws(s[b])) ++b;
  while (e > b && ws(s[e - 1])) --e;
  return s.substr(b, e - b);
}

/// True when `s` is well-formed UTF-8 (no overlongs, surrogates or code points
/// past U+10FFFF).
bool is_valid_utf8(std::string_view s);

/// Byte length of the Unicode White_Space character starting at s[i], or 0.
/// `s` must be valid UTF-8.
std::size_t white_space_at(std::string_view s, std::size_t i);

/// `s` without leading and trailing Unicode white space.
std::string_view trim_white_space(std::string_view s);

/// Splits `s` at runs of Unicode white space into at most `max_fields` fields
/// (the rest is dropped); returns how many were stored in `out`.
std::size_t split_white_space(std::string_view s, std::string_view* out, std::size_t max_fields);

/// Decimal unsigned 32-bit number: one optional '+', then ASCII digits only.
std::optional<std::uint32_t> parse_decimal_u32(std::string_view s);

/// Decimal floating-point text: optional sign, then "inf", "infinity" or "nan"
/// in any case, or digits with an optional fraction ("1.", ".5") and an
/// optional exponent. Correctly rounded; nullopt for anything else (hex floats,
/// blanks, underscores included).
std::optional<double> parse_real(std::string_view s);

}  // namespace quarn
