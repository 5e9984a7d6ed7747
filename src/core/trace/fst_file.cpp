#include "trace/fst_file.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "trace/fst_validate.h"
#include "trace/load_control.h"
#include "trace/regular_file.h"

namespace quarn {

namespace {

constexpr std::size_t kWrapperHeaderBytes = 1 + 8 + 8;  // type, section length, unpacked size
constexpr std::size_t kChunk = 1 << 16;

std::uint64_t be64_at(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

bool write_all(int fd, const std::uint8_t* p, std::size_t n) {
  while (n) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace

FstFile::~FstFile() {
  release_bytes();
  if (fd_ >= 0) ::close(fd_);
}

void FstFile::release_bytes() {
  if (map_) ::munmap(map_, size_);
  map_ = nullptr;
  size_ = 0;
}

void FstFile::drop_pages(std::size_t offset, std::size_t length) {
  if (!map_ || offset >= size_) return;
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t begin = offset / page * page;
  const std::size_t end = std::min(size_, offset + std::min(length, size_ - offset));
  // Advice only: when it fails the pages simply stay.
  ::madvise(static_cast<std::uint8_t*>(map_) + begin, end - begin, MADV_DONTNEED);
}

bool FstFile::read_at(std::uint64_t offset, std::size_t length, std::vector<std::uint8_t>& out) const {
  out.resize(length);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd_, out.data() + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string FstFile::library_path() const { return "/proc/self/fd/" + std::to_string(fd_); }

std::string FstFile::map_fd() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return std::string("FST open: ") + std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return "FST open: not a regular file";
  if (st.st_size == 0) return "FST open: empty file";
  size_ = static_cast<std::size_t>(st.st_size);
  map_ = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
  if (map_ == MAP_FAILED) {
    map_ = nullptr;
    size_ = 0;
    return std::string("FST open: ") + std::strerror(errno);
  }
  return "";
}

std::string FstFile::open(const std::string& path, LoadControl* control) {
  control_ = control;
  const OpenedFile opened = open_regular(path);
  if (opened.not_regular) return not_regular_message(path);
  if (opened.fd < 0) return "Failed to open " + path + ": " + std::strerror(opened.error);
  fd_ = opened.fd;
  struct stat st;
  // open() succeeds on a folder; it is still not a file we can open as one.
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) return "Failed to open " + path + ": " + std::strerror(EISDIR);
  if (auto e = map_fd(); !e.empty()) return e;
  if (bytes()[0] == static_cast<std::uint8_t>(FstBlock::Wrapper)) return unpack_wrapper();
  return "";
}

std::string FstFile::unpack_wrapper() {
  const std::span<const std::uint8_t> in = bytes();
  if (in.size() < kWrapperHeaderBytes) return "FST open: truncated gzip wrapper";
  const std::uint64_t unpacked = be64_at(in.data() + 9);
  // gzip cannot expand its input more than about 1032 times.
  if (unpacked / kFstMaxInflateRatio > in.size()) return "FST open: gzip wrapper declares more than it can hold";
  // Unpacked into memory rather than a scratch file beside the trace.
  const int out = ::memfd_create("quarn-fst", MFD_CLOEXEC);
  if (out < 0) return std::string("FST open: ") + std::strerror(errno);

  z_stream z{};
  if (inflateInit2(&z, 15 + 32) != Z_OK) {
    ::close(out);
    return "FST open: out of memory";
  }
  std::vector<std::uint8_t> buf(kChunk);
  z.next_in = const_cast<Bytef*>(in.data() + kWrapperHeaderBytes);
  std::size_t in_left = in.size() - kWrapperHeaderBytes;
  std::uint64_t total = 0;
  std::string error;
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    if (z.avail_in == 0) {
      const std::size_t step = std::min<std::size_t>(in_left, 1u << 30);
      z.avail_in = static_cast<uInt>(step);
      in_left -= step;
    }
    z.next_out = buf.data();
    z.avail_out = static_cast<uInt>(buf.size());
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) {
      error = "FST open: corrupt gzip wrapper";
      break;
    }
    const std::size_t got = buf.size() - z.avail_out;
    if (got > unpacked - total) {
      error = "FST open: gzip wrapper larger than it declares";
      break;
    }
    if (!write_all(out, buf.data(), got)) {
      error = std::string("FST open: ") + std::strerror(errno);
      break;
    }
    total += got;
    if (control_ && control_->advance(got + kChunk / 4)) {
      error = kLoadInterrupted;
      break;
    }
    if (rc == Z_OK && got == 0 && z.avail_in == 0 && in_left == 0) {
      error = "FST open: truncated gzip wrapper";
      break;
    }
  }
  inflateEnd(&z);
  if (error.empty() && total != unpacked) error = "FST open: truncated gzip wrapper";
  if (!error.empty()) {
    ::close(out);
    return error;
  }
  release_bytes();
  ::close(fd_);
  fd_ = out;
  if (auto e = map_fd(); !e.empty()) return e;
  if (bytes()[0] == static_cast<std::uint8_t>(FstBlock::Wrapper)) return "FST open: gzip wrapper inside a gzip wrapper";
  return "";
}

}  // namespace quarn
