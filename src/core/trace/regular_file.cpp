#include "trace/regular_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarn {

int open_regular_file(const std::string& path, std::string& error) {
  // The system call would stop at a NUL and open some other file.
  if (path.find('\0') != std::string::npos) {
    error = "Failed to open " + path + ": " + std::strerror(EINVAL);
    return -1;
  }
  int fd;
  do {
    // Non-blocking, so opening a FIFO without a writer returns at once.
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error = "Failed to open " + path + ": " + std::strerror(errno);
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    error = "Failed to open " + path + ": " + std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    error = "Failed to read " + path + ": " + std::strerror(EISDIR);
  } else if (!S_ISREG(st.st_mode)) {
    error = "Failed to open " + path + ": not a regular file";
  } else {
    return fd;
  }
  ::close(fd);
  return -1;
}

long read_some(int fd, char* into, std::size_t size, const std::string& path, std::string& error) {
  for (;;) {
    const ssize_t n = ::read(fd, into, size);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;  // interrupted before any byte: not an error
    error = "Failed to read " + path + ": " + std::strerror(errno);
    return -1;
  }
}

}  // namespace quarn
