#include "trace/vendor_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "trace/load_control.h"
#include "trace/regular_file.h"

namespace quarn {

namespace {

// Bytes per read call, so that a load control is asked between reads.
constexpr std::size_t kReadStep = std::size_t{4} << 20;

}  // namespace

std::variant<std::vector<std::uint8_t>, std::string> read_vendor_file(const std::string& path, LoadControl* control) {
  auto read = read_file_whole(path, control);
  if (const int* err = std::get_if<int>(&read)) {
    if (*err == kNotRegularFile) return not_regular_message(path);
    if (*err == kReadInterrupted) return std::string(kLoadInterrupted);
    return "Failed to read " + path + ": " + std::strerror(*err);
  }
  return std::move(std::get<std::vector<std::uint8_t>>(read));
}

std::variant<std::vector<std::uint8_t>, int> read_file_whole(const std::string& path, LoadControl* control) {
  const OpenedFile opened = open_regular(path);
  if (opened.not_regular) return kNotRegularFile;
  if (opened.fd < 0) return opened.error;
  const int fd = opened.fd;

  std::vector<std::uint8_t> bytes;
  struct stat st {};
  // The size is only a hint for the first allocation: the file may grow or
  // shrink while we read, so reading stops at end of file, not at st_size.
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    bytes.reserve(static_cast<std::size_t>(st.st_size) + 1);
  std::size_t used = 0;
  for (;;) {
    if (control && control->advance(0)) {
      ::close(fd);
      return kReadInterrupted;
    }
    // Grown a step at a time: zeroing the whole buffer at once would take
    // a large file's pages in one go, with no poll in between.
    const std::size_t room = bytes.capacity() > used ? bytes.capacity() - used : 0;
    // Within the room the size promised; past it (a file that grew) the
    // vector grows as usual.
    const std::size_t step = std::min(kReadStep, room ? room : std::size_t{1} << 16);
    bytes.resize(used + step);
    const ssize_t n = ::read(fd, bytes.data() + used, step);
    if (n > 0) {
      used += static_cast<std::size_t>(n);
      if (control) control->advance(static_cast<std::uint64_t>(n));
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
