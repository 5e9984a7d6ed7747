#include "signal/value_view.h"

#include <cmath>
#include <cstring>

namespace quarn {

ValueView view_of(const SignalValue& v) {
  switch (v.tag()) {
    case ValueTag::Bits: return ValueView::bits(v.as_bits());
    case ValueTag::WideBits: return ValueView::wide_bits(v.as_wide_bits().data(), v.as_wide_bits().size());
    case ValueTag::Logic: return ValueView::logic(v.as_logic().data(), v.as_logic().size());
    case ValueTag::Real: return ValueView::real(v.as_real());
    case ValueTag::Text: return ValueView::text(v.as_text().data(), v.as_text().size());
    case ValueTag::Empty: return ValueView::empty();
  }
  return ValueView::empty();
}

SignalValue to_value(const ValueView& v) {
  switch (v.tag) {
    case ValueTag::Bits: return SignalValue::bits(v.scalar);
    case ValueTag::WideBits: {
      SignalValue::Words w(v.size);
      if (v.size) std::memcpy(w.data(), v.data, v.size * 8);
      return SignalValue::wide_bits(std::move(w));
    }
    case ValueTag::Logic: {
      const auto* p = static_cast<const std::uint8_t*>(v.data);
      return SignalValue::logic(SignalValue::LogicBits(p, p + v.size));
    }
    case ValueTag::Real: return SignalValue::real(v.real_value());
    case ValueTag::Text: return SignalValue::text(std::string(static_cast<const char*>(v.data), v.size));
    case ValueTag::Empty: return SignalValue::empty();
  }
  return SignalValue::empty();
}

bool identical(const ValueView& a, const ValueView& b) {
  if (a.tag != b.tag) return false;
  switch (a.tag) {
    case ValueTag::Bits:
    case ValueTag::Real: return a.scalar == b.scalar;
    case ValueTag::Empty: return true;
    default:
      return a.size == b.size && (a.size == 0 || std::memcmp(a.data, b.data, a.byte_size()) == 0);
  }
}

bool equal_values(const ValueView& a, const ValueView& b) {
  if (a.tag == ValueTag::Real && b.tag == ValueTag::Real) return a.real_value() == b.real_value();
  return identical(a, b);
}

}  // namespace quarn

namespace quarn {

bool same_for_changes(const ValueView& a, const ValueView& b) {
  if (a.tag == ValueTag::Real && b.tag == ValueTag::Real && std::isnan(a.real_value()) && std::isnan(b.real_value()))
    return true;
  return equal_values(a, b);
}

}  // namespace quarn
