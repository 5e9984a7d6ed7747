#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quarn {

class LoadControl;

/// An FST file made ready for the FST library: the plain image (the file
/// itself, or its content unpacked into memory when the whole file is
/// gzipped), readable as bytes and openable by a path that names only it.
class FstFile {
 public:
  FstFile() = default;
  FstFile(const FstFile&) = delete;
  FstFile& operator=(const FstFile&) = delete;
  ~FstFile();

  /// Opens `path`. Returns "" or "Failed to open <path>: <reason>" (a
  /// directory included) or "FST open: <reason>", or kLoadInterrupted when
  /// `control` said stop while a gzipped file was unpacked.
  std::string open(const std::string& path, LoadControl* control = nullptr);
  /// The plain image; valid until `release_bytes` or destruction.
  std::span<const std::uint8_t> bytes() const { return {static_cast<const std::uint8_t*>(map_), size_}; }
  /// Unmaps the image once it has been read; the descriptor stays open.
  void release_bytes();
  /// Gives back the memory of the pages of bytes offset .. offset+length-1
  /// that were read; they stay readable (read again from the file).
  void drop_pages(std::size_t offset, std::size_t length);
  /// Reads `length` bytes at `offset` of the image into `out` through the
  /// descriptor (safe from many threads at once). False when fewer bytes are
  /// there (the file was cut short since it was opened) or the read fails.
  bool read_at(std::uint64_t offset, std::size_t length, std::vector<std::uint8_t>& out) const;
  /// "/proc/self/fd/N": opening it reaches this image without touching the
  /// file's folder, so the library finds no stray "<path>.hier" file beside
  /// it and makes its scratch files elsewhere.
  std::string library_path() const;

 private:
  std::string unpack_wrapper();
  std::string map_fd();

  LoadControl* control_ = nullptr;
  int fd_ = -1;
  void* map_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace quarn
