#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "signal/types.h"
#include "signal/value_view.h"

namespace quarn {

/// Value changes held in arrival order before they go to their signals'
/// `ChangeLog`s. With thousands of signals, appending each change to its log
/// as it is read costs a cache miss or more per change (the log and its tail,
/// spread over every signal); staged here, the changes go out group by group
/// of neighbouring ids, so the logs of one group stay in cache while written.
/// Within one signal the order of arrival is kept.
class ChangeStage {
 public:
  /// Ids per group: the logs of a group and their tails fit in a core's
  /// cache next to what drains them.
  static constexpr std::size_t kIdsPerGroup = 1024;
  /// The largest id and relative index a change may have.
  static constexpr std::uint32_t kMaxId = (std::uint32_t{1} << 31) - 1;
  static constexpr std::uint32_t kMaxAt = ~std::uint32_t{0};

  /// `capacity`: changes held before `add` says the stage is full.
  explicit ChangeStage(std::size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

  /// Holds `v` for signal `id` (at most kMaxId) at index `at` (counted from a
  /// base the caller keeps; at most kMaxAt); its bytes are copied. True when
  /// the stage is now full and should be drained.
  [[nodiscard]] bool add(std::uint32_t id, std::uint32_t at, const ValueView& v) {
    std::vector<Staged>& group = group_for(id);
    if (v.tag == ValueTag::Bits) [[likely]]
      group.push_back({id, at, v.scalar});
    else
      group.push_back({id | kInPayload, at, keep_payload(v)});
    return ++count_ >= capacity_ || payload_.size() >= kMaxPayloadBytes;
  }

  bool empty() const { return count_ == 0; }
  /// Changes held before `add` says the stage is full.
  void set_capacity(std::size_t capacity) { capacity_ = capacity; }
  std::size_t capacity() const { return capacity_; }

  /// Calls `put(id, at, view)` for every change held, group after group in id
  /// order, each group in order of arrival; then holds none (keeping its
  /// memory for the next changes). Views are valid during their call only.
  template <class Put>
  void drain(Put&& put) {
    for (std::vector<Staged>& group : groups_) {
      for (const Staged& s : group) {
        if (!(s.id & kInPayload)) [[likely]]
          put(s.id, s.at, ValueView::bits(s.value));
        else
          put(s.id & ~kInPayload, s.at, payload_at(s.value));
      }
      group.clear();
    }
    payload_.clear();
    count_ = 0;
  }

  /// Frees the memory held (nothing may be staged).
  void release() {
    groups_ = {};
    payload_ = {};
  }

 private:
  static constexpr std::size_t kDefaultCapacity = std::size_t{1} << 18;
  static constexpr std::size_t kMaxPayloadBytes = std::size_t{4} << 20;
  static constexpr std::uint32_t kInPayload = std::uint32_t{1} << 31;

  // 16 bytes: `value` is the Bits number, or (kInPayload set in `id`) the
  // offset in `payload_` of the value's tag and bytes.
  struct Staged {
    std::uint32_t id;
    std::uint32_t at;
    std::uint64_t value;
  };
  static_assert(sizeof(Staged) == 16);

  std::vector<Staged>& group_for(std::uint32_t id) {
    const std::size_t g = id / kIdsPerGroup;
    if (g >= groups_.size()) [[unlikely]]
      groups_.resize(g + 1);
    return groups_[g];
  }
  std::uint64_t keep_payload(const ValueView& v);
  ValueView payload_at(std::uint64_t offset) const;

  std::vector<std::vector<Staged>> groups_;  // by id / kIdsPerGroup
  std::vector<std::uint8_t> payload_;        // values other than Bits: tag, scalar, size, bytes
  std::size_t count_ = 0;
  std::size_t capacity_;
};

}  // namespace quarn
