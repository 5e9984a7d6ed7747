#include "signal/change_stage.h"

namespace quarn {

// A value kept apart: tag, scalar, size, then `byte_size()` bytes; unaligned,
// so read back with memcpy.
std::uint64_t ChangeStage::keep_payload(const ValueView& v) {
  const std::size_t at = payload_.size();
  const std::size_t bytes = has_bytes(v.tag) ? v.byte_size() : 0;
  payload_.resize(at + 1 + 8 + 8 + bytes);
  std::uint8_t* p = payload_.data() + at;
  *p = static_cast<std::uint8_t>(v.tag);
  std::memcpy(p + 1, &v.scalar, 8);
  const std::uint64_t size = v.size;
  std::memcpy(p + 9, &size, 8);
  if (bytes) std::memcpy(p + 17, v.data, bytes);
  return at;
}

ValueView ChangeStage::payload_at(std::uint64_t offset) const {
  const std::uint8_t* p = payload_.data() + offset;
  ValueView v;
  v.tag = static_cast<ValueTag>(*p);
  std::memcpy(&v.scalar, p + 1, 8);
  std::uint64_t size;
  std::memcpy(&size, p + 9, 8);
  v.size = static_cast<std::size_t>(size);
  if (has_bytes(v.tag)) v.data = p + 17;
  return v;
}

}  // namespace quarn
