#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "signal/column.h"
#include "signal/types.h"
#include "signal/varint.h"
#include "signal/value_view.h"

namespace quarn {

/// Append-only record of one signal's changes while a trace loads. Each change
/// adds a few bytes at the end of one buffer (index delta, payload), so a
/// reader that meets signals in file order touches one cache line per change
/// instead of a column's several arrays; `replay_into` builds the column
/// afterwards, one signal at a time.
class ChangeLog {
 public:
  /// Records `v` at `index`; indices must not decrease.
  void append(Index index, const ValueView& v) {
    // Numbers (nearly every change) take the short way when there is room.
    if (v.tag != ValueTag::Bits || capacity_ - size_ < kMaxBitsRecord) [[unlikely]]
      return append_any(index, v);
    std::uint8_t* p = bytes_.get() + size_;
    const std::uint8_t* start = p;
    p = put_varint(p, (index - last_) << 1);
    p = put_varint(p, v.scalar);
    size_ += static_cast<std::size_t>(p - start);
    last_ = index;
  }
  /// `Column::record_change` of every logged change, in order.
  void replay_into(Column& column) const { replay_into(column, 0, 0, 0); }
  /// The same for changes logged at indices counted from elsewhere: those
  /// below `skip` are left out, index i goes to `base + i - skip`, and Bits
  /// numbers get `bits_add` added (event counts that go on from earlier).
  void replay_into(Column& column, Index skip, Index base, std::uint64_t bits_add) const;
  bool empty() const { return size_ == 0; }
  /// Index of the last change logged (0 when none).
  Index last_index() const { return last_; }
  /// Frees the buffer.
  void release();

 private:
  // A record starts with varint(index delta * 2 + 1 when a tag byte follows);
  // without one the value is a Bits number, a varint.
  static constexpr std::size_t kMaxBitsRecord = 2 * kMaxVarintBytes;
  [[gnu::noinline]] void append_any(Index index, const ValueView& v);
  std::uint8_t* reserve(std::size_t extra);

  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  Index last_ = 0;
};

}  // namespace quarn
