#pragma once

#include <string>
#include <vector>

namespace quarn {

class NameTable;

/// Every proper '.'-prefix of every name ("a.b.c" gives "a" and "a.b"), each
/// once, in ascending byte order. A name without a dot gives nothing.
std::vector<std::string> derive_scopes(const std::vector<std::string>& names);

/// Lists in `names`, as scopes, the prefixes `derive_scopes` gives for its
/// signal names; for readers whose names come flat, with no scope records.
void list_dotted_scopes(NameTable& names);

}  // namespace quarn
