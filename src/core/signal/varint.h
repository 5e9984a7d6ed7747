#pragma once

#include <cstdint>
#include <vector>

namespace quarn {

/// Little-endian base-128 integers: 7 bits a byte, high bit = more follow.
/// At most 10 bytes for a 64-bit value.
inline constexpr std::size_t kMaxVarintBytes = 10;

inline std::uint8_t* put_varint(std::uint8_t* p, std::uint64_t n) {
  while (n >= 0x80) {
    *p++ = static_cast<std::uint8_t>(n | 0x80);
    n >>= 7;
  }
  *p++ = static_cast<std::uint8_t>(n);
  return p;
}

inline void put_varint(std::vector<std::uint8_t>& out, std::uint64_t n) {
  std::uint8_t buf[kMaxVarintBytes];
  out.insert(out.end(), buf, put_varint(buf, n));
}

/// Reads a value written by `put_varint` (trusted, in-memory data only).
inline std::uint64_t get_varint(const std::uint8_t*& p) {
  std::uint64_t n = 0;
  for (unsigned shift = 0;; shift += 7) {
    const std::uint8_t b = *p++;
    n |= std::uint64_t{b & 0x7Fu} << shift;
    if (!(b & 0x80)) return n;
  }
}

}  // namespace quarn
