#include "trace/fsdb_header.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "trace/dotted_scopes.h"
#include "trace/fsdb_names.h"

namespace quarn::fsdb {

namespace {

std::string read_error(const std::string& path, int err) {
  return "Failed to read " + path + ": " + std::strerror(err);
}

}  // namespace

std::variant<std::vector<std::uint8_t>, std::string> read_whole_file(const std::string& path) {
  // The system call would stop at a NUL and open some other file.
  if (path.find('\0') != std::string::npos) return read_error(path, EINVAL);
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return read_error(path, errno);
  // Sized from fstat (one spare byte to see the end without growing), but
  // read to the end in case the file grew; a directory fails on its first
  // read (EISDIR).
  struct stat st {};
  std::size_t want = 65536;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) want = static_cast<std::size_t>(st.st_size) + 1;
  std::vector<std::uint8_t> data(want);
  std::size_t used = 0;
  for (;;) {
    if (used == data.size()) data.resize(data.size() * 2);
    const ssize_t got = ::read(fd, data.data() + used, data.size() - used);
    if (got < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return read_error(path, err);
    }
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  ::close(fd);
  data.resize(used);
  return data;
}

std::variant<Layout, std::string> check_file(Bytes file) {
  if (file.size() < kMinFileSize) return std::string("FSDB file too small");
  std::uint32_t magic = 0;
  for (std::size_t i = 0; i < 4; ++i) magic = (magic << 8) | file[kMagicOffset + i];
  if (magic == kOlderMagic) return Layout::Older;
  if (magic == kNewerMagic) return Layout::Newer;
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(magic));
  return "Not an FSDB file (magic=0x" + std::string(hex) + ")";
}

TraceRecord read_older_layout(Bytes file) {
  TraceRecord record;
  add_names(record, extract_identifiers(file.subspan(std::min(kOlderNamesOffset, file.size()))));
  record.scopes = derive_scopes(record.signal_names);
  record.timestamps = {0};
  return record;
}

}  // namespace quarn::fsdb
