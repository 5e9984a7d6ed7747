#pragma once

#include <string>

namespace quarn {

/// Opens `path` for reading if it is a regular file; returns the descriptor,
/// or -1 with `error` set: "Failed to open <path>: <reason>", "Failed to read
/// <path>: Is a directory", or "Failed to open <path>: not a regular file"
/// (a FIFO or a device would block or never end). Never blocks on a FIFO.
int open_regular_file(const std::string& path, std::string& error);

/// Reads up to `size` bytes, retrying on EINTR: bytes read, 0 at the end, -1 on
/// error with `error` set to "Failed to read <path>: <reason>".
long read_some(int fd, char* into, std::size_t size, const std::string& path, std::string& error);

}  // namespace quarn
