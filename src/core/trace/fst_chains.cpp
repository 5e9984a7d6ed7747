#include "trace/fst_chains.h"

namespace quarn {

ValueView fst_packed_wide_bits_view(const std::uint8_t* p, std::uint32_t chars, FstValueScratch& scratch) {
  const std::size_t bytes = (std::size_t{chars} + 7) / 8;
  const std::size_t pad = bytes * 8 - chars;  // unused low bits of the last byte
  auto& words = scratch.binary.words;
  const std::size_t n = (std::size_t{chars} + 63) / 64;
  words.assign(n, 0);
  // Byte i holds bits 8 * (bytes - 1 - i) - pad and up of the number.
  for (std::size_t i = bytes; i-- > 0;) {
    std::uint64_t b = p[i];
    std::size_t pos = 8 * (bytes - 1 - i);
    if (pos < pad) {
      b >>= pad - pos;
      pos = 0;
    } else {
      pos -= pad;
    }
    const std::size_t w = pos / 64, s = pos % 64;
    words[w] |= b << s;
    if (s > 56 && w + 1 < n) words[w + 1] |= b >> (64 - s);
  }
  // The fewest words, as for the same number spelled in digits.
  std::size_t used = n;
  while (used > 1 && words[used - 1] == 0) --used;
  if (used == 1) return ValueView::bits(words[0]);
  return ValueView::wide_bits(words.data(), used);
}

ValueView fst_frame_view(const std::uint8_t* p, const FstSignalShape& shape, FstValueScratch& scratch) {
  if (shape.real) return ValueView::real(fst_double(p, shape.swapped));
  if (shape.chars == 0) return ValueView::empty();
  return fst_value_view(std::string_view(reinterpret_cast<const char*>(p), shape.chars), scratch);
}

}  // namespace quarn
