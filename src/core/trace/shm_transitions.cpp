#include "trace/shm_transitions.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "trace/load_control.h"
#include "trace/shm_facts.h"

namespace quarn::shm {

namespace {

// Decodes the blocks of one file into events. Bounds: every usable block has
// S < len and S <= V <= len and Q <= len, which covers every byte read below.
class Decoder {
 public:
  Decoder(std::string_view data, std::uint64_t name_count, const DecodeLimits& limits)
      : limits_(limits),
        b_(reinterpret_cast<const unsigned char*>(data.data())),
        len_(data.size()),
        names_(name_count),
        k_(time_scale(be32(data, kTimeUnitOffset))),
        moved_(name_count, 0) {}

  std::vector<ShmEvent> run(const std::vector<ShmBlock>& blocks, LoadControl* control) {
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      const std::size_t before = events_.size();
      decode_block(blocks[i], blocks.size() - 1 - i);
      if (control && control->advance(kBlockHeader + 16 * (events_.size() - before))) break;
    }
    return std::move(events_);
  }

 private:
  // Room for `more` events, growing geometrically so that many small
  // stages do not copy the list each time.
  void make_room(std::uint64_t more) {
    const std::size_t need = events_.size() + more;
    if (need > events_.capacity()) events_.reserve(std::max(need, 2 * events_.capacity()));
  }

  void emit(SignalId id, Time t, unsigned bit) {
    if (id >= names_ || id > UINT32_MAX) return;
    events_.push_back({t, static_cast<std::uint32_t>(id), static_cast<std::uint8_t>(bit)});
    if (t != 0) moved_[id] = 1;
  }

  void decode_block(const ShmBlock& h, std::size_t blocks_after) {
    const std::uint64_t w = h.v - h.s;
    const std::uint64_t trailer = h.q >= h.v ? h.q - h.v : 0;
    const std::uint64_t r = base_ < names_ ? names_ - base_ : 0;
    const std::uint64_t c = std::min(w, r);
    const Time step = convert_time(h.e, k_);
    bool decoded = initial_values(h, c);

    bool take_delta = true;
    if (trailer >= 12) take_delta = !transition_record(h, w);
    if (take_delta && w >= 4 && !decoded) decoded = delta_stage(h, w, r, step);
    if (decoded) toggle_stage(h, c, step);

    if (decoded) {
      base_ += c;
    } else if (w == 0) {
      base_ += 1;
    } else {
      const std::uint64_t x = blocks_after == 0 ? r : (r > blocks_after ? r - blocks_after : 0);
      base_ += std::max<std::uint64_t>(1, x);
    }
  }

  bool initial_values(const ShmBlock& h, std::uint64_t c) {
    if (c == 0) return false;
    const unsigned char* v = b_ + h.s;
    if (std::all_of(v, v + c, is_level_byte)) {
      for (std::uint64_t j = 0; j < c; ++j) emit(base_ + j, 0, level_of(v[j]));
      return true;
    }
    if (std::all_of(v, v + c, is_flag_byte)) {
      for (std::uint64_t j = 0; j < c; ++j) emit(base_ + j, 0, (v[j] >> 6) & 1u);
      return true;
    }
    return false;
  }

  // True when the block was handled as a single transition record (the delta
  // stage is then skipped, whether or not a time could be decoded).
  bool transition_record(const ShmBlock& h, std::uint64_t w) {
    index_trailers();
    const std::size_t m = first_at(record_ends_, std::size_t{h.v} + 4, std::size_t{h.q} - 2);
    if (m == kNone || m <= std::size_t{h.v} + 4) return false;
    const std::size_t r = first_at(record_starts_, std::size_t{h.v} + 1, m - 4);
    if (r == kNone) return false;
    if (!(base_ < names_ && w == 1 && h.n == 1)) return false;
    std::optional<std::uint64_t> t;
    if (b_[r] == 0x13 && m - r >= 8) t = short_record_time(b_[r + 4], b_[r + 6], b_[r + 7], h.e);
    if (b_[r] == 0x12 && m - r >= 6) t = long_record_time(b_[r + 1], b_[r + 4], b_[r + 5], h.e);
    if (t) emit(base_, convert_time(*t, k_), level_bits(b_[h.s]) == 2 ? 0 : 1);
    return true;
  }

  bool delta_stage(const ShmBlock& h, std::uint64_t w, std::uint64_t r, Time step) {
    const std::uint64_t n = h.n;
    if (n < 2 || h.e == 0 || w < n + 2 || w > n + 4) return false;
    const unsigned char* v = b_ + h.s;
    if (base_ >= names_) return true;  // nothing to emit, but the block counts as decoded
    const unsigned lanes = static_cast<unsigned>(std::min<std::uint64_t>(8, r));
    // Only the top `lanes` bits of each byte name a signal.
    const unsigned mask = (0xFFu << (8 - lanes)) & 0xFFu;
    std::uint64_t count = lanes;
    for (std::uint64_t q = 1; q <= n && deltas_ + count <= limits_.delta_events; ++q)
      count += static_cast<unsigned>(std::popcount(static_cast<unsigned>(v[q] & mask)));
    if (deltas_ + count > limits_.delta_events) return false;
    deltas_ += count;
    make_room(count);

    unsigned prev = v[0];
    for (unsigned i = 0; i < lanes; ++i) emit(base_ + i, 0, (prev >> (7 - i)) & 1u);
    for (std::uint64_t q = 1; q <= n; ++q) {
      const unsigned cur = v[q] ^ prev;
      const unsigned diff = (cur ^ prev) & mask;
      if (diff != 0) {
        const Time t = q * step / (n + 1);
        for (unsigned i = 0; i < lanes; ++i)
          if ((diff >> (7 - i)) & 1u) emit(base_ + i, t, (cur >> (7 - i)) & 1u);
      }
      prev = cur;
    }
    return true;
  }

  void toggle_stage(const ShmBlock& h, std::uint64_t c, Time step) {
    const std::uint64_t n = h.n;
    if (h.e == 0 || c == 0) return;
    for (std::uint64_t j = 0; j < c; ++j)
      if (moved_[base_ + j]) return;
    if (toggles_ > limits_.toggle_events || n * c > limits_.toggle_events - toggles_) return;
    toggles_ += n * c;
    make_room(n * c);
    const unsigned char* v = b_ + h.s;
    for (std::uint64_t s = 1; s <= n; ++s) {
      const Time t = s * step / (n + 1);
      for (std::uint64_t j = 0; j < c; ++j) emit(base_ + j, t, static_cast<unsigned>(s % 2) ^ level_of(v[j]));
    }
  }

  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // First position in sorted `at` within [lo, hi], or kNone.
  static std::size_t first_at(const std::vector<std::size_t>& at, std::size_t lo, std::size_t hi) {
    auto it = std::lower_bound(at.begin(), at.end(), lo);
    return it != at.end() && *it <= hi ? *it : kNone;
  }

  // Every block scans its trailer for the same two patterns; indexing their
  // positions once keeps many overlapping trailers linear in the file size.
  void index_trailers() {
    if (indexed_) return;
    indexed_ = true;
    for (std::size_t p = 0; p + 1 < len_; ++p)
      if (is_record_end(b_[p], b_[p + 1])) record_ends_.push_back(p);
    for (std::size_t p = 0; p + 2 < len_; ++p)
      if (is_record_start(b_[p], b_[p + 1], b_[p + 2])) record_starts_.push_back(p);
  }

  DecodeLimits limits_;
  const unsigned char* b_;
  std::size_t len_;
  std::uint64_t names_;
  std::uint64_t k_;
  std::uint64_t base_ = 0;
  std::uint64_t toggles_ = 0;
  std::uint64_t deltas_ = 0;
  std::vector<ShmEvent> events_;
  std::vector<std::uint8_t> moved_;  // per signal: has an event at a non-zero time
  bool indexed_ = false;
  std::vector<std::size_t> record_ends_;
  std::vector<std::size_t> record_starts_;
};

}  // namespace

BlockScan find_blocks(std::string_view data) {
  BlockScan scan;
  const std::size_t len = data.size();
  if (len < kBlockHeader) return scan;
  const auto* b = reinterpret_cast<const unsigned char*>(data.data());
  const std::size_t last = len - kBlockHeader;  // last position a header fits at
  std::size_t p = 0;
  while (p <= last) {
    // A marker's second byte is 0x1B: jump to the next one.
    const void* hit = std::memchr(b + p + 1, kBlockMarker[1], last + 1 - p);
    if (!hit) break;
    const std::size_t c = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - b) - 1;
    if (b[c] != kBlockMarker[0] || b[c + 2] != kBlockMarker[2] || b[c + 3] != kBlockMarker[3]) {
      p = c + 1;
      continue;
    }
    const ShmBlock h{be32(data, c + kFieldE), be32(data, c + kFieldN), be32(data, c + kFieldQ),
                     be32(data, c + kFieldS), be32(data, c + kFieldV)};
    scan.max_e = std::max(scan.max_e, h.e);
    if (h.n != 0 && h.s <= h.v && h.q <= len && h.s < len && h.v <= len) scan.blocks.push_back(h);
    p = c + kBlockHeader;
  }
  return scan;
}

std::optional<ShmFileEvents> decode_transitions(std::string_view data, std::uint64_t name_count,
                                                const DecodeLimits& limits, LoadControl* control) {
  if (data.size() < kMinTransitionFile || be32(data, 0) != kMagic || name_count == 0) return std::nullopt;
  const BlockScan scan = find_blocks(data);
  ShmFileEvents out;
  Decoder decoder(data, name_count, limits);
  out.events = decoder.run(scan.blocks, control);
  if (scan.max_e != 0) out.end_time = convert_time(scan.max_e, time_scale(be32(data, kTimeUnitOffset)));
  return out;
}

}  // namespace quarn::shm
