#include "trace/dotted_scopes.h"

#include <algorithm>
#include <string_view>

namespace quarn {

std::vector<std::string> derive_scopes(const std::vector<std::string>& names) {
  // Views into `names` first, so duplicates cost no allocation.
  std::vector<std::string_view> prefixes;
  for (const std::string& name : names)
    for (std::size_t dot = name.find('.'); dot != std::string::npos; dot = name.find('.', dot + 1))
      prefixes.emplace_back(name.data(), dot);
  std::sort(prefixes.begin(), prefixes.end());
  prefixes.erase(std::unique(prefixes.begin(), prefixes.end()), prefixes.end());
  return {prefixes.begin(), prefixes.end()};
}

}  // namespace quarn
