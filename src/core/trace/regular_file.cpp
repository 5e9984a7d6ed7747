#include "trace/regular_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarn {

namespace {

bool readable_kind(mode_t mode) { return S_ISREG(mode) || S_ISDIR(mode); }

}  // namespace

OpenedFile open_regular(const std::string& path) {
  OpenedFile out;
  // The system call would stop at a NUL and open some other file.
  if (path.find('\0') != std::string::npos) {
    out.error = EINVAL;
    return out;
  }
  // A socket cannot be opened at all (ENXIO), so look before opening.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !readable_kind(st.st_mode)) {
    out.not_regular = true;
    return out;
  }
  int fd;
  do {
    // Non-blocking, in case the path became a FIFO since the look.
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    out.error = errno;
    return out;
  }
  if (::fstat(fd, &st) == 0 && !readable_kind(st.st_mode)) {
    ::close(fd);
    out.not_regular = true;
    return out;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  out.fd = fd;
  return out;
}

std::string not_regular_message(const std::string& path) { return "Failed to open " + path + ": not a regular file"; }

int open_regular_file(const std::string& path, std::string& error) {
  const OpenedFile f = open_regular(path);
  if (f.not_regular) {
    error = not_regular_message(path);
    return -1;
  }
  if (f.fd < 0) {
    error = "Failed to open " + path + ": " + std::strerror(f.error);
    return -1;
  }
  struct stat st {};
  if (::fstat(f.fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(f.fd);
    error = "Failed to read " + path + ": " + std::strerror(EISDIR);
    return -1;
  }
  return f.fd;
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
