#include "signal/change_log.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "signal/varint.h"

namespace quarn {

namespace {

// Blocks grow by half from the first room to the largest: a signal that
// changes once takes little, and a long log leaves at most one block's room
// unused.
constexpr std::size_t kFirstRoom = 32;
constexpr std::size_t kLargestRoom = std::size_t{4} << 10;

// The number of a code with `length` bytes at `p` (readable past the record:
// the arena's memory goes on), or the small number the code stands for.
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

void ChangeLog::next_block(std::size_t extra, LogArena& arena) {
  std::size_t room = block_ ? std::min<std::size_t>(kLargestRoom, block_->room + block_->room / 2) : kFirstRoom;
  room = std::max(room, extra);
  if (room > UINT32_MAX) throw std::bad_alloc();  // one value of over 4 GB
  auto* block = reinterpret_cast<Block*>(arena.take(sizeof(Block) + room));
  block->previous = block_;
  block->room = static_cast<std::uint32_t>(room);
  block->fill = 0;
  if (block_) block_->fill = static_cast<std::uint32_t>(p_ - block_->records());
  block_ = block;
  p_ = block->records();
  end_ = p_ + room;
}

void ChangeLog::append_any(Index index, const ValueView& v, LogArena& arena) {
  const std::size_t payload = has_bytes(v.tag) ? kMaxVarintBytes + v.byte_size() : 8;
  const std::size_t need = v.tag == ValueTag::Bits ? kMaxBitsRecord : 1 + 8 + 1 + payload;
  if (static_cast<std::size_t>(end_ - p_) < need) next_block(need, arena);
  if (v.tag == ValueTag::Bits) return append(index, v, arena);  // there is room now
  std::uint8_t* p = p_;
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
  p_ = p;
  last_ = index;
}

template <class Visit>
void ChangeLog::each_block(Visit&& visit) const {
  // Blocks link backwards; the records go forwards. A compacted log (every
  // log once its chunk is parsed) is one block.
  std::size_t n = 0;
  for (const Block* b = block_; b; b = b->previous) ++n;
  constexpr std::size_t kFew = 32;
  const Block* few[kFew];
  std::vector<const Block*> many(n > kFew ? n : 0);
  const Block** blocks = n > kFew ? many.data() : few;
  std::size_t k = n;
  for (const Block* b = block_; b; b = b->previous) blocks[--k] = b;
  for (k = 0; k < n; ++k) {
    const Block* b = blocks[k];
    visit(b->records(), b == block_ ? static_cast<std::size_t>(p_ - b->records()) : std::size_t{b->fill});
  }
}

std::size_t ChangeLog::compacted_bytes() const {
  if (!block_) return 0;
  std::size_t bytes = 0;
  each_block([&](const std::uint8_t*, std::size_t n) { bytes += n; });
  const std::size_t take = (sizeof(Block) + bytes + 7) & ~std::size_t{7};
  return take - sizeof(Block) > UINT32_MAX ? 0 : take;
}

void ChangeLog::compact_into(LogArena& arena) {
  const std::size_t take = compacted_bytes();
  if (take == 0) return;
  auto* block = reinterpret_cast<Block*>(arena.take(take));
  std::uint8_t* to = block->records();
  each_block([&](const std::uint8_t* records, std::size_t n) {
    std::memcpy(to, records, n);
    to += n;
  });
  block->previous = nullptr;
  block->room = static_cast<std::uint32_t>(take - sizeof(Block));
  block->fill = 0;
  block_ = block;
  p_ = to;
  end_ = block->records() + block->room;
}

template <class Visit>
void ChangeLog::each_change(Visit&& visit) const {
  Index index = 0;
  each_block([&](const std::uint8_t* records, std::size_t n) {
    const std::uint8_t* p = records;
    const std::uint8_t* end = p + n;
    while (p < end) {
      const unsigned head = *p++;
      index += read_number(p, head & 15);
      ValueView v;
      if (head >> 4 != kTagged) [[likely]] {
        v.tag = ValueTag::Bits;
        v.scalar = read_number(p, head >> 4);
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
      visit(index, v);
    }
  });
}

ChangeLog::Summary ChangeLog::summary() const {
  Summary s;
  each_change([&](Index index, const ValueView& v) {
    if (s.changes++ == 0) s.first = index;
    s.last = index;
    if (v.tag == ValueTag::Bits) {
      s.max_bits = std::max(s.max_bits, v.scalar);
    } else if (has_bytes(v.tag)) {
      const std::size_t bytes = v.byte_size();
      s.heap_bytes += std::max<std::size_t>(1, (std::bit_width(bytes) + 6) / 7) + bytes;  // as the column stores it
    } else {
      s.has_real |= v.tag == ValueTag::Real;
    }
  });
  return s;
}

void ChangeLog::replay_into(Column& column, Index skip, Index base, std::uint64_t bits_add) const {
  each_change([&](Index index, ValueView v) {
    if (v.tag == ValueTag::Bits) v.scalar += bits_add;
    if (index >= skip) column.record_change(base + (index - skip), v);
  });
}

}  // namespace quarn
