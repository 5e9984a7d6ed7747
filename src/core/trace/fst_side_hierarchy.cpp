#include "trace/fst_side_hierarchy.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "trace/regular_file.h"

namespace quarn {

namespace {

/// Closes the descriptor however the read ends.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

std::string read_fst_side_hierarchy(const std::string& trace_path, std::vector<std::uint8_t>& entries) {
  const std::string path = trace_path + ".hier";
  const std::string missing = "FST open: no hierarchy block, and ";
  const OpenedFile opened = open_regular(path);
  if (opened.not_regular) return missing + "the side file " + path + " is not a regular file";
  if (opened.fd < 0 && opened.error == ENOENT) return missing + "no side file " + path;
  if (opened.fd < 0) return missing + "the side file " + path + " cannot be opened: " + std::strerror(opened.error);
  const Descriptor file{opened.fd};
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) return missing + "the side file " + path + " cannot be opened: " + std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return missing + "the side file " + path + " is not a regular file";
  if (st.st_size == 0) return "FST hierarchy: side file " + path + " is empty";
  // The file's own size bounds the buffer; a file that shrinks meanwhile is cut short.
  entries.resize(static_cast<std::size_t>(st.st_size));
  std::size_t done = 0;
  while (done < entries.size()) {
    const ssize_t n = ::pread(file.fd, entries.data() + done, entries.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return "FST hierarchy: side file " + path + ": " + std::strerror(errno);
    if (n == 0) return "FST hierarchy: side file " + path + " cut short";
    done += static_cast<std::size_t>(n);
  }
  return "";
}

}  // namespace quarn
