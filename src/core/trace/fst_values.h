#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "signal/bitpack.h"
#include "signal/signal_value.h"
#include "signal/value_view.h"

namespace quarn {

/// Reusable buffers for `fst_value_view`, so the loader converts values
/// without allocating per change.
struct FstValueScratch {
  BinaryScratch binary;
  std::string text;
};

/// An FST text value (as the FST library hands it) to a value:
///  - no characters: Empty;
///  - any byte outside the nine states 0 1 X Z U W L H - (letters in either
///    case): Text, invalid UTF-8 replaced by U+FFFD;
///  - else, any state besides 0 and 1: Logic, one element per character:
///    0 0, 1 1, X 2, Z 3, U 4, W 5, L 6, H 7, '-' 8;
///  - only '0'/'1': Bits, or WideBits with the fewest words when the number
///    needs more than 64 bits.
/// The view points into `scratch` or `text` and lives until either changes.
ValueView fst_value_view(std::string_view text, FstValueScratch& scratch);

/// A value of a string signal (variable length): Empty when it has no
/// characters, else Text (invalid UTF-8 replaced by U+FFFD), whatever the
/// characters, so "false" or "hello" never read as X bits.
ValueView fst_text_view(std::string_view text, FstValueScratch& scratch);

/// Owned form of `fst_value_view`.
SignalValue convert_value(std::string_view text);
/// A real value: the Real variant.
inline SignalValue convert_value(double d) { return SignalValue::real(d); }

/// `s` with every maximal invalid UTF-8 subsequence replaced by U+FFFD,
/// appended to `out`.
void append_utf8_replacing(std::string_view s, std::string& out);

}  // namespace quarn
