#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quarn {

/// Hash that lets string-keyed maps be searched with a string_view.
struct StringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

/// Map from a name to T, searchable by string_view without a copy.
template <class T>
using StringMap = std::unordered_map<std::string, T, StringHash, std::equal_to<>>;

}  // namespace quarn
