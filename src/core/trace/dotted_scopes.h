#pragma once

#include <string>
#include <vector>

namespace quarn {

/// Every proper '.'-prefix of every name ("a.b.c" gives "a" and "a.b"), each
/// once, in ascending byte order. A name without a dot gives nothing.
std::vector<std::string> derive_scopes(const std::vector<std::string>& names);

}  // namespace quarn
