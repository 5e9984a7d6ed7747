#pragma once

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "trace/byte_source.h"
#include "trace/text_scan.h"

namespace quarn {

/// Streams a file and hands each line (without its "\n") to a callback. The
/// buffer grows only for a single line longer than it.
class LineReader {
 public:
  explicit LineReader(std::size_t buffer_bytes = std::size_t{1} << 20) : buffer_(buffer_bytes) {}

  /// Reads all lines of `path` (gzip, bzip2 or zstd content decoded on the
  /// fly). Returns an empty string on success, else "Failed to open <path>:
  /// <reason>" or "Failed to read <path>: <reason>".
  template <class OnLine>
  std::string read_file(const std::string& path, OnLine&& on_line, ReadProgress progress = {});
  /// Reads all lines of `source`; returns "" or the source's error.
  template <class OnLine>
  std::string read_source(ByteSource& source, OnLine&& on_line);

  /// Inside `on_line`: every byte of the buffer that holds the line is ASCII,
  /// so the line needs no UTF-8 check.
  bool ascii() const { return ascii_; }

 private:
  std::vector<char> buffer_;
  bool ascii_ = false;
};

/// Calls `on_line` for each "\n"-separated line of `text` (a last line without
/// "\n" included).
template <class OnLine>
void for_each_line(std::string_view text, OnLine&& on_line) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) {
      on_line(text.substr(pos));
      return;
    }
    on_line(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
}

template <class OnLine>
std::string LineReader::read_file(const std::string& path, OnLine&& on_line, ReadProgress progress) {
  auto opened = open_byte_source(path, std::move(progress));
  if (auto* error = std::get_if<std::string>(&opened)) return *error;
  return read_source(*std::get<0>(opened), on_line);
}

template <class OnLine>
std::string LineReader::read_source(ByteSource& source, OnLine&& on_line) {
  std::size_t keep = 0;  // bytes of an unfinished line at the buffer's start
  for (;;) {
    const long got = source.read(buffer_.data() + keep, buffer_.size() - keep);
    if (got < 0) return source.error();
    if (got == 0) {
      if (keep) on_line(std::string_view(buffer_.data(), keep));
      return "";
    }
    const char* begin = buffer_.data();
    const char* end = begin + keep + static_cast<std::size_t>(got);
    ascii_ = is_ascii(std::string_view(begin, static_cast<std::size_t>(end - begin)));
    const char* line = begin;
    for (;;) {
      const void* nl = std::memchr(line, '\n', static_cast<std::size_t>(end - line));
      if (!nl) break;
      const char* at = static_cast<const char*>(nl);
      on_line(std::string_view(line, static_cast<std::size_t>(at - line)));
      line = at + 1;
    }
    keep = static_cast<std::size_t>(end - line);
    ascii_ = false;  // the unfinished line is checked again with the next bytes
    if (keep) std::memmove(buffer_.data(), line, keep);
    if (keep == buffer_.size()) buffer_.resize(buffer_.size() * 2);  // one very long line
  }
}

}  // namespace quarn
