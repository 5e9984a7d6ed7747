#include "trace/byte_source.h"

#include "trace/regular_file.h"

#include <bzlib.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>

namespace quarn {
namespace {

constexpr std::size_t kPackedChunk = std::size_t{1} << 18;

/// A file read with read(2); the first bytes can be peeked before reading.
class FileSource final : public ByteSource {
 public:
  FileSource(std::string path, ReadProgress progress) : path_(std::move(path)), progress_(std::move(progress)) {}
  ~FileSource() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool open() {
    // Refuses FIFOs and devices, which could block or never end.
    fd_ = open_regular_file(path_, error_);
    if (fd_ < 0) return false;
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) size_ = static_cast<std::uint64_t>(st.st_size);
    return true;
  }

  /// Reads up to `n` bytes to be handed out again by the next reads.
  long peek(std::size_t n) {
    head_.resize(n);
    const long got = raw_read(head_.data(), n);
    head_.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return got;
  }
  const std::vector<char>& head() const { return head_; }
  const std::string& path() const { return path_; }

  long read(char* buf, std::size_t n) override {
    if (head_pos_ < head_.size()) {
      const std::size_t k = std::min(n, head_.size() - head_pos_);
      std::memcpy(buf, head_.data() + head_pos_, k);
      head_pos_ += k;
      return static_cast<long>(k);
    }
    return raw_read(buf, n);
  }

 private:
  long raw_read(char* buf, std::size_t n) {
    for (;;) {
      const ssize_t got = ::read(fd_, buf, n);
      if (got >= 0) {
        done_ += static_cast<std::uint64_t>(got);
        if (progress_) progress_(done_, size_);
        return static_cast<long>(got);
      }
      if (errno == EINTR) continue;  // interrupted before any byte: not an error
      // Anything else (a directory: EISDIR) ends the load; never retried.
      error_ = "Failed to read " + path_ + ": " + std::strerror(errno);
      return -1;
    }
  }

  std::string path_;
  ReadProgress progress_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::uint64_t done_ = 0;
  std::vector<char> head_;
  std::size_t head_pos_ = 0;
};

/// Common part of the decoders: packed bytes come from the file in chunks.
class PackedSource : public ByteSource {
 protected:
  explicit PackedSource(std::unique_ptr<FileSource> file) : file_(std::move(file)), in_(kPackedChunk) {}

  /// Refills the input when it is used up; false on a read error (set).
  bool refill(const char*& next, std::size_t& avail) {
    if (avail > 0 || at_end_) return true;
    const long got = file_->read(in_.data(), in_.size());
    if (got < 0) {
      error_ = file_->error();
      return false;
    }
    at_end_ = got == 0;
    next = in_.data();
    avail = static_cast<std::size_t>(got);
    return true;
  }
  long corrupt(const char* format, const char* detail) {
    error_ = "Failed to read " + file_->path() + ": corrupt " + format + " data (" + detail + ")";
    return -1;
  }

  std::unique_ptr<FileSource> file_;
  std::vector<char> in_;
  bool at_end_ = false;
};

class GzipSource final : public PackedSource {
 public:
  explicit GzipSource(std::unique_ptr<FileSource> file) : PackedSource(std::move(file)) {
    ok_ = inflateInit2(&z_, 15 + 32) == Z_OK;  // + 32: a gzip or zlib header
  }
  ~GzipSource() override { inflateEnd(&z_); }

  long read(char* buf, std::size_t n) override {
    if (!ok_) return corrupt("gzip", "cannot start zlib");
    z_.next_out = reinterpret_cast<Bytef*>(buf);
    z_.avail_out = static_cast<uInt>(std::min<std::size_t>(n, 1u << 30));
    while (z_.next_out == reinterpret_cast<Bytef*>(buf)) {
      const char* next = reinterpret_cast<const char*>(z_.next_in);
      std::size_t avail = z_.avail_in;
      if (!refill(next, avail)) return -1;
      z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(next));
      z_.avail_in = static_cast<uInt>(avail);
      if (avail == 0 && !in_member_) break;
      // After a member, bytes that start no other member are trailing
      // padding, which gzip itself ignores.
      if (!in_member_ && static_cast<unsigned char>(*next) != 0x1F) {
        z_.avail_in = 0;
        at_end_ = true;
        break;
      }
      // Called with no input too: inflate may hold output for a full buffer.
      const int rc = inflate(&z_, Z_NO_FLUSH);
      in_member_ = true;
      if (rc == Z_STREAM_END) {
        // Members may follow one another (gzip files joined with cat).
        in_member_ = false;
        inflateReset(&z_);
      } else if (rc == Z_BUF_ERROR && at_end_ && z_.avail_in == 0) {
        return corrupt("gzip", "the file ends inside a member");
      } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
        return corrupt("gzip", z_.msg ? z_.msg : "inflate failed");
      }
    }
    return static_cast<long>(reinterpret_cast<char*>(z_.next_out) - buf);
  }

 private:
  z_stream z_{};
  bool ok_ = false;
  bool in_member_ = false;
};

class Bzip2Source final : public PackedSource {
 public:
  explicit Bzip2Source(std::unique_ptr<FileSource> file) : PackedSource(std::move(file)) { start(); }
  ~Bzip2Source() override {
    if (ok_) BZ2_bzDecompressEnd(&bz_);
  }

  long read(char* buf, std::size_t n) override {
    if (!ok_) return corrupt("bzip2", "cannot start the decoder");
    char* out = buf;
    unsigned out_avail = static_cast<unsigned>(std::min<std::size_t>(n, 1u << 30));
    while (out == buf) {
      const char* next = bz_.next_in;
      std::size_t avail = bz_.avail_in;
      if (!refill(next, avail)) return -1;
      if (avail == 0 && !in_stream_) return 0;
      bz_.next_in = const_cast<char*>(next);
      bz_.avail_in = static_cast<unsigned>(avail);
      bz_.next_out = out;
      bz_.avail_out = out_avail;
      const int rc = BZ2_bzDecompress(&bz_);
      in_stream_ = true;
      const bool moved = bz_.next_out != out || bz_.avail_in != avail;
      out = bz_.next_out;
      out_avail = bz_.avail_out;
      if (rc == BZ_STREAM_END) {
        // Streams may follow one another (pbzip2 writes several).
        char* keep_in = bz_.next_in;
        const unsigned keep_avail = bz_.avail_in;
        BZ2_bzDecompressEnd(&bz_);
        if (!start()) return corrupt("bzip2", "cannot restart the decoder");
        bz_.next_in = keep_in;
        bz_.avail_in = keep_avail;
        in_stream_ = false;
      } else if (rc != BZ_OK) {
        return corrupt("bzip2", "bad stream");
      } else if (!moved && at_end_) {
        return corrupt("bzip2", "the file ends inside a stream");
      }
    }
    return static_cast<long>(out - buf);
  }

 private:
  bool start() {
    bz_ = bz_stream{};
    ok_ = BZ2_bzDecompressInit(&bz_, 0, 0) == BZ_OK;
    return ok_;
  }
  bz_stream bz_{};
  bool ok_ = false;
  bool in_stream_ = false;
};

class ZstdSource final : public PackedSource {
 public:
  explicit ZstdSource(std::unique_ptr<FileSource> file) : PackedSource(std::move(file)), z_(ZSTD_createDStream()) {}
  ~ZstdSource() override { ZSTD_freeDStream(z_); }

  long read(char* buf, std::size_t n) override {
    if (z_ == nullptr) return corrupt("zstd", "cannot start the decoder");
    ZSTD_outBuffer out{buf, n, 0};
    while (out.pos == 0) {
      const char* next = static_cast<const char*>(zin_.src) + zin_.pos;
      std::size_t avail = zin_.size - zin_.pos;
      if (!refill(next, avail)) return -1;
      if (avail == 0 && !pending_) return 0;
      if (next != static_cast<const char*>(zin_.src) + zin_.pos) zin_ = {next, avail, 0};
      const std::size_t before = zin_.pos;
      const std::size_t rc = ZSTD_decompressStream(z_, &out, &zin_);
      if (ZSTD_isError(rc)) return corrupt("zstd", ZSTD_getErrorName(rc));
      pending_ = rc != 0;  // 0: a frame ended here
      if (out.pos == 0 && zin_.pos == before && at_end_) return corrupt("zstd", "the file ends inside a frame");
    }
    return static_cast<long>(out.pos);
  }

 private:
  ZSTD_DStream* z_;
  ZSTD_inBuffer zin_{nullptr, 0, 0};
  bool pending_ = false;
};

}  // namespace

Packing packing_of(const std::uint8_t* head, std::size_t size) {
  if (size >= 2 && head[0] == 0x1F && head[1] == 0x8B) return Packing::Gzip;
  if (size >= 3 && head[0] == 'B' && head[1] == 'Z' && head[2] == 'h') return Packing::Bzip2;
  if (size >= 4 && head[0] == 0x28 && head[1] == 0xB5 && head[2] == 0x2F && head[3] == 0xFD) return Packing::Zstd;
  return Packing::Plain;
}

std::variant<std::unique_ptr<ByteSource>, std::string> open_byte_source(const std::string& path,
                                                                         ReadProgress progress) {
  auto file = std::make_unique<FileSource>(path, std::move(progress));
  if (!file->open()) return file->error();
  if (file->peek(4) < 0) return file->error();
  const auto& head = file->head();
  switch (packing_of(reinterpret_cast<const std::uint8_t*>(head.data()), head.size())) {
    case Packing::Gzip: return std::unique_ptr<ByteSource>(std::make_unique<GzipSource>(std::move(file)));
    case Packing::Bzip2: return std::unique_ptr<ByteSource>(std::make_unique<Bzip2Source>(std::move(file)));
    case Packing::Zstd: return std::unique_ptr<ByteSource>(std::make_unique<ZstdSource>(std::move(file)));
    case Packing::Plain: break;
  }
  return std::unique_ptr<ByteSource>(std::move(file));
}

}  // namespace quarn
