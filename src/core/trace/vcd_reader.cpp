#include "trace/vcd_reader.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "eval/thread_pool.h"
#include "trace/byte_source.h"
#include "trace/regular_file.h"
#include "trace/vcd_builder.h"
#include "trace/vcd_chunks.h"
#include "trace/vcd_parser.h"
#include "trace/vcd_tokens.h"

namespace quarn {

namespace {

constexpr std::size_t kBufferBytes = std::size_t{1} << 20;
// A VCD shows a keyword or a timestamp this early; anything else is not one.
constexpr std::uint64_t kSniffBytes = 64 * 1024;
// Smaller chunks cost more in per-chunk logs and stitching than threads gain.
constexpr std::size_t kMinChunkBytes = std::size_t{4} << 20;
// Chunks per thread, so that a slow chunk does not hold the others up.
constexpr std::size_t kChunksPerThread = 2;

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
  VcdBuilder& builder() { return builder_; }
  const VcdParser<VcdBuilder>& parser() const { return parser_; }
  /// Input offset of the first byte not parsed yet.
  std::uint64_t base() const { return base_; }

 private:
  VcdBuilder builder_;
  LoadDiagnostics diagnostics_;
  VcdParser<VcdBuilder> parser_{builder_, diagnostics_};
  std::uint64_t base_ = 0;  // input offset of the next chunk
};

// A plain (not packed) regular file open for reading at any offset; fd -1
// when it is not one.
struct PlainFile {
  explicit PlainFile(const std::string& path) {
    if (path.empty()) return;
    std::string error;
    fd = open_regular_file(path, error);
    if (fd < 0) return;
    struct stat st{};
    std::uint8_t head[8];
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    if (::fstat(fd, &st) != 0 || got <= 0 || packing_of(head, static_cast<std::size_t>(got)) != Packing::Plain) {
      ::close(fd);
      fd = -1;
      return;
    }
    size = static_cast<std::uint64_t>(st.st_size);
  }
  ~PlainFile() {
    if (fd >= 0) ::close(fd);
  }
  PlainFile(const PlainFile&) = delete;
  PlainFile& operator=(const PlainFile&) = delete;
  int fd = -1;
  std::uint64_t size = 0;
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

// Bytes per chunk of a value-change section of `bytes`, or 0 to read it in
// one pass.
std::size_t chunk_bytes_for(std::uint64_t bytes, VcdSplit split) {
  if (split.chunk_bytes == VcdSplit::kNoSplit) return 0;
  if (split.chunk_bytes) return split.chunk_bytes;
  const std::size_t threads = pool_concurrency();
  if (threads < 2 || bytes < 2 * kMinChunkBytes) return 0;
  return std::max<std::size_t>(kMinChunkBytes, static_cast<std::size_t>(bytes / (threads * kChunksPerThread)));
}

// One chunk of the value changes, parsed apart.
struct ChunkLoad {
  explicit ChunkLoad(VcdBody b) : body(std::move(b)) {}
  VcdBody body;
  LoadDiagnostics diagnostics;
  bool at_rest = false;  // the chunk ended between two changes
  bool interrupted = false;
  std::string error;
};

// Shared by the chunks of one load: where to report, and when to stop.
struct ChunkContext {
  const PositionalBytes& in;
  LoadControl* control;
  const ReadProgress& progress;
  std::thread::id owner = std::this_thread::get_id();
  std::atomic<std::uint64_t> read{0};
};

std::unique_ptr<ChunkLoad> parse_body_chunk(ChunkContext& cx, const VcdBody& like, std::uint64_t begin,
                                            std::uint64_t end, bool last) {
  auto load = std::make_unique<ChunkLoad>(like.fresh());
  VcdParser<VcdBody> parser(load->body, load->diagnostics);
  parser.enter_body();
  std::uint64_t at = begin;
  load->error = feed_bytes(cx.in, begin, end, kBufferBytes, [&](std::string_view bytes, bool final, std::size_t read) {
    const std::uint64_t done = cx.read.fetch_add(read, std::memory_order_relaxed) + read;
    // Progress goes to the loading thread only: its caller may hold locks
    // that workers must not take.
    if (cx.progress && std::this_thread::get_id() == cx.owner) cx.progress(done, cx.in.size());
    if (cx.control && cx.control->advance(read)) {
      load->interrupted = true;
      return ~std::size_t{0};
    }
    const std::uint64_t base = at;
    const std::size_t used =
        for_each_vcd_token(bytes, final, [&](std::string_view t, std::size_t off) { parser.token(t, base + off); });
    if (final && last) parser.end(base + bytes.size());
    parser.detach();
    at += used;
    return used;
  });
  load->at_rest = parser.at_rest();
  // Frees the staging memory and the logs' unused room while other chunks parse.
  load->body.settle();
  load->body.compact();
  return load;
}

enum class Parallel : std::uint8_t { Done, InOrder, Stopped };

// Parses bytes begin .. end of the value changes in chunks on the pool and
// joins them to `state`. InOrder when a chunk needs the input read in order
// (state is then as it was); Stopped with `error` set on failure.
Parallel parse_body_parallel(ChunkContext& cx, std::uint64_t begin, std::uint64_t end, std::size_t chunk_bytes,
                             VcdLoadState& state, std::string& error) {
  const std::vector<std::uint64_t> starts = vcd_chunk_starts(cx.in, begin, end, chunk_bytes);
  const std::size_t n = starts.size();
  std::vector<std::unique_ptr<ChunkLoad>> loads(n);
  const VcdBody& body = state.builder().body();
  parallel_for(0, n, 1, [&](std::size_t lo, std::size_t hi) {
    for (std::size_t k = lo; k < hi; ++k)
      loads[k] = parse_body_chunk(cx, body, starts[k], k + 1 < n ? starts[k + 1] : end, k + 1 == n);
  });
  for (const auto& load : loads) {
    if (load->interrupted || (cx.control && cx.control->stopped())) {
      error = kLoadInterrupted;
      return Parallel::Stopped;
    }
    if (!load->error.empty()) {
      error = load->error;
      return Parallel::Stopped;
    }
  }
  for (std::size_t k = 0; k < n; ++k)
    if (loads[k]->body.foreign() || (k + 1 < n && !loads[k]->at_rest)) return Parallel::InOrder;
  for (auto& load : loads) {
    state.builder().body().absorb(std::move(load->body), load->diagnostics, state.diagnostics());
    load.reset();
  }
  return Parallel::Done;
}

// Parses bytes from .. end of `in` in order into `state`, the last token
// finishing the input when `last`. Returns "" or why the load stops.
std::string parse_in_order(ChunkContext& cx, std::uint64_t from, std::uint64_t end, bool last, VcdLoadState& state,
                           const std::string& start) {
  std::string why;
  std::string error = feed_bytes(cx.in, from, end, kBufferBytes, [&](std::string_view bytes, bool final, std::size_t read) {
    const std::uint64_t done = cx.read.fetch_add(read, std::memory_order_relaxed) + read;
    if (cx.progress) cx.progress(done, cx.in.size());
    if (cx.control && cx.control->advance(read)) {
      why = kLoadInterrupted;
      return ~std::size_t{0};
    }
    const std::size_t used = state.parse_chunk(bytes, final && last);
    why = state.not_vcd(start, final && last);
    return why.empty() ? used : ~std::size_t{0};
  });
  return error.empty() ? why : error;
}

// A load from its first byte: up to the first timestamp line in order, then
// the value changes from there in chunks when they are large enough (at a
// later timestamp line when the header is not over yet), the rest in order.
std::string read_all(ChunkContext& cx, VcdLoadState& state, const std::string& start, VcdSplit split) {
  // Timestamp lines tried as the start of the chunks: past a few the header
  // is no usual one, and reading on in order is as good.
  constexpr int kTries = 16;
  const std::uint64_t end = cx.in.size();
  std::uint64_t from = 0;
  const std::size_t chunk_bytes = chunk_bytes_for(end, split);
  for (int tries = 0; chunk_bytes && tries < kTries; ++tries) {
    // (A '#' in the header, in a comment say, is tried and passed over.)
    const std::uint64_t body = next_time_line(cx.in, tries ? from + 1 : from, end);
    if (body >= end) break;
    // Up to the line break before the '#': every token there is whole.
    std::string why = parse_in_order(cx, from, body, false, state, start);
    if (!why.empty()) return why;
    from = body;
    if (state.parser().at_rest() && state.parser().in_body()) {
      std::string error;
      const Parallel done = parse_body_parallel(cx, body, end, chunk_bytes, state, error);
      if (done == Parallel::Done) return "";
      if (done == Parallel::Stopped) return error;
      break;
    }
  }
  return parse_in_order(cx, from, end, true, state, start);
}

}  // namespace

std::variant<VcdLoad, std::string> read_vcd_text(std::string_view text, LoadControl* control, VcdSplit split) {
  VcdLoadState state;
  state.builder().body().stage_changes(split.stage_changes);
  if (chunk_bytes_for(text.size(), split)) {
    const TextBytes bytes(text);
    const ReadProgress no_progress;
    ChunkContext cx{bytes, control, no_progress};
    std::string why = read_all(cx, state, std::string(text.substr(0, 8)), split);
    if (!why.empty()) return why;
    VcdLoad load = state.finish();
    if (load.diagnostics.count)
      locate_offset(text, load.diagnostics.offset, load.diagnostics.line, load.diagnostics.column);
    return load;
  }
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
    if (control && control->advance(len)) return std::string(kLoadInterrupted);
    std::string why = state.not_vcd(text.substr(0, 8), final);
    if (!why.empty()) return why;
    if (final) break;
  }
  VcdLoad load = state.finish();
  if (load.diagnostics.count) locate_offset(text, load.diagnostics.offset, load.diagnostics.line, load.diagnostics.column);
  return load;
}

std::variant<VcdLoad, std::string> read_vcd_file(const std::string& path, ReadProgress progress,
                                                 LoadControl* control, VcdSplit split) {
  auto opened = open_byte_source(path, progress);
  if (auto* failed = std::get_if<std::string>(&opened)) return std::move(*failed);
  ByteSource& source = *std::get<0>(opened);
  std::string error;
  VcdLoadState state;
  state.builder().body().stage_changes(split.stage_changes);
  // A plain file large enough is read at offsets, its value changes in chunks.
  PlainFile plain(split.chunk_bytes == VcdSplit::kNoSplit ? std::string() : path);
  if (plain.fd >= 0 && chunk_bytes_for(plain.size, split)) {
    const FileBytes bytes(plain.fd, plain.size, path);
    ChunkContext cx{bytes, control, progress};
    std::string start(8, '\0');
    start.resize(static_cast<std::size_t>(std::max<long>(0, bytes.read_at(0, start.data(), start.size(), error))));
    if (error.empty()) error = read_all(cx, state, start, split);
    if (error.empty() && state.diagnostics().count)
      locate_in_file(path, state.diagnostics().offset, state.diagnostics());
    if (!error.empty()) return error;
    return state.finish();
  }
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
    if (control && control->advance(static_cast<std::uint64_t>(got))) {
      error = kLoadInterrupted;
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
