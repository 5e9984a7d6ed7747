#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace quarn {

/// VCD separates its tokens by white space only (IEEE 1364 18.2): ' ', '\t',
/// '\n', '\v', '\f' and '\r'. One mask, two tests.
inline bool vcd_space(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u <= 0x20 && ((std::uint64_t{0x100003E00} >> u) & 1);
}

/// The first space at or after `p`, or `end`. Eight bytes at a time: tokens
/// are short, and a byte-by-byte loop was the reader's largest cost.
inline const char* vcd_token_end(const char* p, const char* end) {
  while (end - p >= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    // Bytes below 0x21; the lowest flagged byte is always a true one.
    const std::uint64_t low = (w - 0x2121212121212121ull) & ~w & 0x8080808080808080ull;
    if (!low) {
      p += 8;
      continue;
    }
    if constexpr (std::endian::native == std::endian::little) p += std::countr_zero(low) / 8;
    else p += std::countl_zero(low) / 8;
    if (vcd_space(*p)) return p;
    ++p;  // another control byte: part of the token
  }
  while (p < end && !vcd_space(*p)) ++p;
  return p;
}

/// Calls `on_token(token, offset)` for each run of non-space bytes of `chunk`,
/// `offset` being the token's position in `chunk`. Unless `final`, the last
/// token is held back when it reaches the chunk's end, since it may go on in
/// the next chunk. Returns how many bytes were used up (the held-back token
/// starts there).
template <class OnToken>
std::size_t for_each_vcd_token(std::string_view chunk, bool final, OnToken&& on_token) {
  const char* const begin = chunk.data();
  const char* const end = begin + chunk.size();
  const char* p = begin;
  for (;;) {
    while (p < end && vcd_space(*p)) ++p;
    if (p == end) return chunk.size();
    const char* start = p;
    p = vcd_token_end(p, end);
    if (p == end && !final) return static_cast<std::size_t>(start - begin);
    on_token(std::string_view(start, static_cast<std::size_t>(p - start)), static_cast<std::size_t>(start - begin));
  }
}

}  // namespace quarn
