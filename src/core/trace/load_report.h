#pragma once

#include <cstdint>
#include <string>

namespace quarn {

/// Problems a reader met and worked around without failing the load: how
/// many, and the first one's description.
struct LoadReport {
  std::uint64_t problems = 0;
  std::string first;

  void note(std::string what) {
    if (problems++ == 0) first = std::move(what);
  }
};

}  // namespace quarn
