#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

/// Up to `limit` of `names` that look like `query`, closest first: names
/// within a few edits of it (a third of its length, at least 2), then names
/// whose last component equals the query's last component. For "did you
/// mean" messages on unknown names.
std::vector<std::string> close_names(const std::vector<std::string>& names, std::string_view query,
                                     std::size_t limit = 3);

}  // namespace quarn
