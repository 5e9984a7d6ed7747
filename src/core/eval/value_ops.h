#pragma once

#include <cstdint>

#include "signal/value_view.h"

namespace quarn {

/// The readings that expression nodes take of their operands, on views so
/// that evaluation never copies a value. Each gives the same answer as the
/// `SignalValue` reading of the same name.

/// Unsigned 64-bit reading into `out`; false when the value has none.
bool read_u64(const ValueView& v, std::uint64_t& out);
/// Truthiness: nonzero number, some 1 bit, Real != 0.0 (NaN true), non-empty text.
bool view_truthy(const ValueView& v);
/// The `Eq` node: same variant with equal payload, else both have a reading
/// and the readings are equal.
bool values_match(const ValueView& a, const ValueView& b);
/// Empty, or Logic with at least one unknown element (X, U, W or -).
bool view_is_x(const ValueView& v);
/// Logic with at least one Z element.
bool view_is_z(const ValueView& v);
/// Empty, or Logic with any element other than 0 and 1 (X, Z and the
/// other nine-valued states alike).
bool view_is_unknown(const ValueView& v);
/// Number of 1 bits into `out` (Bits, WideBits, Logic; unknown elements
/// are not 1); false for the other variants.
bool view_count_ones(const ValueView& v, std::uint64_t& out);
/// The least significant bit into `out`; false when it is neither 0 nor 1
/// (an unknown Logic element, Empty, Real, Text).
bool view_lsb(const ValueView& v, std::uint64_t& out);

}  // namespace quarn
