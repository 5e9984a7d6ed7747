#pragma once

// Byte images of the closed VPD and WLF formats, built field by field so each
// test states exactly which part of a file it exercises.

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarn::test {

using Bytes = std::vector<std::uint8_t>;

/// Each text followed by its 0x00 terminator.
inline Bytes c_strings(std::initializer_list<std::string_view> texts) {
  Bytes out;
  for (std::string_view t : texts) {
    out.insert(out.end(), t.begin(), t.end());
    out.push_back(0x00);
  }
  return out;
}

/// The raw bytes of `text`, no terminator.
inline Bytes raw(std::string_view text) { return Bytes(text.begin(), text.end()); }

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

/// A VPD file: magic, the 20 candidate block offsets at 48..124 (0 = unused
/// slot), and blocks placed at their offsets. Gaps are zero bytes.
struct VpdImage {
  std::uint32_t magic = 0x12345678;
  std::array<std::uint32_t, 20> block_offsets{};
  struct Placed {
    std::size_t at;
    Bytes bytes;
  };
  std::vector<Placed> placed;
  std::size_t min_size = 128;

  /// Puts `bytes` at `at` and lists `at` in offset slot `slot`.
  VpdImage& block(std::size_t slot, std::uint32_t at, Bytes bytes) {
    block_offsets[slot] = at;
    placed.push_back({at, std::move(bytes)});
    return *this;
  }

  Bytes build() const {
    std::size_t size = min_size;
    for (const Placed& p : placed) size = std::max(size, p.at + p.bytes.size());
    Bytes out(size, 0);
    put_le32(out, 0, magic);
    for (std::size_t k = 0; k < block_offsets.size(); ++k) put_le32(out, 48 + 4 * k, block_offsets[k]);
    for (const Placed& p : placed) std::copy(p.bytes.begin(), p.bytes.end(), out.begin() + p.at);
    return out;
  }

  static void put_le32(Bytes& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
};

/// A VPD block head that carries `marker` as a header string, padded with
/// zero bytes to the full 128-byte head, then `body`.
inline Bytes vpd_block(std::string_view marker, const Bytes& body) {
  Bytes head = c_strings({marker});
  head.resize(128, 0);
  return head + body;
}

inline constexpr std::size_t kPage = 8192;

/// One length-prefixed text field of the WLF header page.
struct WlfText {
  std::uint8_t length = 0;
  Bytes text;
  static WlfText of(std::string_view s) { return {static_cast<std::uint8_t>(s.size()), raw(s)}; }
};

/// WLF header page: size word at 2, announced signal count at 24, three text
/// fields from 40, then the name area.
struct WlfHeaderPage {
  std::uint16_t size_word = 8192;
  std::uint16_t signal_count = 0;
  std::array<WlfText, 3> texts{};
  Bytes name_area;

  Bytes build() const {
    Bytes page(kPage, 0);
    put_be16(page, 2, size_word);
    put_be16(page, 24, signal_count);
    std::size_t at = 40;
    for (const WlfText& t : texts) {
      page[at++] = t.length;
      std::copy(t.text.begin(), t.text.end(), page.begin() + at);
      at += t.text.size();
    }
    std::copy(name_area.begin(), name_area.end(), page.begin() + at);
    return page;
  }

  static void put_be16(Bytes& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v >> 8);
    out[at + 1] = static_cast<std::uint8_t>(v);
  }
};

/// WLF value page: marker FF FF, record byte count (default: the records'
/// size), 12 uninterpreted bytes (non-zero by default so that short pages
/// still pass the page's non-zero byte test), records from 16, and whatever
/// follows the records in the page.
struct WlfValuePage {
  bool marker = true;
  std::optional<std::uint16_t> record_count;
  std::uint8_t reserved_fill = 0x11;
  Bytes records;
  Bytes after_records;

  Bytes build() const {
    Bytes page(kPage, 0);
    if (marker) page[0] = page[1] = 0xFF;
    WlfHeaderPage::put_be16(page, 2, record_count.value_or(static_cast<std::uint16_t>(records.size())));
    std::fill(page.begin() + 4, page.begin() + 16, reserved_fill);
    std::copy(records.begin(), records.end(), page.begin() + 16);
    std::copy(after_records.begin(), after_records.end(), page.begin() + 16 + records.size());
    return page;
  }
};

/// A page holding `bytes` from its start, zero-filled.
inline Bytes plain_page(const Bytes& bytes) {
  Bytes page(kPage, 0);
  std::copy(bytes.begin(), bytes.end(), page.begin());
  return page;
}

}  // namespace quarn::test
