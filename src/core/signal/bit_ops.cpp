#include "signal/bit_ops.h"

namespace quarn {

std::uint64_t bit_slice_val(std::uint64_t val, std::uint32_t high, std::uint32_t low) {
  if (high < low || low >= 64) return 0;
  // In 64 bits so that high = 2^32 - 1, low = 0 cannot wrap.
  const std::uint64_t width = std::uint64_t{high} - low + 1;
  const std::uint64_t shifted = val >> low;
  if (width >= 64) return shifted;
  return shifted & ((std::uint64_t{1} << width) - 1);
}

std::int64_t sign_extend_val(std::uint64_t val, std::uint32_t width) {
  if (width == 0 || width >= 64) return static_cast<std::int64_t>(val);
  if ((val >> (width - 1)) & 1) val |= ~std::uint64_t{0} << width;
  return static_cast<std::int64_t>(val);
}

}  // namespace quarn
