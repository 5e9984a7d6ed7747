#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace quarn {

class LoadControl;

/// `read_file_whole`'s failure codes besides a system error number.
inline constexpr int kNotRegularFile = -1;  ///< a FIFO, socket or device
inline constexpr int kReadInterrupted = -2;  ///< the load control said stop

/// The whole content of the file at `path`, read in one pass. On failure
/// returns "Failed to read <path>: <system error text>" (a directory fails
/// this way too), "Failed to open <path>: not a regular file" or
/// kLoadInterrupted. The file is closed before returning.
std::variant<std::vector<std::uint8_t>, std::string> read_vendor_file(const std::string& path,
                                                                      LoadControl* control = nullptr);

/// The same read, failing with the system's error number (or one of the
/// codes above) instead of a message, for readers that word their own.
std::variant<std::vector<std::uint8_t>, int> read_file_whole(const std::string& path, LoadControl* control = nullptr);

}  // namespace quarn
