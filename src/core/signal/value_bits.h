#pragma once

#include <string>

#include "signal/signal_value.h"
#include "signal/types.h"

namespace quarn {

/// A value as VCD writes it: most significant bit first, one character per
/// bit from "01xzuwlh-", exactly `width` characters. A shorter value is
/// extended as VCD extends it (with 0, or with its top x or z); a longer one
/// keeps its low `width` bits. Bits and WideBits give their binary digits.
/// "" for Real, Text and Empty, and for width 0.
std::string value_bits(const SignalValue& v, Width width);

}  // namespace quarn
