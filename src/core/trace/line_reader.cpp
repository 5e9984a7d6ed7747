#include "trace/line_reader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace quarn {

int LineReader::open_file(const std::string& path, std::string& error) {
  // The system call would stop at a NUL and open some other file.
  if (path.find('\0') != std::string::npos) {
    error = "Failed to open " + path + ": " + std::strerror(EINVAL);
    return -1;
  }
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) error = "Failed to open " + path + ": " + std::strerror(errno);
  return fd;
}

long LineReader::fill(int fd, std::size_t keep, std::string& error, const std::string& path) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer_.data() + keep, buffer_.size() - keep);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;  // interrupted before any byte: not an error
    // Anything else (a directory: EISDIR) ends the load; never retried.
    error = "Failed to read " + path + ": " + std::strerror(errno);
    return -1;
  }
}

void LineReader::close_file(int fd) { ::close(fd); }

}  // namespace quarn
