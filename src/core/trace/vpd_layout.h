#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "trace/vendor_bytes.h"

namespace quarn {

/// Fixed facts of the VPD file layout (integers little-endian).
inline constexpr std::uint32_t kVpdMagic = 0x12345678;
inline constexpr std::size_t kVpdMinFileSize = 128;
/// 20 candidate block offsets, 4 bytes each, at 48, 52, ..., 124.
inline constexpr std::size_t kVpdOffsetTableStart = 48;
inline constexpr std::size_t kVpdOffsetCount = 20;
/// A block's head is its first 128 bytes (fewer if the block is shorter).
inline constexpr std::size_t kVpdHeadSize = 128;
/// Header strings shorter than this are ignored.
inline constexpr std::size_t kVpdMinHeaderString = 3;
/// A head without a marker string names a name block from this many identifiers.
inline constexpr std::size_t kVpdMinHeadIdentifiers = 4;

/// One region of a VPD file that may hold names.
struct VpdBlock {
  std::size_t offset = 0;
  std::size_t size = 0;
};

/// The blocks named by the offset table of `file` (at least kVpdMinFileSize
/// bytes): offsets above 128 and below the file size, sorted ascending, each
/// once; each block runs to the next offset, the last to the end of the file.
std::vector<VpdBlock> vpd_blocks(ByteSpan file);

/// The header strings of a block head: printable runs (space allowed at the
/// start) of at least 3 bytes ended by 0x00 inside the head. A run ended by any
/// other byte is dropped and the scan resumes after that byte; a run reaching
/// the end of the head ends the scan. Views point into `head`.
std::vector<std::string_view> vpd_header_strings(ByteSpan head);

/// True when the block whose head is `head` holds names: a header string
/// contains "FoldedTop" or "WithMask", or else the head alone yields at least
/// four identifiers.
bool vpd_is_name_block(ByteSpan head);

}  // namespace quarn
