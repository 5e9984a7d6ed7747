#include "trace/timescale.h"

#include <array>
#include <cctype>
#include <utility>

#include "trace/text_scan.h"

namespace quarn {
namespace {

constexpr std::array<std::pair<std::string_view, int>, 7> kUnits{{
    {"s", 0}, {"ms", -3}, {"us", -6}, {"ns", -9}, {"ps", -12}, {"fs", -15}, {"as", -18}}};

std::optional<int> unit_exponent(std::string_view unit) {
  for (const auto& [name, exponent] : kUnits)
    if (unit == name) return exponent;
  return std::nullopt;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  return s;
}

using u128 = unsigned __int128;
constexpr u128 kMaxTime = ~std::uint64_t{0};

// 10^n as a 128-bit number, or absent when it would not fit.
std::optional<u128> pow10(int n) {
  if (n < 0 || n > 38) return std::nullopt;
  u128 p = 1;
  for (int i = 0; i < n; ++i) p *= 10;
  return p;
}

}  // namespace

std::optional<Timescale> parse_timescale(std::string_view text) {
  text = trim(text);
  std::size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  if (digits == 0) return std::nullopt;
  const auto magnitude = parse_decimal_u32(text.substr(0, digits));
  const auto exponent = unit_exponent(trim(text.substr(digits)));
  if (!magnitude || *magnitude == 0 || !exponent) return std::nullopt;
  return Timescale{*magnitude, static_cast<std::int8_t>(*exponent)};
}

std::optional<Timescale> timescale_from_exponent(int exponent) {
  if (exponent < -18 || exponent > 2) return std::nullopt;
  // Round the unit down to a multiple of 3; the rest goes into the magnitude.
  const int unit = exponent >= 0 ? 0 : -((-exponent + 2) / 3 * 3);
  std::uint32_t magnitude = 1;
  for (int i = unit; i < exponent; ++i) magnitude *= 10;
  return Timescale{magnitude, static_cast<std::int8_t>(unit)};
}

std::string_view unit_name(int exponent) {
  for (const auto& [name, e] : kUnits)
    if (e == exponent) return name;
  return {};
}

std::optional<Time> parse_time(std::string_view text, const std::optional<Timescale>& scale, std::string& error) {
  const std::string_view whole = trim(text);
  // Mantissa: digits with at most one '.', read as an integer and a count of
  // decimal places, so the conversion below is exact.
  u128 mantissa = 0;
  int places = 0;
  bool seen_dot = false;
  std::size_t i = 0;
  std::size_t digits = 0;
  for (; i < whole.size(); ++i) {
    const char c = whole[i];
    if (c == '.' && !seen_dot) {
      seen_dot = true;
      continue;
    }
    if (!std::isdigit(static_cast<unsigned char>(c))) break;
    ++digits;
    if (mantissa > kMaxTime * 10) {  // far beyond any tick count: stop growing
      error = "time out of range: " + std::string(whole);
      return std::nullopt;
    }
    mantissa = mantissa * 10 + static_cast<unsigned>(c - '0');
    if (seen_dot) ++places;
  }
  const std::string_view unit = trim(whole.substr(i));
  if (digits == 0) {
    error = "not a time: '" + std::string(whole) + "' (expected a number with an optional unit s, ms, us, ns, ps, fs)";
    return std::nullopt;
  }
  if (unit.empty()) {
    if (places > 0) {
      error = "a time without a unit counts ticks and must be whole: " + std::string(whole);
      return std::nullopt;
    }
    if (mantissa > kMaxTime) {
      error = "time out of range: " + std::string(whole);
      return std::nullopt;
    }
    return static_cast<Time>(mantissa);
  }
  const auto unit_exp = unit_exponent(unit);
  if (!unit_exp) {
    error = "unknown time unit '" + std::string(unit) + "' in '" + std::string(whole) +
            "' (expected s, ms, us, ns, ps, fs or as)";
    return std::nullopt;
  }
  if (!scale) {
    error = "the trace declares no timescale, so '" + std::string(whole) + "' cannot be converted to ticks";
    return std::nullopt;
  }
  // ticks = mantissa * 10^(unit_exp - places - scale.exponent) / magnitude
  const int shift = *unit_exp - places - scale->exponent;
  u128 numerator = mantissa;
  u128 denominator = scale->magnitude;
  if (shift >= 0) {
    const auto p = pow10(shift);
    if (!p || (mantissa != 0 && *p > ~u128{0} / mantissa)) {
      error = "time out of range: " + std::string(whole);
      return std::nullopt;
    }
    numerator = mantissa * *p;
  } else {
    const auto p = pow10(-shift);
    if (!p) return Time{0};  // a tiny fraction of a tick
    if (*p > ~u128{0} / denominator) return Time{0};
    denominator *= *p;
  }
  const u128 ticks = numerator / denominator;
  if (ticks > kMaxTime) {
    error = "time out of range: " + std::string(whole);
    return std::nullopt;
  }
  return static_cast<Time>(ticks);
}

}  // namespace quarn
