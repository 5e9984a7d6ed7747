#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "signal/signal_value.h"

namespace quarn {

/// Non-owning view of a value, so hot paths can pass values around without
/// allocating. `scalar` holds the Bits number or the Real's bit pattern;
/// `data`/`size` the elements of WideBits (words), Logic (bytes) or Text (bytes).
struct ValueView {
  ValueTag tag = ValueTag::Empty;
  std::uint64_t scalar = 0;
  const void* data = nullptr;
  std::size_t size = 0;

  static ValueView bits(std::uint64_t n) { return {ValueTag::Bits, n, nullptr, 0}; }
  static ValueView real(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return {ValueTag::Real, u, nullptr, 0};
  }
  static ValueView empty() { return {}; }
  static ValueView logic(const std::uint8_t* p, std::size_t n) { return {ValueTag::Logic, 0, p, n}; }
  static ValueView text(const char* p, std::size_t n) { return {ValueTag::Text, 0, p, n}; }
  static ValueView wide_bits(const std::uint64_t* p, std::size_t n) { return {ValueTag::WideBits, 0, p, n}; }

  double real_value() const {
    double d;
    std::memcpy(&d, &scalar, sizeof d);
    return d;
  }
  /// Bytes behind `data` (words count 8 bytes each).
  std::size_t byte_size() const { return tag == ValueTag::WideBits ? size * 8 : size; }
};

/// The variants whose value is bytes behind `data` rather than `scalar`.
inline bool has_bytes(ValueTag t) { return t == ValueTag::WideBits || t == ValueTag::Logic || t == ValueTag::Text; }

/// View of an owned value; valid while `v` lives and is unchanged.
ValueView view_of(const SignalValue& v);
/// Owned copy of a viewed value.
SignalValue to_value(const ValueView& v);
/// Same variant and bit-identical payload (Real compared by bit pattern, so
/// -0.0 and 0.0 differ and a NaN matches itself). Used to merge storage runs,
/// never for the value equality that queries see.
bool identical(const ValueView& a, const ValueView& b);
/// The value equality of `SignalValue` on views: same variant and equal
/// payload, Real compared as IEEE doubles (NaN != NaN, 0.0 == -0.0).
bool equal_values(const ValueView& a, const ValueView& b);
/// "No change" between two values: `equal_values`, except that a NaN Real
/// equals a NaN Real, so a NaN that holds is not reported as changing.
bool same_for_changes(const ValueView& a, const ValueView& b);

}  // namespace quarn
