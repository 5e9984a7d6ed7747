#include "trace/vcd_reader.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "trace/byte_source.h"
#include "trace/vcd_builder.h"
#include "trace/vcd_parser.h"
#include "trace/vcd_tokens.h"

namespace quarn {

namespace {

constexpr std::size_t kBufferBytes = std::size_t{1} << 20;
// A VCD shows a keyword or a timestamp this early; anything else is not one.
constexpr std::uint64_t kSniffBytes = 64 * 1024;

// One load in progress: the chunks of the input go through `parse_chunk`.
class VcdLoadState {
 public:
  /// Parses the complete tokens of `chunk` (every token when `final`), the
  /// chunk starting where the previous call stopped. Returns the bytes used.
  std::size_t parse_chunk(std::string_view chunk, bool final) {
    const std::uint64_t base = base_;
    const std::size_t used = for_each_vcd_token(
        chunk, final, [&](std::string_view t, std::size_t at) { parser_.token(t, base + at); });
    if (final) parser_.end(base + chunk.size());
    parser_.detach();
    base_ += used;
    // The place for work between buffers (interrupt checks, progress).
    return used;
  }

  /// After a chunk: "" while the input may still be VCD, else why it is not.
  /// `start` holds the input's first bytes; `done` says the input ended.
  std::string not_vcd(std::string_view start, bool done) const {
    const std::uint64_t first = parser_.first_vcd_token();
    if (first < kSniffBytes || (!done && base_ < kSniffBytes)) return "";
    if (std::all_of(start.begin(), start.end(), vcd_space)) return "Not a VCD file: empty input";
    static const char hex[] = "0123456789abcdef";
    std::string bytes;
    for (char ch : start.substr(0, 8)) {
      const auto c = static_cast<unsigned char>(ch);
      bytes += bytes.empty() ? "" : " ";
      bytes += hex[c >> 4];
      bytes += hex[c & 15];
    }
    return "Not a VCD file: no $ keyword and no #time in the first 65536 bytes (it starts with bytes " + bytes + ")";
  }

  VcdLoad finish() { return VcdLoad{VcdTrace(builder_.finish()), std::move(diagnostics_)}; }
  LoadDiagnostics& diagnostics() { return diagnostics_; }

 private:
  VcdBuilder builder_;
  LoadDiagnostics diagnostics_;
  VcdParser<VcdBuilder> parser_{builder_, diagnostics_};
  std::uint64_t base_ = 0;  // input offset of the next chunk
};

// Line and column of `offset` in the file's content, read again from its
// start (through the same decoding, for a packed file).
void locate_in_file(const std::string& path, std::uint64_t offset, LoadDiagnostics& d) {
  auto opened = open_byte_source(path);
  if (!std::holds_alternative<std::unique_ptr<ByteSource>>(opened)) return;
  ByteSource& source = *std::get<0>(opened);
  std::vector<char> buffer(kBufferBytes);
  std::uint64_t line = 1, at = 0, line_start = 0;
  while (at < offset) {
    const long n = source.read(buffer.data(), std::min<std::uint64_t>(buffer.size(), offset - at));
    if (n <= 0) break;
    for (long i = 0; i < n; ++i) {
      if (buffer[static_cast<std::size_t>(i)] == '\n') {
        ++line;
        line_start = at + static_cast<std::uint64_t>(i) + 1;
      }
    }
    at += static_cast<std::uint64_t>(n);
  }
  d.line = line;
  d.column = offset - line_start + 1;
}

}  // namespace

std::variant<VcdLoad, std::string> read_vcd_text(std::string_view text) {
  VcdLoadState state;
  // In buffer-sized slices, like a file, so both pass the same places.
  std::size_t pos = 0;
  for (;;) {
    std::size_t len = std::min(kBufferBytes, text.size() - pos);
    bool final = pos + len == text.size();
    std::size_t used = state.parse_chunk(text.substr(pos, len), final);
    while (!final && used == 0) {  // one token longer than a slice
      len = std::min(len * 2, text.size() - pos);
      final = pos + len == text.size();
      used = state.parse_chunk(text.substr(pos, len), final);
    }
    pos += used;
    std::string why = state.not_vcd(text.substr(0, 8), final);
    if (!why.empty()) return why;
    if (final) break;
  }
  VcdLoad load = state.finish();
  if (load.diagnostics.count) locate_offset(text, load.diagnostics.offset, load.diagnostics.line, load.diagnostics.column);
  return load;
}

std::variant<VcdLoad, std::string> read_vcd_file(const std::string& path, ReadProgress progress) {
  auto opened = open_byte_source(path, std::move(progress));
  if (auto* failed = std::get_if<std::string>(&opened)) return std::move(*failed);
  ByteSource& source = *std::get<0>(opened);
  std::string error;
  VcdLoadState state;
  std::vector<char> buffer(kBufferBytes);
  std::string start;      // the first bytes, for "Not a VCD file"
  std::size_t keep = 0;   // bytes of an unfinished token at the buffer's start
  for (;;) {
    if (keep == buffer.size()) buffer.resize(buffer.size() * 2);  // one very long token
    const long got = source.read(buffer.data() + keep, buffer.size() - keep);
    if (got < 0) {
      error = source.error();
      break;
    }
    const bool final = got == 0;
    const std::size_t size = keep + static_cast<std::size_t>(got);
    if (start.size() < 8) start.assign(buffer.data(), std::min<std::size_t>(size, 8));
    const std::size_t used = state.parse_chunk(std::string_view(buffer.data(), size), final);
    error = state.not_vcd(start, final);
    if (!error.empty() || final) break;
    keep = size - used;
    if (keep) std::memmove(buffer.data(), buffer.data() + used, keep);
  }
  if (error.empty() && state.diagnostics().count) locate_in_file(path, state.diagnostics().offset, state.diagnostics());
  if (!error.empty()) return error;
  return state.finish();
}

}  // namespace quarn
