#include "trace/fst_lazy_columns.h"

#include <algorithm>
#include <new>

#include "eval/thread_pool.h"
#include "trace/fst_chains.h"
#include "trace/fst_column_builder.h"
#include "trace/fst_hierarchy.h"
#include "trace/fst_trace.h"
#include "trace/fst_validate.h"

namespace quarn {

namespace {

constexpr Index kNoIndex = FstColumnBuilder::kNoIndex;
// Signals decoded per round of a bulk load.
constexpr std::size_t kRoundSignals = 2048;

// Per thread: a chain as read, unpacked, and the decoder's scratch.
struct ChainBuffers {
  std::vector<std::uint8_t> raw;
  std::vector<std::uint8_t> unpacked;
  FstValueScratch scratch;
};

ChainBuffers& chain_buffers() {
  thread_local ChainBuffers buffers;
  return buffers;
}

}  // namespace

std::string FstLazyColumns::add_block(const FstValueBlock& block, std::size_t k, const FstLayout& layout) {
  // The block's chains stay on disk: only where each one lies is kept.
  FstLazyBlock& lazy = blocks_.emplace_back();
  lazy.chains_at = block.chains_at;
  lazy.pack = block.pack;
  lazy.steps = block.step_times.size();
  // Every time of a later block comes after the times so far, so this
  // block's indices are final already. Usually step i is just index
  // base + i; then no table is kept, nor built (it would be as large as the
  // trace's own times at the peak of the open).
  if (!fst_time_indices_affine(layout.times, block.step_times, lazy.step_base))
    fst_time_indices(layout.times, block.step_times, lazy.step_index);
  lazy.offset.assign(block.offset.begin(), block.offset.begin() + static_cast<std::ptrdiff_t>(block.handles));
  lazy.length.resize(block.handles);
  for (std::size_t h = 0; h < block.handles; ++h) {
    // Longer chains than 4 GB cannot be unpacked either.
    if (block.offset[h] && (block.length[h] <= 0 || block.length[h] > 0xFFFFFFFFll))
      return "FST signals: corrupt chain index";
    lazy.length[h] = block.offset[h] ? static_cast<std::uint32_t>(block.length[h]) : 0;
  }
  if (k == 0 && block.has_frame) {
    frame_ = block.frame;
    frame_offset_.resize(block.frame_handles);
    std::uint64_t at = 0;
    for (std::size_t h = 0; h < frame_offset_.size(); ++h) frame_offset_[h] = at, at += layout.value_chars[h];
    frame_time_ = block.begin_time;
    has_frame_ = true;
  }
  return "";
}

std::string FstLazyColumns::open(FstHead& head, const std::vector<Time>& timestamps) {
  file_ = std::move(head.file);
  file_->release_bytes();  // chains are read through the descriptor from now on
  const FstLayout& layout = head.layout;
  // Times of later blocks may come before the frame's, so only now.
  if (has_frame_) frame_index_ = fst_time_index(timestamps, frame_time_).value_or(kNoIndex);

  value_chars_ = layout.value_chars;
  is_real_ = layout.is_real;
  is_event_ = layout.is_event;
  swapped_doubles_ = layout.swapped_doubles;
  last_index_ = timestamps.empty() ? 0 : timestamps.size() - 1;
  ids_ = head.ids;
  handle_of_id_.assign(ids_, kNoHandle);
  for (std::size_t h = 0; h < head.handle_ids.size(); ++h)
    if (head.handle_ids[h] != FstHierarchyBuilder::kNoId) handle_of_id_[head.handle_ids[h]] = static_cast<std::uint32_t>(h);
  bus_of_id_.assign(ids_, kNoHandle);
  buses_.reserve(head.buses.size());
  for (FstBus& bus : head.buses) {
    bus_of_id_[bus.id] = static_cast<std::uint32_t>(buses_.size());
    buses_.push_back({bus.width, std::move(bus.bits)});
  }
  hidden_.assign(ids_, 0);
  for (const SignalId id : head.hidden_ids) hidden_[id] = 1;
  hidden_count_ = static_cast<SignalId>(std::count(hidden_.begin(), hidden_.end(), std::uint8_t{1}));
  slots_ = std::make_unique<Slot[]>(ids_);
  // Ids without a handle have no values, and hidden bits are read only
  // through their bus: nothing to decode.
  SignalId ready = 0;
  for (SignalId id = 0; id < ids_; ++id)
    if ((handle_of_id_[id] == kNoHandle && bus_of_id_[id] == kNoHandle) || hidden_[id])
      slots_[id].ready.store(true, std::memory_order_relaxed), ++ready;
  loaded_.store(ready, std::memory_order_release);
  return "";
}

std::string FstLazyColumns::build(std::size_t h, const std::vector<ChainSpan>* read, Column& out,
                                  bool& written) const {
  ChainBuffers& buf = chain_buffers();
  const FstSignalShape shape{value_chars_[h], is_real_[h] != 0, swapped_doubles_};
  FstColumnBuilder builder;
  if (h < is_event_.size() && is_event_[h]) builder.count_triggers();
  if (h < frame_offset_.size() && shape.chars && frame_index_ != kNoIndex)
    builder.record_initial(frame_index_, fst_frame_view(frame_.data() + frame_offset_[h], shape, buf.scratch));
  for (std::size_t k = 0; k < blocks_.size(); ++k) {
    const FstLazyBlock& block = blocks_[k];
    if (h >= block.offset.size() || !block.offset[h]) continue;
    std::span<const std::uint8_t> chain;
    const ChainSpan* span = read ? &(*read)[k] : nullptr;
    if (span && block.offset[h] >= span->begin && block.offset[h] - span->begin + block.length[h] <= span->bytes.size()) {
      chain = std::span<const std::uint8_t>(span->bytes).subspan(block.offset[h] - span->begin, block.length[h]);
    } else {
      if (!file_->read_at(block.chains_at + block.offset[h], block.length[h], buf.raw))
        return "FST signals: the file is shorter than when it was opened";
      chain = buf.raw;
    }
    std::span<const std::uint8_t> data;
    if (!unpack_chain_bytes(chain, block.pack, buf.unpacked, data)) return "FST signals: corrupt value chain";
    const bool good =
        block.step_index.empty()
            ? decode_fst_chain(data, shape, block.steps, buf.scratch,
                               [&](std::uint64_t step, const ValueView& v, bool varlen) {
                                 builder.record(block.step_base + step, v, varlen);
                               })
            : decode_fst_chain(data, shape, block.steps, buf.scratch,
                               [&](std::uint64_t step, const ValueView& v, bool varlen) {
                                 if (block.step_index[step] != kNoIndex) builder.record(block.step_index[step], v, varlen);
                               });
    if (!good) return "FST signals: corrupt value chain";
  }
  written = builder.written();
  if (written) {
    builder.finish(last_index_);
    out = std::move(builder.column());
  }
  return "";
}

std::string FstLazyColumns::build_bus(std::size_t b, Column& out, bool& written) const {
  const Bus& bus = buses_[b];
  std::vector<Column> own(bus.bits.size());  // hidden bits, built here and dropped after
  std::vector<const Column*> columns(bus.bits.size(), nullptr);
  for (std::size_t j = 0; j < bus.bits.size(); ++j) {
    const SignalId bit = bus.bits[j].id;
    if (!hidden_[bit]) {
      columns[j] = get(bit);
      continue;
    }
    if (handle_of_id_[bit] == kNoHandle) continue;
    bool bit_written = false;
    if (auto e = build(handle_of_id_[bit], nullptr, own[j], bit_written); !e.empty()) return e;
    if (bit_written) columns[j] = &own[j];
  }
  merge_bus_bits(columns, bus.bits, bus.width, out);
  written = out.run_count() != 0;
  if (written) {
    out.hold_through(last_index_);
    out.shrink_to_fit();
  }
  return "";
}

const Column* FstLazyColumns::decode(SignalId id, const std::vector<ChainSpan>* read) const {
  Slot& s = slots_[id];
  // A bus's bits are decoded before its lock is taken: a bit may share the
  // bus's stripe.
  std::unique_ptr<Column> bus_column;
  bool bus_written = false;
  std::string error;
  if (bus_of_id_[id] != kNoHandle && !s.ready.load(std::memory_order_acquire)) {
    try {
      bus_column = std::make_unique<Column>();
      error = build_bus(bus_of_id_[id], *bus_column, bus_written);
    } catch (const std::bad_alloc&) {
      error = "FST signals: out of memory";
    }
  }
  std::lock_guard<std::mutex> lock(locks_[id % locks_.size()]);
  if (s.ready.load(std::memory_order_relaxed)) return s.column.get();
  try {
    auto column = bus_column ? std::move(bus_column) : std::make_unique<Column>();
    bool written = bus_written;
    if (bus_of_id_[id] == kNoHandle) error = build(handle_of_id_[id], read, *column, written);
    if (error.empty() && written) {
      bytes_.fetch_add(column->memory_bytes(), std::memory_order_relaxed);
      s.column = std::move(column);
    }
  } catch (const std::bad_alloc&) {
    error = "FST signals: out of memory";
  }
  if (!error.empty()) fail(error);
  // A failed column stays without values rather than being tried again.
  s.ready.store(true, std::memory_order_release);
  loaded_.fetch_add(1, std::memory_order_acq_rel);
  return s.column.get();
}

std::string FstLazyColumns::read_chains(std::span<const SignalId> ids, std::vector<ChainSpan>& read) const {
  read.assign(blocks_.size(), {});
  for (std::size_t k = 0; k < blocks_.size(); ++k) {
    const FstLazyBlock& block = blocks_[k];
    std::uint64_t lo = ~std::uint64_t{0}, hi = 0, wanted = 0;
    for (const SignalId id : ids) {
      const std::size_t h = handle_of_id_[id];
      if (h >= block.offset.size() || !block.offset[h]) continue;
      lo = std::min(lo, block.offset[h]);
      hi = std::max(hi, block.offset[h] + block.length[h]);
      wanted += block.length[h];
    }
    // Chains of other handles in between are read along only while they
    // are few; else each chain is read on its own.
    if (hi <= lo || hi - lo > 2 * wanted + (std::uint64_t{1} << 16)) continue;
    read[k].begin = lo;
    if (!file_->read_at(block.chains_at + lo, static_cast<std::size_t>(hi - lo), read[k].bytes))
      return "FST signals: the file is shorter than when it was opened";
  }
  return "";
}

void FstLazyColumns::load(std::span<const SignalId> ids) const {
  std::vector<SignalId> todo;
  for (const SignalId id : ids)
    if (id < ids_ && !slots_[id].ready.load(std::memory_order_acquire)) todo.push_back(id);
  // In handle order, as the chains lie in each block.
  std::sort(todo.begin(), todo.end(),
            [&](SignalId a, SignalId b) { return handle_of_id_[a] < handle_of_id_[b]; });
  todo.erase(std::unique(todo.begin(), todo.end()), todo.end());
  // Rounds of signals: each block's chains of a round come in with one read,
  // and a round's reads are all that is held at once.
  std::vector<ChainSpan> read;
  for (std::size_t lo = 0; lo < todo.size(); lo += kRoundSignals) {
    const std::span<const SignalId> round(todo.data() + lo, std::min(kRoundSignals, todo.size() - lo));
    try {
      if (auto e = read_chains(round, read); !e.empty()) {
        fail(e);
        read.clear();  // each chain is then tried on its own, and fails alone
      }
    } catch (const std::bad_alloc&) {
      read.clear();
    }
    // Small pieces: chains differ in length by orders of magnitude.
    parallel_for(0, round.size(), 16, [&](std::size_t a, std::size_t b) {
      for (std::size_t i = a; i < b; ++i)
        if (!slots_[round[i]].ready.load(std::memory_order_acquire)) decode(round[i], &read);
    });
  }
}

ColumnLoad FstLazyColumns::usage() const {
  ColumnLoad u;
  u.total = ids_ - hidden_count_;
  u.loaded = loaded_.load(std::memory_order_acquire) - hidden_count_;
  u.bytes = bytes_.load(std::memory_order_relaxed);
  return u;
}

std::size_t FstLazyColumns::index_bytes() const {
  std::size_t n = frame_.capacity() + frame_offset_.capacity() * 8 + handle_of_id_.capacity() * 4 +
                  bus_of_id_.capacity() * 4 + hidden_.capacity() + value_chars_.capacity() * 5 + ids_ * sizeof(Slot);
  for (const Bus& b : buses_) n += sizeof(b) + b.bits.capacity() * sizeof(BusBit);
  for (const FstLazyBlock& b : blocks_)
    n += sizeof(b) + b.step_index.capacity() * sizeof(Index) + b.offset.capacity() * 8 + b.length.capacity() * 4;
  return n;
}

void FstLazyColumns::fail(const std::string& message) const {
  std::lock_guard<std::mutex> lock(error_lock_);
  if (error_.empty()) error_ = message;
}

std::string FstLazyColumns::error() const {
  std::lock_guard<std::mutex> lock(error_lock_);
  return error_;
}

}  // namespace quarn
