#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "signal/signal_value.h"
#include "signal/types.h"
#include "signal/value_view.h"

namespace quarn {

/// Reusable buffers for `parse_binary_view`, so a reader parses vectors
/// without allocating per value.
struct BinaryScratch {
  std::vector<std::uint64_t> words;
  std::vector<std::uint8_t> logic;
};

/// Binary digit string (as in VCD vector changes) to a value. A leading 'b'/'B'
/// is dropped; nothing left gives Empty. Any 'x','X','z','Z' makes a Logic with
/// one element per character ('0'->0, '1'->1, 'z'/'Z'->3, anything else X).
/// Otherwise a two-state number where every character but '1' is a 0 bit:
/// Bits when it fits in 64 bits, else WideBits with the fewest words.
/// Characters are UTF-8 code points, each one element or one bit.
SignalValue parse_binary_str(std::string_view text);

/// Same as `parse_binary_str`, viewed into `scratch` (valid until its next use).
ValueView parse_binary_view(std::string_view text, BinaryScratch& scratch);

/// The digits of a VCD vector change (after its 'b'), strictly: '0' and '1'
/// only give Bits (WideBits past 64 significant bits); any of "xzuwlh-" (any
/// case) gives Logic, left-extended to `width` elements as VCD extends (x or z
/// when the top digit is one, else 0). Digits above `width` (when it is not
/// 0) are dropped if extension would give them back (zeros, or x/z repeating
/// the digit below); otherwise the value does not fit. False, and `out`
/// untouched, for no digits, any other character or a value that does not
/// fit. `out` may view into `scratch`.
bool parse_vcd_vector(std::string_view digits, Width width, BinaryScratch& scratch, ValueView& out);

}  // namespace quarn
