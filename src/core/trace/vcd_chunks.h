#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

/// Bytes of an input that can be read at any offset, from any thread: text
/// held in memory, or a plain file read with pread.
class PositionalBytes {
 public:
  virtual ~PositionalBytes() = default;
  /// Copies up to `n` bytes from offset `at` into `into`: the count (short
  /// only at the end), or -1 with `error` set.
  virtual long read_at(std::uint64_t at, char* into, std::size_t n, std::string& error) const = 0;
  virtual std::uint64_t size() const = 0;
};

/// `PositionalBytes` of text in memory; the text must outlive it.
class TextBytes final : public PositionalBytes {
 public:
  explicit TextBytes(std::string_view text) : text_(text) {}
  long read_at(std::uint64_t at, char* into, std::size_t n, std::string& error) const override;
  std::uint64_t size() const override { return text_.size(); }

 private:
  std::string_view text_;
};

/// `PositionalBytes` of an open plain file (the descriptor stays the
/// caller's); errors read "Failed to read <path>: <reason>".
class FileBytes final : public PositionalBytes {
 public:
  FileBytes(int fd, std::uint64_t size, std::string path) : fd_(fd), size_(size), path_(std::move(path)) {}
  long read_at(std::uint64_t at, char* into, std::size_t n, std::string& error) const override;
  std::uint64_t size() const override { return size_; }

 private:
  int fd_;
  std::uint64_t size_;
  std::string path_;
};

/// The offset of the first timestamp line at or after `from` and before
/// `to`: a '#' that starts a line. `to` when there is none (or on a read
/// error).
std::uint64_t next_time_line(const PositionalBytes& in, std::uint64_t from, std::uint64_t to);

/// Where the chunks of bytes `begin` .. `end` start, `begin` first: each
/// later one at the first timestamp line at or after `begin + k * chunk_bytes`,
/// distinct and increasing. `begin` must start a timestamp line.
std::vector<std::uint64_t> vcd_chunk_starts(const PositionalBytes& in, std::uint64_t begin, std::uint64_t end,
                                            std::size_t chunk_bytes);

/// Reads bytes `from` .. `to` through a buffer of `buffer_bytes` and hands
/// them to `parse(bytes, final, read)`, which returns how many it used (the
/// rest, an unfinished token, comes again at the start of the next call);
/// `final` on the last call, `read` the bytes newly read. Stops early when
/// `parse` returns ~0. Returns "" or the read error.
template <class Parse>
std::string feed_bytes(const PositionalBytes& in, std::uint64_t from, std::uint64_t to, std::size_t buffer_bytes,
                       Parse&& parse) {
  std::string error;
  std::vector<char> buffer(buffer_bytes);
  std::size_t keep = 0;
  std::uint64_t at = from;
  for (;;) {
    if (keep == buffer.size()) buffer.resize(buffer.size() * 2);  // one very long token
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size() - keep, to - at));
    const long got = want ? in.read_at(at, buffer.data() + keep, want, error) : 0;
    if (got < 0) return error;
    at += static_cast<std::uint64_t>(got);
    const bool final = at == to || got == 0;
    const std::size_t size = keep + static_cast<std::size_t>(got);
    const std::size_t used = parse(std::string_view(buffer.data(), size), final, static_cast<std::size_t>(got));
    if (used == ~std::size_t{0} || final) return "";
    keep = size - used;
    if (keep) std::memmove(buffer.data(), buffer.data() + used, keep);
  }
}

}  // namespace quarn
