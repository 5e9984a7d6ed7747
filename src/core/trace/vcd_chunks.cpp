#include "trace/vcd_chunks.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace quarn {

long TextBytes::read_at(std::uint64_t at, char* into, std::size_t n, std::string&) const {
  if (at >= text_.size()) return 0;
  const std::size_t count = std::min<std::size_t>(n, text_.size() - static_cast<std::size_t>(at));
  std::memcpy(into, text_.data() + at, count);
  return static_cast<long>(count);
}

long FileBytes::read_at(std::uint64_t at, char* into, std::size_t n, std::string& error) const {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd_, into + done, n - done, static_cast<off_t>(at + done));
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      error = "Failed to read " + path_ + ": " + std::strerror(errno);
      return -1;
    }
    done += static_cast<std::size_t>(got);
  }
  return static_cast<long>(done);
}

std::uint64_t next_time_line(const PositionalBytes& in, std::uint64_t from, std::uint64_t to) {
  constexpr std::size_t kWindow = 64 * 1024;
  std::string error;
  std::vector<char> window(kWindow);
  if (from == 0 && to > 0) {
    char first = 0;
    if (in.read_at(0, &first, 1, error) == 1 && first == '#') return 0;
  }
  // Windows overlap by one byte, so the byte before each '#' is at hand.
  std::uint64_t at = from ? from - 1 : 0;
  while (at + 1 < to) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, to - at));
    const long got = in.read_at(at, window.data(), want, error);
    if (got < 2) return to;
    const auto n = static_cast<std::size_t>(got);
    for (std::size_t i = 1; i < n; ++i) {
      const void* hit = std::memchr(window.data() + i, '#', n - i);
      if (hit == nullptr) break;
      i = static_cast<std::size_t>(static_cast<const char*>(hit) - window.data());
      if (window[i - 1] == '\n') return at + i;
    }
    at += n - 1;
  }
  return to;
}

std::vector<std::uint64_t> vcd_chunk_starts(const PositionalBytes& in, std::uint64_t begin, std::uint64_t end,
                                            std::size_t chunk_bytes) {
  std::vector<std::uint64_t> starts{begin};
  if (chunk_bytes == 0) chunk_bytes = 1;
  while (end - starts.back() > chunk_bytes) {
    const std::uint64_t next = next_time_line(in, starts.back() + chunk_bytes, end);
    if (next >= end) break;
    starts.push_back(next);
  }
  return starts;
}

}  // namespace quarn
