#pragma once

// Byte patterns, limits and pure predicates of the FSDB reader. Nothing here
// keeps state; the stateful walks live in fsdb_header, fsdb_blocks,
// fsdb_names and fsdb_values.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quarn::fsdb {

using Bytes = std::span<const std::uint8_t>;

// ---- File check -------------------------------------------------------------

inline constexpr std::size_t kMinFileSize = 12;
inline constexpr std::size_t kMagicOffset = 4;
inline constexpr std::uint32_t kOlderMagic = 0xFDE099C1;
inline constexpr std::uint32_t kNewerMagic = 0x1C3ED948;
/// The older layout keeps its names after a fixed-size header.
inline constexpr std::size_t kOlderNamesOffset = 272;

// ---- Newer layout header ----------------------------------------------------

inline constexpr std::size_t kHeaderCheckOffset = 40;
inline constexpr std::uint32_t kHeaderCheckMax = 84;
inline constexpr std::size_t kHeaderMinFileSize = 385;
inline constexpr std::size_t kTableOffsetField = 264;
inline constexpr std::size_t kWidthOffsetField = 272;
inline constexpr std::size_t kTableCountField = 22;
inline constexpr std::size_t kTableEntriesStart = 24;
inline constexpr std::size_t kTableEntrySize = 12;

// ---- Blocks -----------------------------------------------------------------

inline constexpr std::size_t kMaxFoundBlocks = 20;
inline constexpr std::size_t kClassifyWindow = 1024;
inline constexpr std::size_t kWordTestWindow = 200;
inline constexpr std::size_t kFirstInflateBuffer = std::size_t{1} << 20;
inline constexpr std::size_t kSecondInflateBuffer = std::size_t{4} << 20;
inline constexpr std::size_t kTailSize = 4096;

// ---- Value blocks -----------------------------------------------------------

inline constexpr std::uint8_t kHeaderMark[] = {0x38, 0x43, 0x00, 0x04, 0x00, 0x08};
inline constexpr std::uint8_t kTrailerMark[] = {0x44, 0x00, 0x63, 0x00, 0x03, 0x08};
inline constexpr std::uint8_t kEndMark[] = {0xC1, 0x21, 0x00, 0x00};
inline constexpr std::uint8_t kFillMark[] = {0xFF, 0xFF, 0xFF, 0xFF};
inline constexpr std::uint8_t kSeparator = 0x08;
inline constexpr std::size_t kMarkSize = 6;  // header and trailer marks
inline constexpr std::size_t kMinValueBlock = 8;
/// A corrupt block could otherwise ask for billions of clock edges.
inline constexpr std::uint64_t kMaxClockEvents = 10'000'000;
/// Events made over a whole load. Descriptors multiply base events, so a
/// hostile block could otherwise ask for far more than memory holds.
inline constexpr std::uint64_t kMaxEvents = std::uint64_t{1} << 26;
/// Inflated bytes kept from the block table over a whole load; entries may
/// all point at one small stream that inflates to 4 MiB each time.
inline constexpr std::uint64_t kMaxTableBytes = std::uint64_t{1} << 30;

// ---- Byte predicates --------------------------------------------------------

inline bool is_ascii_letter(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
inline bool is_ascii_digit(std::uint8_t c) { return c >= '0' && c <= '9'; }
/// Printable and not a space: may start a string.
inline bool is_graphic(std::uint8_t c) { return c >= 0x21 && c <= 0x7E; }
/// Printable including space: may continue a string.
inline bool is_printable(std::uint8_t c) { return c >= 0x20 && c <= 0x7E; }
/// First character of a name, and of every dotted part of one.
inline bool is_name_start(std::uint8_t c) { return is_ascii_letter(c) || c == '_'; }
/// Characters a name may hold.
inline bool is_name_char(std::uint8_t c) {
  return is_ascii_letter(c) || is_ascii_digit(c) || c == '$' || c == '.' || c == ':' || c == '[' || c == ']' ||
         c == '_';
}
/// A name of the tail scan: a name start, then name characters only.
inline bool is_plain_name(std::string_view s) {
  if (s.empty() || !is_name_start(static_cast<std::uint8_t>(s[0]))) return false;
  return std::all_of(s.begin(), s.end(), [](char c) { return is_name_char(static_cast<std::uint8_t>(c)); });
}

/// Second byte of a zlib header that starts with 0x78.
inline bool is_zlib_flag(std::uint8_t c) { return c == 0x01 || c == 0x5E || c == 0x9C || c == 0xDA; }

/// Width of one signal from the type byte of its width record.
inline std::uint32_t width_for_type(std::uint8_t t) {
  switch (t) {
    case 'C':
    case 'D':
      return 8;
    case 'j':
      return 2;
    case 'x':
      return 16;
    case '}':
      return 32;
    default:
      return 1;
  }
}

// ---- Bounded reads ----------------------------------------------------------

/// Position of the first occurrence of `pat` in `data` at or after `from`, or
/// data.size() when there is none.
inline std::size_t find_bytes(Bytes data, Bytes pat, std::size_t from = 0) {
  if (from > data.size() || pat.size() > data.size() - from) return data.size();
  auto it = std::search(data.begin() + static_cast<std::ptrdiff_t>(from), data.end(), pat.begin(), pat.end());
  return static_cast<std::size_t>(it - data.begin());
}
inline bool contains_bytes(Bytes data, std::string_view pat) {
  const Bytes p(reinterpret_cast<const std::uint8_t*>(pat.data()), pat.size());
  return find_bytes(data, p) != data.size();
}
/// True when `pat` sits at `at`, wholly inside `data`.
inline bool bytes_at(Bytes data, std::size_t at, Bytes pat) {
  return at <= data.size() && pat.size() <= data.size() - at && std::equal(pat.begin(), pat.end(), data.begin() + static_cast<std::ptrdiff_t>(at));
}

/// Little-endian unsigned number of `n` bytes at `at`; the caller checks bounds.
inline std::uint64_t read_le(Bytes data, std::size_t at, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v |= std::uint64_t{data[at + i]} << (8 * i);
  return v;
}
/// True when `n` bytes starting at `at` lie inside a range of `size` bytes,
/// compared without wrap-around.
inline bool fits(std::uint64_t at, std::uint64_t n, std::uint64_t size) { return at <= size && n <= size - at; }

/// One unsigned LEB128 number read from data[pos..end): at most 10 bytes, and
/// reading stops at `end`. Advances `pos` past the bytes read.
inline std::uint64_t read_varint(Bytes data, std::size_t& pos, std::size_t end) {
  std::uint64_t v = 0;
  for (unsigned shift = 0; pos < end && shift <= 63; shift += 7) {
    const std::uint8_t b = data[pos++];
    v |= std::uint64_t{b & 0x7Fu} << shift;
    if (b < 0x80) break;
  }
  return v;
}

}  // namespace quarn::fsdb
