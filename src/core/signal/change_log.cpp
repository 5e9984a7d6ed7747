#include "signal/change_log.h"

#include <cstring>

#include "signal/varint.h"

namespace quarn {

namespace {

// The number of a code with `length` bytes at `p` (kSlack readable past the
// record), or the small number the code stands for.
std::uint64_t read_number(const std::uint8_t*& p, unsigned code) {
  static constexpr std::uint64_t kMasks[9] = {0,          0xFF,         0xFFFF,         0xFFFFFF,          0xFFFFFFFF,
                                              0xFFFFFFFFFF, 0xFFFFFFFFFFFF, 0xFFFFFFFFFFFFFF, ~std::uint64_t{0}};
  if (code > 8) return code - 8;
  std::uint64_t n;
  std::memcpy(&n, p, 8);
  p += code;
  return n & kMasks[code];
}

}  // namespace

std::uint8_t* ChangeLog::reserve(std::size_t extra) {
  if (capacity_ - size_ < extra) {
    // Growing by half, not doubling: the logs of a whole trace are held at
    // once, so their unused tails count in the load's peak memory.
    // Sizes counted with the slack, so that they fall on the allocator's
    // size classes.
    std::size_t allocated = capacity_ ? capacity_ + kSlack + (capacity_ + kSlack) / 2 : 32;
    while (allocated - kSlack - size_ < extra) allocated += allocated / 2;
    auto grown = std::make_unique_for_overwrite<std::uint8_t[]>(allocated);
    if (size_) std::memcpy(grown.get(), bytes_.get(), size_);
    bytes_ = std::move(grown);
    capacity_ = allocated - kSlack;
  }
  return bytes_.get() + size_;
}

void ChangeLog::append_any(Index index, const ValueView& v) {
  const std::size_t payload = has_bytes(v.tag) ? kMaxVarintBytes + v.byte_size() : 8;
  std::uint8_t* p = reserve(kMaxBitsRecord + 1 + payload);
  if (v.tag == ValueTag::Bits) return append(index, v);  // there is room now
  const std::uint8_t* start = p;
  const Small delta = small_or_bytes(index - last_, kSmallDeltas);
  *p = static_cast<std::uint8_t>(delta.code | kTagged << 4);
  std::memcpy(p + 1, &delta.raw, 8);
  p += 1 + delta.length;
  *p++ = static_cast<std::uint8_t>(v.tag);
  switch (v.tag) {
    case ValueTag::Bits: break;
    case ValueTag::Real:
      std::memcpy(p, &v.scalar, 8);
      p += 8;
      break;
    case ValueTag::Empty: break;
    default:
      p = put_varint(p, v.size);
      if (v.byte_size()) std::memcpy(p, v.data, v.byte_size());
      p += v.byte_size();
      break;
  }
  size_ += static_cast<std::size_t>(p - start);
  last_ = index;
}

void ChangeLog::replay_into(Column& column, Index skip, Index base, std::uint64_t bits_add) const {
  const std::uint8_t* p = bytes_.get();
  const std::uint8_t* end = p + size_;
  Index index = 0;
  while (p < end) {
    const unsigned head = *p++;
    index += read_number(p, head & 15);
    ValueView v;
    if (head >> 4 != kTagged) [[likely]] {
      v.tag = ValueTag::Bits;
      v.scalar = read_number(p, head >> 4) + bits_add;
    } else {
      v.tag = static_cast<ValueTag>(*p++);
      switch (v.tag) {
        case ValueTag::Bits: break;
        case ValueTag::Real:
          std::memcpy(&v.scalar, p, 8);
          p += 8;
          break;
        case ValueTag::Empty: break;
        default:
          v.size = static_cast<std::size_t>(get_varint(p));
          v.data = p;
          p += v.byte_size();
          break;
      }
    }
    if (index >= skip) column.record_change(base + (index - skip), v);
  }
}

void ChangeLog::release() {
  bytes_.reset();
  size_ = capacity_ = 0;
  last_ = 0;
}

}  // namespace quarn
