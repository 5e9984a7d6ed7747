#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "signal/column.h"
#include "signal/types.h"
#include "trace/bus_merge.h"
#include "trace/fst_file.h"
#include "trace/fst_validate.h"
#include "trace/trace.h"

namespace quarn {

struct FstHead;

/// Where one value-change block keeps each signal's chain, as read at open.
struct FstLazyBlock {
  std::uint64_t chains_at = 0;  // file offset of the block's chain area
  std::uint8_t pack = 0;  // as FstValueBlock::pack
  std::size_t steps = 0;
  Index step_base = 0;  // index of step 0 when step i lands on step_base + i
  std::vector<Index> step_index;  // else: index of each step (kNoIndex: none)
  std::vector<std::uint64_t> offset;  // per handle index, into the chain area; 0: no chain
  std::vector<std::uint32_t> length;
};

/// The columns of an FST trace, each decoded from the file the first time it
/// is asked for. The file's descriptor stays open and chains are read with
/// pread, so nothing of the image is held or mapped between reads. Every
/// operation may run on many threads at once: a column is decoded once,
/// under a lock of its own stripe, and published with release order.
class FstLazyColumns {
 public:
  /// Keeps where block `k` (as `check_fst_image` hands it to its visitor)
  /// holds each signal's chain, and its initial values when it is the first.
  /// Returns "" or a message starting "FST signals: ".
  std::string add_block(const FstValueBlock& block, std::size_t k, const FstLayout& layout);
  /// Takes the open file and what `read_fst_head` read (timestamps in
  /// `timestamps`), every block added. Returns "" or a message starting
  /// "FST signals: ".
  std::string open(FstHead& head, const std::vector<Time>& timestamps);

  /// Column of `id` (decoding it now if needed); null when it has no values,
  /// for an unknown id, or when its decoding failed.
  const Column* get(SignalId id) const {
    if (id >= ids_) return nullptr;
    const Slot& s = slots_[id];
    if (s.ready.load(std::memory_order_acquire)) return s.column.get();
    return decode(id);
  }
  /// Decodes the columns of `ids` not yet decoded, in parallel on the pool.
  void load(std::span<const SignalId> ids) const;
  bool all_loaded() const { return loaded_.load(std::memory_order_acquire) == ids_; }
  /// Decoded columns among the named ids and their memory.
  ColumnLoad usage() const;
  std::string error() const;
  /// Memory held for the columns not decoded yet: chain indexes, the first
  /// block's initial values and the slots (bytes).
  std::size_t index_bytes() const;

 private:
  struct Slot {
    std::atomic<bool> ready{false};
    std::unique_ptr<Column> column;
  };
  static constexpr std::uint32_t kNoHandle = ~std::uint32_t{0};

  /// One block's chains of a run of handles, read with one call.
  struct ChainSpan {
    std::uint64_t begin = 0;  // offset into the block's chain area
    std::vector<std::uint8_t> bytes;
  };

  const Column* decode(SignalId id, const std::vector<ChainSpan>* read = nullptr) const;
  /// Builds the column of bus `b` from its bits' (decoded first, outside
  /// the bus's lock); "" or the failure.
  std::string build_bus(std::size_t b, Column& out, bool& written) const;
  /// Builds the column of handle index `h`, taking its chains from `read`
  /// (per block) where they lie in it; "" or the failure.
  std::string build(std::size_t h, const std::vector<ChainSpan>* read, Column& out, bool& written) const;
  /// Reads each block's chains of the handles of `ids` (ascending handles)
  /// in one call where they lie close together.
  std::string read_chains(std::span<const SignalId> ids, std::vector<ChainSpan>& read) const;
  void fail(const std::string& message) const;

  std::unique_ptr<FstFile> file_;
  std::vector<std::uint32_t> value_chars_;  // per handle index
  std::vector<std::uint8_t> is_real_;
  std::vector<std::uint8_t> is_event_;
  bool swapped_doubles_ = false;
  std::vector<FstLazyBlock> blocks_;
  // Initial values of the first block (when it starts before its first step).
  std::vector<std::uint8_t> frame_;
  std::vector<std::uint64_t> frame_offset_;  // per handle index
  bool has_frame_ = false;
  Time frame_time_ = 0;
  Index frame_index_ = 0;
  Index last_index_ = 0;

  SignalId ids_ = 0;
  std::vector<std::uint32_t> handle_of_id_;
  // Bit-blasted buses: composed from their bits as the eager load does.
  struct Bus {
    Width width = 0;
    std::vector<BusBit> bits;
  };
  std::vector<Bus> buses_;
  std::vector<std::uint32_t> bus_of_id_;  // kNoHandle: not a bus
  std::vector<std::uint8_t> hidden_;  // per id: a bus's bit under no name; its column is never kept
  SignalId hidden_count_ = 0;  // left out of `usage`, as no name reads them
  std::unique_ptr<Slot[]> slots_;
  mutable std::array<std::mutex, 64> locks_;
  mutable std::atomic<SignalId> loaded_{0};
  mutable std::atomic<std::size_t> bytes_{0};
  mutable std::mutex error_lock_;
  mutable std::string error_;
};

}  // namespace quarn
