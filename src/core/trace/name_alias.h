#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "signal/types.h"

namespace quarn {

/// A declared variable name split at its trailing bit range: "busy [7:0]",
/// "busy[7:0]" and "busy [3]" have base "busy". A name that is nothing but a
/// range ("[0]", as some writers name array elements) or has no range keeps
/// its whole text as base.
struct VarNameParts {
  std::string_view base;
  /// Bounds of the range, msb first; absent without a range.
  std::optional<std::int64_t> msb;
  std::optional<std::int64_t> lsb;
  /// The range is one index ("[3]"), not "msb:lsb".
  bool single_index = false;
};

/// Splits `declared` as described at `VarNameParts`. Bounds are optionally
/// signed decimal numbers; anything else inside the brackets is no range.
VarNameParts split_var_name(std::string_view declared);

/// Whether the range of `parts` (which must have one) spans `width` bits.
bool range_spans(const VarNameParts& parts, Width width);

/// Looks `name` up in `map` (any map with find/end over string keys); on a
/// miss, a name spelled with a bit range finds its canonical entry when the
/// range spans the entry's width (`width_of(iterator)`), so every trace
/// answers to "top.busy", "top.busy [7:0]" and "top.busy[7:0]" alike, but
/// not to "top.busy [3]".
template <class Map, class WidthOf>
auto find_signal_name(const Map& map, std::string_view name, WidthOf width_of) {
  const auto it = map.find(name);
  if (it != map.end()) return it;
  const VarNameParts parts = split_var_name(name);
  if (!parts.msb) return it;
  const auto alias = map.find(parts.base);
  return alias != map.end() && range_spans(parts, width_of(alias)) ? alias : map.end();
}

}  // namespace quarn
