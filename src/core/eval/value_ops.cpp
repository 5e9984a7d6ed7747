#include "eval/value_ops.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "signal/signal_value.h"

namespace quarn {

namespace {

const std::uint8_t* logic_bytes(const ValueView& v) { return static_cast<const std::uint8_t*>(v.data); }

template <class Pred>
bool logic_any(const ValueView& v, Pred pred) {
  const std::uint8_t* p = logic_bytes(v);
  for (std::size_t k = 0; k < v.size; ++k)
    if (pred(p[k])) return true;
  return false;
}

std::uint64_t real_reading(double d) {
  if (std::isnan(d) || d <= 0.0) return 0;
  if (d >= 18446744073709551616.0) return UINT64_MAX;
  return static_cast<std::uint64_t>(d);
}

}  // namespace

bool read_u64(const ValueView& v, std::uint64_t& out) {
  switch (v.tag) {
    case ValueTag::Bits: out = v.scalar; return true;
    case ValueTag::WideBits:
      if (v.size == 0) return false;
      std::memcpy(&out, v.data, 8);  // stored words may be unaligned
      return true;
    case ValueTag::Logic: {
      if (logic_any(v, [](std::uint8_t e) { return !logic_level(e); })) return false;
      const std::uint8_t* p = logic_bytes(v);
      const std::size_t low = v.size < 64 ? v.size : 64;
      std::uint64_t n = 0;
      for (std::size_t i = 0; i < low; ++i)
        if (logic_high(p[v.size - 1 - i])) n |= std::uint64_t{1} << i;
      out = n;
      return true;
    }
    case ValueTag::Real: out = real_reading(v.real_value()); return true;
    case ValueTag::Text: {
      const auto n = parse_decimal_u64(std::string_view(static_cast<const char*>(v.data), v.size));
      if (!n) return false;
      out = *n;
      return true;
    }
    case ValueTag::Empty: return false;
  }
  return false;
}

bool view_truthy(const ValueView& v) {
  switch (v.tag) {
    case ValueTag::Bits: return v.scalar != 0;
    case ValueTag::WideBits: {
      const auto* p = static_cast<const std::uint8_t*>(v.data);
      for (std::size_t k = 0; k < v.size * 8; ++k)
        if (p[k] != 0) return true;
      return false;
    }
    case ValueTag::Logic: return logic_any(v, logic_high);
    case ValueTag::Real: return v.real_value() != 0.0;
    case ValueTag::Text: return v.size != 0;
    case ValueTag::Empty: return false;
  }
  return false;
}

bool values_match(const ValueView& a, const ValueView& b) {
  if (a.tag == b.tag) {
    switch (a.tag) {
      case ValueTag::Bits: if (a.scalar == b.scalar) return true; break;
      case ValueTag::Real: if (a.real_value() == b.real_value()) return true; break;
      case ValueTag::Empty: return true;
      default:
        if (a.size == b.size && (a.size == 0 || std::memcmp(a.data, b.data, a.byte_size()) == 0)) return true;
        break;
    }
  }
  std::uint64_t x = 0, y = 0;
  return read_u64(a, x) && read_u64(b, y) && x == y;
}

bool view_is_x(const ValueView& v) {
  return v.tag == ValueTag::Empty || (v.tag == ValueTag::Logic && logic_any(v, logic_unknown));
}

bool view_is_z(const ValueView& v) {
  return v.tag == ValueTag::Logic && logic_any(v, [](std::uint8_t e) { return e == kLogicZ; });
}

}  // namespace quarn
