#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>

namespace quarn {

/// Called now and then while a file is read: bytes of the file consumed so
/// far and the file's size (compressed bytes, for a compressed file).
using ReadProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

/// Bytes read front to back: a file, or the content of a compressed file
/// decoded on the fly (nothing is written anywhere).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  /// Reads up to `n` bytes into `buf`: the count, 0 at the end, or -1 on an
  /// error, whose message `error()` then gives.
  virtual long read(char* buf, std::size_t n) = 0;
  const std::string& error() const { return error_; }

 protected:
  std::string error_;
};

/// How a file's content is packed, from its first bytes.
enum class Packing : std::uint8_t { Plain, Gzip, Bzip2, Zstd };

/// The packing named by a file's first bytes (Plain when none matches).
Packing packing_of(const std::uint8_t* head, std::size_t size);

/// Opens `path` for reading, decoding gzip, bzip2 or zstd content on the fly
/// when its first bytes say it is packed. Fails with "Failed to open <path>:
/// <reason>" or "Failed to read <path>: <reason>" (a directory included).
/// Later read errors, corrupt packed data included, read "Failed to read
/// <path>: <reason>". `progress`, when set, hears of each read of the file.
std::variant<std::unique_ptr<ByteSource>, std::string> open_byte_source(const std::string& path,
                                                                         ReadProgress progress = {});

}  // namespace quarn
