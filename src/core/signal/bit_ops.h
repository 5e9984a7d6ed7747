#pragma once

#include <cstdint>

namespace quarn {

/// Bits high..low of `val` (bit 0 least significant), shifted down to bit 0.
/// 0 when high < low or low >= 64; a field reaching past bit 63 keeps every
/// bit from `low` up.
std::uint64_t bit_slice_val(std::uint64_t val, std::uint32_t high, std::uint32_t low);

/// `val` read as a two's-complement number of `width` bits. Width 0 or >= 64
/// reinterprets all 64 bits. With the sign bit set, every bit from `width` up
/// becomes 1; with it clear, `val` comes back unchanged (upper bits included).
std::int64_t sign_extend_val(std::uint64_t val, std::uint32_t width);

}  // namespace quarn
