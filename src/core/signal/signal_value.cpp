#include "signal/signal_value.h"

#include <cmath>

namespace quarn {

bool operator==(const SignalValue& a, const SignalValue& b) {
  if (a.tag() != b.tag()) return false;
  switch (a.tag()) {
    case ValueTag::Bits: return a.as_bits() == b.as_bits();
    case ValueTag::WideBits: return a.as_wide_bits() == b.as_wide_bits();
    case ValueTag::Logic: return a.as_logic() == b.as_logic();
    case ValueTag::Real: return a.as_real() == b.as_real();  // IEEE: NaN != NaN
    case ValueTag::Text: return a.as_text() == b.as_text();
    case ValueTag::Empty: return true;
  }
  return false;
}

std::optional<std::uint64_t> parse_decimal_u64(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  std::uint64_t n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    const std::uint64_t d = static_cast<std::uint64_t>(c - '0');
    if (n > (UINT64_MAX - d) / 10) return std::nullopt;
    n = n * 10 + d;
  }
  return n;
}

namespace {

std::optional<std::uint64_t> real_to_u64(double d) {
  if (std::isnan(d) || d <= 0.0) return 0;
  if (d >= 18446744073709551616.0) return UINT64_MAX;
  return static_cast<std::uint64_t>(d);  // truncates toward zero
}

std::optional<std::uint64_t> logic_to_u64(const SignalValue::LogicBits& bits) {
  std::uint64_t n = 0;
  const std::size_t len = bits.size();
  for (std::size_t k = 0; k < len; ++k) {
    if (!logic_level(bits[k])) return std::nullopt;
  }
  // Element len-1-i is bit i; only the low 64 bits count.
  const std::size_t low = len < 64 ? len : 64;
  for (std::size_t i = 0; i < low; ++i) {
    if (logic_high(bits[len - 1 - i])) n |= std::uint64_t{1} << i;
  }
  return n;
}

}  // namespace

std::optional<std::uint64_t> to_u64(const SignalValue& v) {
  switch (v.tag()) {
    case ValueTag::Bits: return v.as_bits();
    case ValueTag::WideBits:
      if (v.as_wide_bits().empty()) return std::nullopt;
      return v.as_wide_bits()[0];
    case ValueTag::Logic: return logic_to_u64(v.as_logic());
    case ValueTag::Real: return real_to_u64(v.as_real());
    case ValueTag::Text: return parse_decimal_u64(v.as_text());
    case ValueTag::Empty: return std::nullopt;
  }
  return std::nullopt;
}

bool is_truthy(const SignalValue& v) {
  switch (v.tag()) {
    case ValueTag::Bits: return v.as_bits() != 0;
    case ValueTag::WideBits:
      for (std::uint64_t w : v.as_wide_bits())
        if (w != 0) return true;
      return false;
    case ValueTag::Logic:
      for (std::uint8_t b : v.as_logic())
        if (logic_high(b)) return true;
      return false;
    case ValueTag::Real: return v.as_real() != 0.0;
    case ValueTag::Text: return !v.as_text().empty();
    case ValueTag::Empty: return false;
  }
  return false;
}

}  // namespace quarn
