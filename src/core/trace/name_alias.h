#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

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

/// The canonical spelling of a hierarchical name written with a bit range
/// ("top.busy [7:0]" -> "top.busy"); `name` itself when it has none. A prefix
/// of `name`, so it lives as long as `name` does.
std::string_view without_bit_range(std::string_view name);

/// Looks `name` up in `map` (any map with find/end over string keys), and on
/// a miss looks up its canonical spelling, so every trace answers to both
/// "top.busy" and "top.busy [7:0]".
template <class Map>
auto find_signal_name(const Map& map, std::string_view name) {
  auto it = map.find(name);
  if (it != map.end()) return it;
  const std::string_view base = without_bit_range(name);
  return base.size() == name.size() ? it : map.find(base);
}

}  // namespace quarn
