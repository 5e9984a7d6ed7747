#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>

#include "signal/value_view.h"
#include "trace/fst_values.h"

namespace quarn {

/// How one signal's values are stored, from the file's geometry.
struct FstSignalShape {
  std::uint32_t chars = 0;  // characters of a value; 0: variable length
  bool real = false;        // 8 double bytes
  bool swapped = false;     // doubles in the other byte order
};

/// A double from the 8 bytes at `p`, in the file's byte order.
inline double fst_double(const std::uint8_t* p, bool swapped) {
  std::uint8_t b[8];
  std::memcpy(b, p, 8);
  if (swapped)
    for (int i = 0; i < 4; ++i) std::swap(b[i], b[7 - i]);
  double d;
  std::memcpy(&d, b, 8);
  return d;
}

/// `fst_packed_bits_view` for more than 64 digits.
ValueView fst_packed_wide_bits_view(const std::uint8_t* p, std::uint32_t chars, FstValueScratch& scratch);

/// Value of `chars` binary digits packed most significant first into
/// (chars + 7) / 8 bytes, as `fst_value_view` gives for their text.
inline ValueView fst_packed_bits_view(const std::uint8_t* p, std::uint32_t chars, FstValueScratch& scratch) {
  if (chars > 64) return fst_packed_wide_bits_view(p, chars, scratch);
  const std::uint32_t bytes = (chars + 7) / 8;
  std::uint64_t v = 0;
  for (std::uint32_t i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return ValueView::bits(v >> (bytes * 8 - chars));  // drop the last byte's unused low bits
}

/// Initial value of a signal in a block's frame (`chars` bytes at `p`);
/// Empty for a variable-length signal, which has none.
ValueView fst_frame_view(const std::uint8_t* p, const FstSignalShape& shape, FstValueScratch& scratch);

/// Walks one signal's unpacked chain of a value-change block, decoding each
/// entry straight from its packed form to the value the FST library's text
/// for it converts to, and calls `emit(step, view, varlen)` in chain order
/// (view valid during the call). Returns false, possibly after some calls,
/// when an entry is cut short or lands at or past `steps`.
template <class Emit>
bool decode_fst_chain(std::span<const std::uint8_t> data, const FstSignalShape& shape, std::size_t steps,
                      FstValueScratch& scratch, Emit&& emit) {
  const std::uint8_t* p = data.data();
  const std::uint8_t* const end = p + data.size();
  // LEB128 of at most 5 bytes, as the library's 32-bit reads allow.
  auto varint = [&](std::uint64_t& v) {
    v = 0;
    for (int i = 0; i < 5 && p < end; ++i) {
      const std::uint8_t b = *p++;
      v |= std::uint64_t{b & 0x7Fu} << (7 * i);
      if (!(b & 0x80)) return true;
    }
    return false;
  };
  const bool one_bit = shape.chars == 1 && !shape.real;
  std::uint64_t step = 0;
  bool first = true;
  while (p < end) {
    std::uint64_t vli;
    if (!varint(vli)) return false;
    const std::uint64_t delta = one_bit ? vli >> (2u << (vli & 1)) : vli >> 1;
    step = first ? delta : step + delta;
    first = false;
    if (step >= steps) return false;
    const bool odd = vli & 1;
    if (one_bit) {
      if (!odd) {
        emit(step, ValueView::bits((vli >> 1) & 1), false);
      } else {
        const char c = "xzhuwl-?"[(vli >> 1) & 7];
        emit(step, fst_value_view(std::string_view(&c, 1), scratch), false);
      }
    } else if (shape.real) {
      const std::size_t n = odd ? 8 : 1;
      if (static_cast<std::size_t>(end - p) < n) return false;
      if (odd) {
        emit(step, ValueView::real(fst_double(p, shape.swapped)), false);
      } else {
        // A one-byte entry: the library hands its bits as eight digits in
        // place of the double's bytes.
        std::uint8_t digits[8];
        for (int j = 0; j < 8; ++j) digits[j] = static_cast<std::uint8_t>('0' | ((p[0] >> (7 - j)) & 1));
        emit(step, ValueView::real(fst_double(digits, shape.swapped)), false);
      }
      p += n;
    } else if (shape.chars == 0) {
      std::uint64_t len;
      if (!varint(len) || len > static_cast<std::uint64_t>(end - p)) return false;
      // An odd entry carries no value the library reports.
      if (!odd)
        emit(step, fst_text_view(std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(len)), scratch),
             true);
      p += len;
    } else {
      const std::size_t n = odd ? shape.chars : (std::size_t{shape.chars} + 7) / 8;
      if (static_cast<std::size_t>(end - p) < n) return false;
      if (odd)
        emit(step, fst_value_view(std::string_view(reinterpret_cast<const char*>(p), n), scratch), false);
      else
        emit(step, fst_packed_bits_view(p, shape.chars, scratch), false);
      p += n;
    }
  }
  return true;
}

}  // namespace quarn
