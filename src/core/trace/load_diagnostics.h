#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarn {

/// What a lenient reader skipped or read with a default: how many places, and
/// where and what the first one was. Readers fill it; the caller decides
/// whether it is a warning or an error.
struct LoadDiagnostics {
  std::uint64_t count = 0;
  std::uint64_t offset = 0;  ///< byte offset of the first, in the input
  std::uint64_t line = 0;    ///< 1-based line of the first; 0 until located
  std::uint64_t column = 0;  ///< 1-based byte column of the first; 0 until located
  std::string message;       ///< the first: what was expected and what was found

  /// Counts one; keeps `expected` and `found` (shortened, escaped) if first.
  void report(std::uint64_t at, std::string_view expected, std::string_view found);
};

/// 1-based line and byte column of `offset` in `text`.
void locate_offset(std::string_view text, std::uint64_t offset, std::uint64_t& line, std::uint64_t& column);

}  // namespace quarn
