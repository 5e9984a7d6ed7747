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

}  // namespace quarn
