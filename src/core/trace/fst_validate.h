#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "signal/types.h"

namespace quarn {

/// Block types of an FST file.
enum class FstBlock : std::uint8_t {
  Header = 0,
  ValueChanges = 1,
  Blackout = 2,
  Geometry = 3,
  Hierarchy = 4,
  ValueChangesAlias = 5,
  HierarchyLz4 = 6,
  HierarchyLz4Duo = 7,
  ValueChangesAlias2 = 8,
  Wrapper = 254,  // the whole rest of the file gzipped
  Skip = 255,
};

/// What the structure check learns from an FST image.
struct FstLayout {
  /// Distinct time steps of all value-change blocks, ascending.
  std::vector<Time> times;
  /// Per handle index: the library hands this signal's values as 8 native
  /// double bytes (true) or as text (false).
  std::vector<std::uint8_t> is_real;
  /// Per handle index: characters of a text value (0: variable length).
  std::vector<std::uint32_t> value_chars;
};

/// Checks the block structure of an unpacked FST image before the FST library
/// walks it: every block type known and inside the file, the header, the
/// geometry, the hierarchy entries, and each value-change block's frame and
/// time table (decompressed here; ratio-bounded, so a few bytes cannot ask
/// for gigabytes). Returns "" and fills `layout`, or a message that starts
/// with "FST open: ", "FST hierarchy: " or "FST signals: ".
std::string check_fst_image(std::span<const std::uint8_t> image, FstLayout& layout);

}  // namespace quarn
