#pragma once

#include <cstddef>
#include <string>

namespace quarn {

/// A descriptor opened by `open_regular`, or why there is none.
struct OpenedFile {
  int fd = -1;
  int error = 0;             ///< errno of a failed open
  bool not_regular = false;  ///< a FIFO, socket or device: refused unopened
};

/// Opens `path` read-only. A FIFO without a writer would block open() and a
/// device may never end, so anything that is neither a regular file nor a
/// directory is refused without waiting (directories are left to the
/// caller, which words that failure its own way).
OpenedFile open_regular(const std::string& path);

/// "Failed to open <path>: not a regular file", what every reader says for
/// `OpenedFile::not_regular`.
std::string not_regular_message(const std::string& path);

/// Opens `path` for reading if it is a regular file; returns the descriptor,
/// or -1 with `error` set: "Failed to open <path>: <reason>", "Failed to read
/// <path>: Is a directory", or `not_regular_message`. Never blocks on a FIFO.
int open_regular_file(const std::string& path, std::string& error);

/// Reads up to `size` bytes, retrying on EINTR: bytes read, 0 at the end, -1 on
/// error with `error` set to "Failed to read <path>: <reason>".
long read_some(int fd, char* into, std::size_t size, const std::string& path, std::string& error);

}  // namespace quarn
