#include "signal/change_log.h"

#include <cstring>

#include "signal/varint.h"

namespace quarn {

namespace {

constexpr std::size_t kMaxVarint = kMaxVarintBytes;

}  // namespace

std::uint8_t* ChangeLog::reserve(std::size_t extra) {
  if (capacity_ - size_ < extra) {
    // Growing by half, not doubling: the logs of a whole trace are held at
    // once, so their unused tails count in the load's peak memory.
    std::size_t capacity = capacity_ ? capacity_ + capacity_ / 2 : 32;
    while (capacity - size_ < extra) capacity += capacity / 2;
    auto grown = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
    if (size_) std::memcpy(grown.get(), bytes_.get(), size_);
    bytes_ = std::move(grown);
    capacity_ = capacity;
  }
  return bytes_.get() + size_;
}

void ChangeLog::append_any(Index index, const ValueView& v) {
  const std::size_t payload = has_bytes(v.tag) ? kMaxVarint + v.byte_size() : kMaxVarint;
  std::uint8_t* p = reserve(kMaxVarint + 1 + payload);
  const std::uint8_t* start = p;
  const std::uint64_t delta = (index - last_) << 1;
  if (v.tag == ValueTag::Bits) {
    p = put_varint(put_varint(p, delta), v.scalar);
    size_ += static_cast<std::size_t>(p - start);
    last_ = index;
    return;
  }
  p = put_varint(p, delta | 1);
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
    const std::uint64_t head = get_varint(p);
    index += head >> 1;
    ValueView v;
    v.tag = head & 1 ? static_cast<ValueTag>(*p++) : ValueTag::Bits;
    switch (v.tag) {
      case ValueTag::Bits: v.scalar = get_varint(p) + bits_add; break;
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
    if (index >= skip) column.record_change(base + (index - skip), v);
  }
}

void ChangeLog::release() {
  bytes_.reset();
  size_ = capacity_ = 0;
  last_ = 0;
}

}  // namespace quarn
