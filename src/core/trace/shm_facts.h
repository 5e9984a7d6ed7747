#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "signal/types.h"

// Fixed facts of SHM databases: magic numbers, record tags, field offsets and
// the pure byte predicates the readers are built from. No state here.

namespace quarn::shm {

/// First four bytes of both the design file and every transition file.
inline constexpr std::uint32_t kMagic = 0xA19511BF;

/// Big-endian 32-bit number at `p` (four readable bytes required).
inline std::uint32_t be32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}
/// Big-endian 32-bit number at `pos` of `data`; requires pos + 4 <= size.
inline std::uint32_t be32(std::string_view data, std::size_t pos) {
  return be32(reinterpret_cast<const unsigned char*>(data.data()) + pos);
}

// ---- Design file -----------------------------------------------------------

/// Records start here; the bytes before it after the magic are not read.
inline constexpr std::size_t kFirstRecord = 128;
/// Tag, Next and Text: three big-endian words.
inline constexpr std::size_t kRecordHeader = 12;
/// A file this short has no record area at all.
inline constexpr std::size_t kMinDesignWithMagic = 128;
/// Shorter than this: the magic is checked but no record is read.
inline constexpr std::size_t kMinDesignWithRecords = 140;
/// Without a usable Next the record's strings end this far from it.
inline constexpr std::size_t kFallbackRange = 256;
/// A signal record's own name is looked for this far from its Text offset.
inline constexpr std::size_t kNameRange = 64;
/// The resynchronising search looks below pos + this for the next record.
inline constexpr std::size_t kResyncReach = 1036;

/// What the reader does with a record of a given kind.
enum class RecordHandling : std::uint8_t { None, Scope, Signal };

struct RecordKind {
  std::uint32_t tag;
  std::string_view name;
  RecordHandling handling;
};

/// The known record tags. Handling follows the kind name, so both SCOPE_DEF
/// tags and both SIGNAL tags behave alike.
inline constexpr std::array<RecordKind, 14> kRecordKinds{{
    {0x010102, "META_V1", RecordHandling::None},
    {0x031102, "META_V2", RecordHandling::None},
    {0x070501, "SCOPE_DEF", RecordHandling::Scope},
    {0x070601, "SCOPE_INST", RecordHandling::Scope},
    {0x270501, "SCOPE_DEF", RecordHandling::Scope},
    {0x0F0400, "SOURCE_FILE", RecordHandling::None},
    {0x090700, "SIGNAL", RecordHandling::Signal},
    {0x290700, "SIGNAL", RecordHandling::Signal},
    {0x020C07, "BUS_SIGNAL", RecordHandling::None},
    {0x100B02, "VAR_TYPE_A", RecordHandling::None},
    {0x100B04, "VAR_TYPE_T", RecordHandling::None},
    {0x100B05, "VAR_TYPE_B", RecordHandling::None},
    {0x120C0B, "VAR_TYPE_V", RecordHandling::None},
    {0x140B07, "VAR_TYPE_C", RecordHandling::None},
}};

/// The kind of a known tag; nullopt for 0 and every unlisted tag.
inline std::optional<RecordKind> record_kind(std::uint32_t tag) {
  for (const RecordKind& k : kRecordKinds)
    if (k.tag == tag) return k;
  return std::nullopt;
}

/// Handling of any tag: unlisted tags are handled like the inert kinds.
inline RecordHandling record_handling(std::uint32_t tag) {
  const auto k = record_kind(tag);
  return k ? k->handling : RecordHandling::None;
}

/// Whether the word at a position looks like the start of a record, for the
/// search that resumes the walk after an unusable Next.
inline bool is_resync_candidate(std::uint32_t word) {
  if (record_kind(word)) return true;
  switch (word >> 16) {
    case 0x0002: case 0x0007: case 0x0009: case 0x000F:
    case 0x0010: case 0x0014: case 0x0027: case 0x0029:
      return true;
    default:
      return false;
  }
}

/// Signal name test: a letter or "_" first, then letters, digits and
/// "_$().[]" only.
inline bool is_signal_name(std::string_view s) {
  auto letter = [](unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (s.empty()) return false;
  const auto first = static_cast<unsigned char>(s[0]);
  if (!letter(first) && first != '_') return false;
  for (unsigned char c : s) {
    if (letter(c) || (c >= '0' && c <= '9')) continue;
    switch (c) {
      case '_': case '$': case '(': case ')': case '.': case '[': case ']':
        continue;
      default:
        return false;
    }
  }
  return true;
}

/// Bytes that may start a string in the design file.
inline bool is_printable(unsigned char c) { return c >= 0x20 && c <= 0x7E; }

// ---- Transition files --------------------------------------------------------

/// Shorter transition files are skipped.
inline constexpr std::size_t kMinTransitionFile = 24;
/// Offset of the time-unit code.
inline constexpr std::size_t kTimeUnitOffset = 8;
/// A block header spans this many bytes from its marker.
inline constexpr std::size_t kBlockHeader = 64;
inline constexpr std::array<unsigned char, 4> kBlockMarker{0x00, 0x1B, 0x22, 0x00};
// Field offsets from the marker.
inline constexpr std::size_t kFieldE = 28;
inline constexpr std::size_t kFieldN = 40;
inline constexpr std::size_t kFieldQ = 48;
inline constexpr std::size_t kFieldS = 52;
inline constexpr std::size_t kFieldV = 56;

/// Time scale per mille for a time-unit code: raw times are divided by 100
/// (code 5), by 10 (code 6), or kept.
inline constexpr std::uint64_t time_scale(std::uint32_t unit_code) {
  return unit_code == 5 ? 10 : unit_code == 6 ? 100 : 1000;
}
/// Trace time of a raw time under scale `k`.
inline constexpr Time convert_time(std::uint64_t raw, std::uint64_t k) { return raw * k / 1000; }

/// Bits 4-3 of a value byte: 01 or 10 marks an initial-value byte, 10 a 1.
inline constexpr unsigned level_bits(unsigned char b) { return (b >> 3) & 3u; }
inline constexpr bool is_level_byte(unsigned char b) { return level_bits(b) == 1 || level_bits(b) == 2; }
inline constexpr unsigned level_of(unsigned char b) { return level_bits(b) == 2 ? 1 : 0; }
/// The second initial-value form: 0x00 or 0x40, bit 6 being the value.
inline constexpr bool is_flag_byte(unsigned char b) { return b == 0x00 || b == 0x40; }

/// First byte of a transition record's end pair (0x01, then 0x8F or 0x81).
inline constexpr bool is_record_end(unsigned char b0, unsigned char b1) { return b0 == 0x01 && (b1 == 0x8F || b1 == 0x81); }
/// Start of a transition record: kind byte 0x11-0x14 with a telltale byte
/// two further on or a large byte right after it.
inline constexpr bool is_record_start(unsigned char b, unsigned char b1, unsigned char b2) {
  return b >= 0x11 && b <= 0x14 && (b2 == 0x7C || b2 == 0x88 || b2 == 0xFC || b1 >= 0x40);
}

/// Bit `from` of `b` moved to bit `to`.
inline constexpr std::uint32_t bit_to(unsigned char b, unsigned from, unsigned to) {
  return static_cast<std::uint32_t>((b >> from) & 1u) << to;
}

/// Raw time of a 0x13 record from its bytes r+4, r+6 and r+7; nullopt for the
/// reserved codes. `e` is the block's raw end time.
inline std::optional<std::uint64_t> short_record_time(unsigned char b4, unsigned char b6, unsigned char b7,
                                                      std::uint32_t e) {
  const std::uint32_t x = (static_cast<std::uint32_t>(b4) & 0x60u) | bit_to(b6, 2, 4) | bit_to(b6, 0, 3) |
                          bit_to(b7, 6, 2) | bit_to(b7, 4, 1) | bit_to(b7, 2, 0);
  if (x == 0 || x == 0x7F) return std::nullopt;
  const std::uint64_t t = (std::uint64_t{e / 2} + 108u * x) % 127u;
  if (t > e) return std::nullopt;
  return t;
}

/// Raw time of a 0x12 record from its bytes r+1, r+4 and r+5; nullopt when
/// the code is out of range.
inline std::optional<std::uint64_t> long_record_time(unsigned char b1, unsigned char b4, unsigned char b5,
                                                     std::uint32_t e) {
  const std::uint32_t x = bit_to(b1, 7, 10) | bit_to(b1, 5, 9) | bit_to(b4, 5, 8) | bit_to(b4, 2, 7) |
                          bit_to(b4, 1, 6) | ((static_cast<std::uint32_t>(b5) >> 4) << 2) | bit_to(b5, 2, 1) |
                          bit_to(b5, 0, 0);
  if (x < 1 || x > 2046) return std::nullopt;
  const std::uint64_t t = (1297u * std::uint64_t{x} + e / 2) % 2047u;
  if (t > e) return std::nullopt;
  return t;
}

}  // namespace quarn::shm
