#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "signal/column.h"
#include "signal/types.h"
#include "signal/value_view.h"

namespace quarn {

/// Append-only record of one signal's changes while a trace loads. Each change
/// adds a few bytes at the end of one buffer (index delta, payload; one byte
/// for a bit that changes within a few indices), so a
/// reader that meets signals in file order touches one cache line per change
/// instead of a column's several arrays; `replay_into` builds the column
/// afterwards, one signal at a time.
class ChangeLog {
 public:
  /// Records `v` at `index`; indices must not decrease.
  void append(Index index, const ValueView& v) {
    // Numbers (nearly every change) take the short way when there is room:
    // no branch on their lengths, which vary from change to change.
    if (v.tag != ValueTag::Bits || capacity_ - size_ < kMaxBitsRecord) [[unlikely]]
      return append_any(index, v);
    std::uint8_t* p = bytes_.get() + size_;
    const Small delta = small_or_bytes(index - last_, kSmallDeltas);
    const Small value = small_or_bytes(v.scalar, kSmallValues);
    *p = static_cast<std::uint8_t>(delta.code | value.code << 4);
    std::memcpy(p + 1, &delta.raw, 8);
    std::memcpy(p + 1 + delta.length, &v.scalar, 8);
    size_ += 1 + delta.length + value.length;
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
  // A record starts with a head byte: its low half says the index delta,
  // its high half the Bits number, each as a code. Codes 0..8 give the byte
  // count of a little-endian number that follows (the delta's bytes first);
  // codes above 8 stand for a small number themselves, with no bytes: delta
  // code - 8 (1..7), number code - 8 (1..6). Number code 15 instead says a
  // tag byte and the value of another variant follow the delta's bytes.
  static constexpr unsigned kSmallDeltas = 7;
  static constexpr unsigned kSmallValues = 6;
  static constexpr unsigned kTagged = 15;
  // Head, delta and number; the two numbers are stored eight bytes each.
  static constexpr std::size_t kMaxBitsRecord = 1 + 8 + 8;
  // Readable bytes past the end, so that numbers load eight bytes at a time.
  static constexpr std::size_t kSlack = 8;

  struct Small {
    unsigned code;
    unsigned length;
    std::uint64_t raw;
  };
  static Small small_or_bytes(std::uint64_t n, unsigned small) {
    const auto bytes = static_cast<unsigned>((std::bit_width(n) + 7) / 8);
    const bool is_small = n - 1 < small;
    return {is_small ? static_cast<unsigned>(n) + 8 : bytes, is_small ? 0 : bytes, n};
  }
  [[gnu::noinline]] void append_any(Index index, const ValueView& v);
  std::uint8_t* reserve(std::size_t extra);

  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;  // usable bytes; kSlack more are allocated
  Index last_ = 0;
};

}  // namespace quarn
