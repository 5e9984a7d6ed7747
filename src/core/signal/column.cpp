#include "signal/column.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "signal/varint.h"

namespace quarn {

ValueView Column::run_value(std::size_t k) const {
  const ValueTag tag = run_tag(k);
  if (!has_bytes(tag)) return {tag, tag == ValueTag::Empty ? 0 : payloads_.get(k), nullptr, 0};
  const std::uint8_t* p = heap_.data() + payloads_.get(k);
  const std::uint64_t bytes = get_varint(p);
  // WideBits words may sit unaligned here; readers copy them out with memcpy.
  return {tag, 0, p, static_cast<std::size_t>(tag == ValueTag::WideBits ? bytes / 8 : bytes)};
}

std::size_t Column::run_at(Index index) const {
  std::size_t lo = 0, hi = run_count();  // run_start(0) == 0 <= index
  while (hi - lo > 1) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (starts_.get(mid) <= index) lo = mid;
    else hi = mid;
  }
  return lo;
}

ValueView Column::view(Index index) const {
  if (index >= length_) return ValueView::empty();
  return run_value(run_at(index));
}

std::uint64_t Column::encode_payload(const ValueView& v) {
  if (!has_bytes(v.tag)) return v.tag == ValueTag::Empty ? 0 : v.scalar;
  return encode_on_heap(v);
}

std::uint64_t Column::encode_on_heap(const ValueView& v) {
  const std::uint64_t offset = heap_.size();
  const std::size_t bytes = v.byte_size();
  const auto* src = static_cast<const std::uint8_t*>(v.data);
  // A value viewed from this very column would dangle once heap_ grows.
  const bool inside = bytes && src >= heap_.data() && src < heap_.data() + heap_.size();
  const std::size_t src_offset = inside ? static_cast<std::size_t>(src - heap_.data()) : 0;
  const std::size_t needed = heap_.size() + 10 + bytes;
  if (heap_.capacity() < needed) heap_.reserve(std::max(needed, heap_.capacity() * 2));
  if (inside) src = heap_.data() + src_offset;
  put_varint(heap_, bytes);
  if (bytes) {
    const std::size_t at = heap_.size();
    heap_.resize(at + bytes);
    std::memmove(heap_.data() + at, inside ? heap_.data() + src_offset : src, bytes);
  }
  return offset;
}

void Column::note_run(const ValueView& v) {
  tags_seen_ |= static_cast<std::uint8_t>(1u << static_cast<unsigned>(v.tag));
  if (v.tag == ValueTag::Bits) bits_seen_ |= v.scalar;
}

void Column::push_run(Index start, const ValueView& v) {
  note_run(v);
  if (v.tag != ValueTag::Bits) {
    tags_.resize(run_count(), static_cast<std::uint8_t>(ValueTag::Bits));
    tags_.push_back(static_cast<std::uint8_t>(v.tag));
  }
  starts_.push_back(start);
  payloads_.push_back(encode_payload(v));
}

void Column::tag_every_run() { tags_.resize(run_count(), static_cast<std::uint8_t>(ValueTag::Bits)); }

void Column::insert_run(std::size_t k, Index start, const ValueView& v) {
  if (k == run_count()) return push_run(start, v);  // appending, by far the common case
  const std::uint64_t payload = encode_payload(v);
  note_run(v);
  tag_every_run();
  starts_.insert(k, start);
  tags_.insert(tags_.begin() + static_cast<std::ptrdiff_t>(k), static_cast<std::uint8_t>(v.tag));
  payloads_.insert(k, payload);
}

void Column::assign_run(std::size_t k, const ValueView& v) {
  payloads_.set(k, encode_payload(v));
  tag_every_run();
  tags_[k] = static_cast<std::uint8_t>(v.tag);
  note_run(v);
}

bool Column::last_run_holds(const ValueView& v) const {
  if (run_count() == 0 || run_tag(run_count() - 1) != v.tag) return false;
  // Scalars compare as stored numbers, without building a view.
  if (!has_bytes(v.tag)) return v.tag == ValueTag::Empty || payloads_.back() == v.scalar;
  return identical(run_value(run_count() - 1), v);
}

void Column::append(Index index, const ValueView& v) {
  if (index > length_) {
    // Positions never written read as Empty.
    if (run_count() == 0 || run_tag(run_count() - 1) != ValueTag::Empty) push_run(length_, ValueView::empty());
    length_ = index;
  }
  if (!last_run_holds(v)) push_run(index, v);
  length_ = index + 1;
}

void Column::set(Index index, const ValueView& v) {
  if (index >= length_) {
    append(index, v);
    return;
  }
  const std::size_t k = run_at(index);
  if (identical(run_value(k), v)) return;
  const Index start = run_start(k);
  const Index end = run_end(k);
  if (start == index && end == index + 1) {
    assign_run(k, v);
  } else if (start == index) {
    starts_.set(k, index + 1);
    insert_run(k, index, v);
  } else if (end == index + 1) {
    insert_run(k + 1, index, v);
  } else {
    // Split run k around index; the tail reuses k's stored payload.
    const auto tag = static_cast<std::uint8_t>(run_tag(k));
    const std::uint64_t payload = payloads_.get(k);
    insert_run(k + 1, index, v);
    tag_every_run();
    starts_.insert(k + 2, index + 1);
    tags_.insert(tags_.begin() + static_cast<std::ptrdiff_t>(k + 2), tag);
    payloads_.insert(k + 2, payload);
  }
}

void Column::forward_fill(Index index) {
  if (index == 0 || index - 1 >= length_) return;
  const std::size_t k = run_at(index - 1);
  if (run_tag(k) == ValueTag::Empty) return;
  if (index >= length_) {
    length_ = index + 1;  // k is the last run: it grows by one position
    return;
  }
  if (run_end(k) > index) return;  // same run, already holds the value
  const std::size_t next = k + 1;  // starts exactly at index
  if (run_tag(next) != ValueTag::Empty) return;
  // Let run k cover index by shrinking or dropping the Empty run after it.
  if (run_end(next) == index + 1) {
    tag_every_run();
    starts_.erase(next);
    tags_.erase(tags_.begin() + static_cast<std::ptrdiff_t>(next));
    payloads_.erase(next);
  } else {
    starts_.set(next, index + 1);
  }
}

void Column::hold_through(Index last) {
  if (length_ == 0 || length_ > last) return;
  if (run_tag(run_count() - 1) == ValueTag::Empty) return;
  length_ = last + 1;
}

void Column::reserve(const Room& room) {
  if (run_count() != 0) return;
  starts_.reserve(room.runs, room.last_start);
  // Payloads are Bits numbers, Real bit patterns or offsets into heap_.
  payloads_.reserve(room.runs, room.real ? ~std::uint64_t{0} : std::max<std::uint64_t>(room.largest_bits, room.heap_bytes));
  // encode_on_heap wants room for a longest varint past the value.
  if (room.heap_bytes) heap_.reserve(room.heap_bytes + kMaxVarintBytes);
}

void Column::shrink_to_fit() {
  // Rewrites in the middle tag every run; the trailing Bits need no tag.
  while (!tags_.empty() && tags_.back() == static_cast<std::uint8_t>(ValueTag::Bits)) tags_.pop_back();
  starts_.shrink_to_fit();
  tags_.shrink_to_fit();
  payloads_.shrink_to_fit();
  // Reserved ahead, heap_ is a varint's length short of full: no copy for that.
  if (heap_.capacity() - heap_.size() > kMaxVarintBytes) heap_.shrink_to_fit();
}

std::size_t Column::memory_bytes() const {
  return sizeof(*this) + starts_.memory_bytes() + tags_.capacity() + payloads_.memory_bytes() + heap_.capacity();
}

ValueView ColumnCursor::at(Index index) {
  if (column_ == nullptr || index >= column_->length()) return ValueView::empty();
  const std::size_t count = column_->run_count();
  if (run_ + 1 < count && column_->run_start(run_ + 1) <= index) {
    ++run_;
    // Far jumps search instead of stepping, so a skip costs log(runs).
    if (run_ + 1 < count && column_->run_start(run_ + 1) <= index) run_ = column_->run_at(index);
  }
  return column_->run_value(run_);
}

Index ColumnCursor::next_change(Index index) {
  if (column_ == nullptr || index >= column_->length()) return std::numeric_limits<Index>::max();
  at(index);
  return column_->run_end(run_);
}

}  // namespace quarn
