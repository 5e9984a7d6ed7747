#pragma once

// Builders of FSDB byte images for the reader tests. Every field is written
// by name, so a test reads as the layout it exercises.

#include <zlib.h>

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "trace/fsdb_facts.h"

namespace quarn::fsdb_test {

using ByteVec = std::vector<std::uint8_t>;

inline ByteVec bytes(std::initializer_list<int> list) {
  ByteVec out;
  for (int b : list) out.push_back(static_cast<std::uint8_t>(b));
  return out;
}
inline ByteVec text(const std::string& s) { return ByteVec(s.begin(), s.end()); }
/// Each name followed by its NUL terminator.
inline ByteVec c_strings(std::initializer_list<std::string> names) {
  ByteVec out;
  for (const auto& n : names) {
    out.insert(out.end(), n.begin(), n.end());
    out.push_back(0);
  }
  return out;
}
inline ByteVec cat(std::initializer_list<ByteVec> parts) {
  ByteVec out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
inline ByteVec repeat(const ByteVec& part, std::size_t times) {
  ByteVec out;
  for (std::size_t i = 0; i < times; ++i) out.insert(out.end(), part.begin(), part.end());
  return out;
}
inline ByteVec varint(std::uint64_t n) {
  ByteVec out;
  do {
    std::uint8_t b = n & 0x7F;
    n >>= 7;
    out.push_back(n ? (b | 0x80) : b);
  } while (n);
  return out;
}
inline ByteVec varints(std::initializer_list<std::uint64_t> ns) {
  ByteVec out;
  for (auto n : ns) {
    auto v = varint(n);
    out.insert(out.end(), v.begin(), v.end());
  }
  return out;
}

/// A zlib stream of `raw`, made by zlib itself.
inline ByteVec zlib_stream(const ByteVec& raw, int level = Z_DEFAULT_COMPRESSION) {
  uLongf size = compressBound(raw.size());
  ByteVec out(size);
  if (compress2(out.data(), &size, raw.data(), raw.size(), level) != Z_OK) throw std::runtime_error("compress2");
  out.resize(size);
  return out;
}

inline const ByteVec kHeaderMark(std::begin(fsdb::kHeaderMark), std::end(fsdb::kHeaderMark));
inline const ByteVec kTrailerMark(std::begin(fsdb::kTrailerMark), std::end(fsdb::kTrailerMark));
inline const ByteVec kEndMark(std::begin(fsdb::kEndMark), std::end(fsdb::kEndMark));
inline const ByteVec kFillMark(std::begin(fsdb::kFillMark), std::end(fsdb::kFillMark));

/// A file image with fields written at fixed offsets; grows as needed.
struct Image {
  ByteVec data;

  explicit Image(std::size_t size = 0) : data(size, 0) {}
  void reserve_to(std::size_t end) {
    if (data.size() < end) data.resize(end, 0);
  }
  void be32(std::size_t at, std::uint32_t v) {
    reserve_to(at + 4);
    for (int i = 0; i < 4; ++i) data[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
  }
  void le(std::size_t at, std::uint64_t v, std::size_t n) {
    reserve_to(at + n);
    for (std::size_t i = 0; i < n; ++i) data[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  void put(std::size_t at, const ByteVec& b) {
    reserve_to(at + b.size());
    std::copy(b.begin(), b.end(), data.begin() + static_cast<std::ptrdiff_t>(at));
  }
  /// Appends and returns the offset written at.
  std::size_t append(const ByteVec& b) {
    const std::size_t at = data.size();
    put(at, b);
    return at;
  }
};

/// A newer-layout file of `size` zero bytes with its magic; header check 0,
/// no block table, no width section.
inline Image newer_image(std::size_t size = 400) {
  Image img(size);
  img.be32(fsdb::kMagicOffset, fsdb::kNewerMagic);
  return img;
}

/// Sets the block table at `t` with (offset, length) entries.
inline void write_table(Image& img, std::size_t t, const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries) {
  img.le(fsdb::kTableOffsetField, t, 8);
  img.le(t + fsdb::kTableCountField, entries.size(), 2);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::size_t at = t + fsdb::kTableEntriesStart + fsdb::kTableEntrySize * i;
    img.le(at, entries[i].first, 4);
    img.le(at + 4, 0, 4);
    img.le(at + 8, entries[i].second, 4);
  }
}

/// Appends a width section (4-byte length, zlib stream of `records`) and
/// points the header at it.
inline void write_widths(Image& img, const ByteVec& records) {
  const ByteVec z = zlib_stream(records);
  const std::size_t at = img.data.size();
  img.le(at, z.size(), 4);
  img.append(z);
  img.le(fsdb::kWidthOffsetField, at, 8);
}

/// One width record: 0x01, a byte not read, the type byte (and two more bytes
/// for 'C' and 'D').
inline ByteVec width_record(char type) {
  if (type == 'C' || type == 'D') return bytes({0x01, 0x00, type, 0x00, 0x00});
  return bytes({0x01, 0x00, type});
}

/// A name block that the classifier takes as rich: enough strings, and
/// nothing marked, tabular or artefact-like.
inline ByteVec rich_name_block(std::initializer_list<std::string> names) {
  ByteVec b = c_strings(names);
  // Filler strings make the count reach 11 without being identifiers.
  for (int i = 0; b.size() < 4 || i < 11; ++i) {
    const std::string f = "9filler" + std::to_string(i);
    b.insert(b.end(), f.begin(), f.end());
    b.push_back(0);
  }
  return b;
}

}  // namespace quarn::fsdb_test
