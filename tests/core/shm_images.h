#pragma once

// Byte images of SHM design (.dsn) and transition (.trn) files, built field by
// field.

#include <cstdint>
#include <string>
#include <string_view>

#include "temp_dir.h"

namespace quarn::shm_test {

using test::TempDir;

inline constexpr std::uint32_t kMagic = 0xA19511BF;

// Record tags used by the tests.
inline constexpr std::uint32_t kScopeDef = 0x070501;
inline constexpr std::uint32_t kScopeInst = 0x070601;
inline constexpr std::uint32_t kSignal = 0x090700;
inline constexpr std::uint32_t kSourceFile = 0x0F0400;

/// Writes `v` big-endian at `pos`, growing `bytes` with zeros as needed.
inline void put32(std::string& bytes, std::size_t pos, std::uint32_t v) {
  if (bytes.size() < pos + 4) bytes.resize(pos + 4, '\0');
  bytes[pos] = static_cast<char>(v >> 24);
  bytes[pos + 1] = static_cast<char>(v >> 16);
  bytes[pos + 2] = static_cast<char>(v >> 8);
  bytes[pos + 3] = static_cast<char>(v);
}

/// A design file: the magic, 124 uninterpreted bytes, then records.
struct DsnImage {
  std::string bytes;

  explicit DsnImage(std::uint32_t magic = kMagic) {
    put32(bytes, 0, magic);
    bytes.resize(128, '\0');
  }

  std::size_t size() const { return bytes.size(); }
  void pad_to(std::size_t n) {
    if (bytes.size() < n) bytes.resize(n, '\0');
  }
  void pad(std::size_t n) { bytes.append(n, '\0'); }
  /// Appends `s` and a NUL, then zeros up to a multiple of 4; returns its offset.
  std::size_t text(std::string_view s) {
    const std::size_t at = bytes.size();
    bytes.append(s);
    bytes.push_back('\0');
    pad_to((bytes.size() + 3) / 4 * 4);
    return at;
  }
  /// A record header at the end with the given fields; returns its position.
  std::size_t header(std::uint32_t tag, std::uint32_t next, std::uint32_t text_at) {
    const std::size_t at = bytes.size();
    put32(bytes, at, tag);
    put32(bytes, at + 4, next);
    put32(bytes, at + 8, text_at);
    return at;
  }
  /// A well-formed record: Text points at `name` in its body, Next at the
  /// byte after the body. Returns its position.
  std::size_t record(std::uint32_t tag, std::string_view name) {
    const std::size_t at = header(tag, 0, 0);
    const std::size_t t = text(name);
    put32(bytes, at + 4, static_cast<std::uint32_t>(bytes.size()));
    put32(bytes, at + 8, static_cast<std::uint32_t>(t));
    return at;
  }
};

/// Fields of one block; S, V and Q are placed right after the header unless
/// given.
struct BlockFields {
  std::uint32_t e = 0;
  std::uint32_t n = 1;
  std::string values;
  std::string trailer;
};

/// A transition file: the magic, the time-unit code at offset 8, then blocks.
struct TrnImage {
  std::string bytes;

  explicit TrnImage(std::uint32_t unit = 0, std::uint32_t magic = kMagic) {
    put32(bytes, 0, magic);
    put32(bytes, 8, unit);
    bytes.resize(24, '\0');
  }

  /// A 64-byte header at the end with raw fields; returns its position.
  std::size_t header(std::uint32_t e, std::uint32_t n, std::uint32_t q, std::uint32_t s, std::uint32_t v) {
    const std::size_t at = bytes.size();
    bytes.resize(at + 64, '\0');
    bytes[at + 1] = '\x1B';
    bytes[at + 2] = '\x22';
    put32(bytes, at + 28, e);
    put32(bytes, at + 40, n);
    put32(bytes, at + 48, q);
    put32(bytes, at + 52, s);
    put32(bytes, at + 56, v);
    return at;
  }
  /// A header followed by its value bytes and trailer.
  std::size_t block(const BlockFields& b) {
    const std::size_t at = bytes.size();
    const auto s = static_cast<std::uint32_t>(at + 64);
    const auto v = static_cast<std::uint32_t>(s + b.values.size());
    const auto q = static_cast<std::uint32_t>(v + b.trailer.size());
    header(b.e, b.n, q, s, v);
    bytes.append(b.values);
    bytes.append(b.trailer);
    return at;
  }
  void pad(std::size_t n) { bytes.append(n, '\0'); }
};

}  // namespace quarn::shm_test
