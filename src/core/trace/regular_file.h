#pragma once

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

}  // namespace quarn
