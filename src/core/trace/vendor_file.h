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

}  // namespace quarn
