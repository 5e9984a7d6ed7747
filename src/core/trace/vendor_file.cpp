#include "trace/vendor_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarn {

namespace {

std::string failure(const std::string& path, int err) {
  return "Failed to read " + path + ": " + std::strerror(err);
}

}  // namespace

std::variant<std::vector<std::uint8_t>, std::string> read_vendor_file(const std::string& path) {
  auto read = read_file_whole(path);
  if (const int* err = std::get_if<int>(&read)) return failure(path, *err);
  return std::move(std::get<std::vector<std::uint8_t>>(read));
}

std::variant<std::vector<std::uint8_t>, int> read_file_whole(const std::string& path) {
  // The system call would stop at a NUL and read some other file.
  if (path.find('\0') != std::string::npos) return EINVAL;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;

  std::vector<std::uint8_t> bytes;
  struct stat st {};
  // The size is only a hint for the first allocation: the file may grow or
  // shrink while we read, so reading stops at end of file, not at st_size.
  std::size_t capacity = 1 << 16;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    capacity = static_cast<std::size_t>(st.st_size) + 1;
  bytes.resize(capacity);
  std::size_t used = 0;
  for (;;) {
    if (used == bytes.size()) bytes.resize(bytes.size() * 2);
    const ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
    if (n > 0) {
      used += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) break;
    if (errno == EINTR) continue;
    const int err = errno;  // EISDIR for a directory
    ::close(fd);
    return err;
  }
  ::close(fd);
  bytes.resize(used);
  return bytes;
}

}  // namespace quarn
