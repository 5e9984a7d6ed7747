#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quarn {

/// Bytes of a vendor database, or of one region of it.
using ByteSpan = std::span<const std::uint8_t>;

/// 0x20..0x7E: printable ASCII, space included.
constexpr bool is_printable_byte(std::uint8_t b) { return b >= 0x20 && b <= 0x7E; }
/// 0x21..0x7E: printable ASCII other than space.
constexpr bool is_graphic_byte(std::uint8_t b) { return b >= 0x21 && b <= 0x7E; }
/// A-Z, a-z or '_': what a name and each of its dotted parts must start with.
constexpr bool is_name_start_byte(std::uint8_t b) {
  return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_';
}

/// Unsigned little-endian 32-bit number at `at`; requires at + 4 <= bytes.size().
constexpr std::uint32_t load_le32(ByteSpan bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}
/// Unsigned big-endian 16-bit number at `at`; requires at + 2 <= bytes.size().
constexpr std::uint16_t load_be16(ByteSpan bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

/// `size` bytes of `bytes` from `offset`, clamped to what exists (empty when
/// offset is past the end); never wraps around.
constexpr ByteSpan clamp_region(ByteSpan bytes, std::size_t offset, std::size_t size) {
  if (offset >= bytes.size()) return {};
  const std::size_t left = bytes.size() - offset;
  return bytes.subspan(offset, size < left ? size : left);
}

}  // namespace quarn
