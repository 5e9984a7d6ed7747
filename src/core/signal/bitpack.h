#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "signal/signal_value.h"
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

}  // namespace quarn
