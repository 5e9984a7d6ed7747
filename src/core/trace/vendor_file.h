#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace quarn {

/// The whole content of the file at `path`, read in one pass. On failure
/// returns "Failed to read <path>: <system error text>"; a directory fails
/// this way too. The file is closed before returning.
std::variant<std::vector<std::uint8_t>, std::string> read_vendor_file(const std::string& path);

/// The same read, failing with the system's error number instead of a
/// message, for readers that word their own.
std::variant<std::vector<std::uint8_t>, int> read_file_whole(const std::string& path);

}  // namespace quarn
