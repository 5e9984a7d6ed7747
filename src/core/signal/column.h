#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "signal/packed_uints.h"
#include "signal/signal_value.h"
#include "signal/types.h"
#include "signal/value_view.h"

namespace quarn {

/// The values of one signal, by index, stored as runs: run k holds one value
/// from `run_start(k)` up to the next run's start (the last run up to
/// `length()`). Runs always cover 0 .. length-1; positions never written read
/// as Empty, and so does every position at or past `length()`. Memory grows
/// with the number of changes, not with the number of indices.
class Column {
 public:
  /// Number of positions the column covers.
  Index length() const { return length_; }
  std::size_t run_count() const { return starts_.size(); }
  Index run_start(std::size_t k) const { return starts_.get(k); }
  /// One past the last index of run k.
  Index run_end(std::size_t k) const { return k + 1 < run_count() ? starts_.get(k + 1) : length_; }
  ValueTag run_tag(std::size_t k) const { return k < tags_.size() ? static_cast<ValueTag>(tags_[k]) : ValueTag::Bits; }
  /// Run k's Bits number or Real bit pattern (0 for Empty; meaningless for
  /// the other variants). Inline, for sequential walks over many short runs.
  std::uint64_t run_scalar(std::size_t k) const { return payloads_.get(k); }
  /// The packed run starts, scalars and tags, for decoders specialised on
  /// the element widths.
  const PackedUints& run_starts() const { return starts_; }
  const PackedUints& run_scalars() const { return payloads_; }
  /// The tags of runs 0 .. tagged_runs()-1; every later run holds Bits.
  const std::uint8_t* run_tags() const { return tags_.data(); }
  std::size_t tagged_runs() const { return tags_.size(); }
  /// True when the column has runs and none has ever held another variant
  /// than Bits, so every run holds Bits. Kept as runs are written, so asking
  /// costs nothing; a rewrite that removes the last run of another variant
  /// leaves it false, which only sends readers down their general path.
  bool only_bits() const { return run_count() != 0 && tags_seen_ == 1u << static_cast<unsigned>(ValueTag::Bits); }
  /// `only_bits`, and every number is 0 or 1 (as conservative).
  bool only_bits_0_1() const { return only_bits() && bits_seen_ <= 1; }
  /// View of run k's value; valid until the column is next written.
  ValueView run_value(std::size_t k) const;
  /// The run that holds `index`; requires index < length().
  std::size_t run_at(Index index) const;

  /// Value at `index` (Empty at or past the end).
  ValueView view(Index index) const;
  SignalValue get(Index index) const { return to_value(view(index)); }

  /// Stores `v` at `index`, extending the column with Empty positions if needed.
  void set(Index index, const ValueView& v);
  /// Carries the value at index-1 to `index` when the former is not Empty and
  /// the latter is missing or Empty.
  void forward_fill(Index index);
  /// `forward_fill` of every index up to `index` (what a reader that holds
  /// values until the next change means), then `set`.
  void record_change(Index index, const ValueView& v) {
    if (index > 0) hold_through(index - 1);
    set(index, v);
  }
  /// What `forward_fill(k)` for every k up to `last` does when nothing else is
  /// written meanwhile: the last value, unless Empty, holds through `last`.
  void hold_through(Index last);

  /// What an empty column is about to be filled with, so that each of its
  /// arrays is allocated once: `runs` runs starting at most at `last_start`,
  /// Bits numbers up to `largest_bits`, Real values when `real`, and values
  /// with bytes taking `heap_bytes` in all. More still fit.
  struct Room {
    std::size_t runs = 0;
    Index last_start = 0;
    std::uint64_t largest_bits = 0;
    bool real = false;
    std::size_t heap_bytes = 0;
  };
  void reserve(const Room& room);
  void shrink_to_fit();
  std::size_t memory_bytes() const;

 private:
  std::uint64_t encode_payload(const ValueView& v);
  // Out of line: the scalar variants, nearly every change, need none of it.
  [[gnu::noinline]] std::uint64_t encode_on_heap(const ValueView& v);
  void push_run(Index start, const ValueView& v);
  void note_run(const ValueView& v);
  void insert_run(std::size_t k, Index start, const ValueView& v);
  void assign_run(std::size_t k, const ValueView& v);
  void append(Index index, const ValueView& v);
  bool last_run_holds(const ValueView& v) const;
  void tag_every_run();

  PackedUints starts_;
  // Tags of the first runs only: the runs past its end hold Bits, so a
  // column of numbers after a few unknowns stores no tag for most runs.
  std::vector<std::uint8_t> tags_;
  // Bits number, Real bit pattern, or offset into heap_ for the other variants.
  PackedUints payloads_;
  // Variable-size values: a LEB128 byte count, then the bytes.
  std::vector<std::uint8_t> heap_;
  Index length_ = 0;
  std::uint8_t tags_seen_ = 0;  // bit t set once a run has held tag t
  std::uint64_t bits_seen_ = 0;  // every Bits number ever held, or-ed
};

/// Reads one column at non-decreasing indices in amortized O(1) per step.
class ColumnCursor {
 public:
  explicit ColumnCursor(const Column* column) : column_(column) {}
  /// Value at `index`; `index` must not be smaller than at the previous call.
  ValueView at(Index index);
  /// First index after `index` at which the stored value may differ (the end
  /// of the run holding `index`, or the column's length).
  Index next_change(Index index);

 private:
  const Column* column_;
  std::size_t run_ = 0;
};

}  // namespace quarn
