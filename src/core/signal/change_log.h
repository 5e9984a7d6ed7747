#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "signal/column.h"
#include "signal/log_arena.h"
#include "signal/types.h"
#include "signal/value_view.h"

namespace quarn {

/// Append-only record of one signal's changes while a trace loads. Each change
/// adds a few bytes at the end of the log (index delta, payload; one byte
/// for a bit that changes within a few indices), so a
/// reader that meets signals in file order touches one cache line per change
/// instead of a column's several arrays; `replay_into` builds the column
/// afterwards, one signal at a time.
///
/// The bytes lie in blocks from a `LogArena`, each half as large again as
/// the one before up to a limit, and linked to it: growing copies nothing
/// and frees nothing. The arena owns the memory; the log must not outlive it.
class ChangeLog {
 public:
  /// Records `v` at `index`, taking any new block from `arena`, which must
  /// outlive the log; indices must not decrease.
  void append(Index index, const ValueView& v, LogArena& arena) {
    // Numbers (nearly every change) take the short way when there is room:
    // no branch on their lengths, which vary from change to change.
    if (v.tag != ValueTag::Bits || static_cast<std::size_t>(end_ - p_) < kMaxBitsRecord) [[unlikely]]
      return append_any(index, v, arena);
    std::uint8_t* p = p_;
    const Small delta = small_or_bytes(index - last_, kSmallDeltas);
    const Small value = small_or_bytes(v.scalar, kSmallValues);
    *p = static_cast<std::uint8_t>(delta.code | value.code << 4);
    std::memcpy(p + 1, &delta.raw, 8);
    std::memcpy(p + 1 + delta.length, &v.scalar, 8);
    p_ += 1 + delta.length + value.length;
    last_ = index;
  }
  /// `Column::record_change` of every logged change, in order.
  void replay_into(Column& column) const { replay_into(column, 0, 0, 0); }
  /// The same for changes logged at indices counted from elsewhere: those
  /// below `skip` are left out, index i goes to `base + i - skip`, and Bits
  /// numbers get `bits_add` added (event counts that go on from earlier).
  void replay_into(Column& column, Index skip, Index base, std::uint64_t bits_add) const;
  bool empty() const { return block_ == nullptr; }
  /// What a column built from the log needs room for.
  struct Summary {
    std::size_t changes = 0;
    Index first = 0, last = 0;  // indices of the first and last change
    std::uint64_t max_bits = 0;  // largest Bits number
    bool has_real = false;
    std::size_t heap_bytes = 0;  // what the values with bytes take in a column
  };
  /// Reads the log through once.
  Summary summary() const;
  /// Index of the last change logged (0 when none).
  Index last_index() const { return last_; }
  /// Forgets the changes (their memory is the arena's). An empty log is all
  /// zero bytes.
  void release() { *this = ChangeLog(); }
  /// Bytes `compact_into` takes from its arena; 0 when the log is empty or
  /// too long for one block (over 4 GB).
  std::size_t compacted_bytes() const;
  /// Moves the records into one block of `arena`, no larger than they need;
  /// the old blocks are left to their arena. Appending may go on after.
  /// Does nothing when `compacted_bytes()` is 0.
  void compact_into(LogArena& arena);

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
  [[gnu::noinline]] void append_any(Index index, const ValueView& v, LogArena& arena);
  // Moves on to a new block with room for `extra` bytes or more.
  void next_block(std::size_t extra, LogArena& arena);
  struct Block;
  // The blocks in order, first to last.
  template <class Visit>
  void each_block(Visit&& visit) const;
  // Every change in order, as (index, view).
  template <class Visit>
  void each_change(Visit&& visit) const;

  // Each block starts with this head; its records follow.
  struct Block {
    Block* previous;
    std::uint32_t room;  // bytes for records
    std::uint32_t fill;  // bytes of records, once the next block is started
    std::uint8_t* records() { return reinterpret_cast<std::uint8_t*>(this + 1); }
    const std::uint8_t* records() const { return reinterpret_cast<const std::uint8_t*>(this + 1); }
  };

  Block* block_ = nullptr;    // the current (last) block
  std::uint8_t* p_ = nullptr;    // where the next record goes
  std::uint8_t* end_ = nullptr;  // end of the current block's room
  Index last_ = 0;
};

}  // namespace quarn
