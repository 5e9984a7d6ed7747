#include "trace/fst_trace.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <new>

#include "fstapi.h"
#include "eval/thread_pool.h"
#include "trace/bus_merge.h"
#include "trace/fst_chains.h"
#include "trace/fst_column_builder.h"
#include "trace/fst_file.h"
#include "trace/fst_hierarchy.h"
#include "trace/fst_side_hierarchy.h"
#include "trace/fst_validate.h"
#include "trace/fst_values.h"

namespace quarn {

namespace {

constexpr Index kNoIndex = std::numeric_limits<Index>::max();

/// Decodes the value chains of the file's value-change blocks and stores
/// them. The FST library walks a block time-major over all signals and hands
/// each value over as text; here each signal's chains are walked on their
/// own, block after block, straight from their packed form into the signal's
/// column, which is trimmed as soon as it is complete. Signals are thus
/// independent and are shared out among the pool's threads. String signals,
/// the only ones that can change to Empty, follow the fill rule for Empty,
/// which looks at the value before.
class ValueLoader {
 public:
  ValueLoader(TraceRecord& r, const FstLayout& layout, const std::vector<SignalId>& handle_ids, SignalId ids,
              LoadControl& control)
      : r_(r), control_(control), layout_(layout), handle_ids_(handle_ids), columns_(ids) {
    r_.store.reserve_ids(ids);
    for (std::size_t h = 0; h < layout.is_event.size(); ++h)
      if (layout.is_event[h] && id_of(h) != FstHierarchyBuilder::kNoId) columns_[id_of(h)].count_triggers();
  }

  /// Stores the changes of every value-change block. Returns "" or a message
  /// starting "FST signals: ".
  std::string load(FstFile& file) {
    const std::size_t handles = layout_.is_real.size();
    const std::size_t count = layout_.value_blocks.size();
    // Blocks whose chain indexes are held at once; files with very many
    // signals and blocks are taken a few blocks at a time.
    const std::size_t per_batch = std::max<std::size_t>(1, kIndexEntries / std::max<std::size_t>(1, handles));
    for (std::size_t b0 = 0; b0 < count; b0 += per_batch) {
      const std::size_t n = std::min(per_batch, count - b0);
      blocks_.assign(n, {});
      step_index_.assign(n, {});
      step_base_.assign(n, kNoIndex);
      std::size_t most = 0;
      for (std::size_t k = 0; k < n; ++k) {
        if (control_.advance(layout_.value_blocks[b0 + k].second / 4)) return kLoadInterrupted;
        FstValueBlock& block = blocks_[k];
        if (auto e = read_value_block(file.bytes(), layout_.value_blocks[b0 + k], b0 + k == 0, layout_, block); !e.empty())
          return e;
        // Usually step i is just index base + i; then the table, which each
        // change would read from a different cache line, is not built.
        if (!fst_time_indices_affine(r_.timestamps, block.step_times, step_base_[k]))
          fst_time_indices(r_.timestamps, block.step_times, step_index_[k]);
        most = std::max({most, block.handles, block.frame_handles});
      }
      frame_offset_.clear();
      if (b0 == 0 && blocks_[0].has_frame) {
        frame_offset_.resize(blocks_[0].frame_handles);
        std::size_t offset = 0;
        for (std::size_t h = 0; h < frame_offset_.size(); ++h) frame_offset_[h] = offset, offset += layout_.value_chars[h];
      }
      last_batch_ = b0 + n == count;
      if (auto e = load_batch(file, most); !e.empty()) return e;
    }
    blocks_ = {};
    step_index_ = {};
    return "";
  }

  /// Hands the columns to the store, applies the fill rule to each string
  /// signal's last change and holds every value to the last index.
  void finish() {
    for (SignalId id = 0; id < columns_.size(); ++id) {
      if (!columns_[id].written()) continue;
      columns_[id].finish(r_.timestamps.size() - 1);
      r_.store.column_for_write(id) = std::move(columns_[id].column());
    }
    columns_ = {};
    r_.store.shrink_to_fit();
  }

 private:
  static constexpr std::size_t kIndexEntries = std::size_t{1} << 20;  // 16 MB of chain index
  // Signals per round: between rounds the image pages read so far go back.
  static constexpr std::size_t kRoundSignals = 2048;

  std::string load_batch(FstFile& file, std::size_t handles) {
    std::vector<std::size_t> dropped(blocks_.size(), 0);
    for (std::size_t lo = 0; lo < handles; lo += kRoundSignals) {
      const std::size_t hi = std::min(handles, lo + kRoundSignals);
      std::atomic<int> failure{0};
      // Small pieces: chains differ in length by orders of magnitude.
      parallel_for(lo, hi, 16, [&](std::size_t a, std::size_t b) {
        try {
          std::vector<std::uint8_t> buf;
          FstValueScratch scratch;
          for (std::size_t h = a; h < b && !failure.load(std::memory_order_relaxed); ++h) {
            if (!load_signal(h, buf, scratch)) failure.store(1);
            // Pool workers only read the answer; the loading thread, when
            // it runs a piece, asks.
            if (control_.advance(chain_bytes(h))) failure.store(3);
          }
        } catch (const std::bad_alloc&) {
          failure.store(2);
        }
      });
      if (failure.load() == 3) return kLoadInterrupted;
      if (failure.load() == 2) return "FST signals: out of memory";
      if (failure.load()) return "FST signals: corrupt value chain";
      // Chains lie in signal order, so what this round read is behind it.
      for (std::size_t k = 0; k < blocks_.size(); ++k) {
        const FstValueBlock& block = blocks_[k];
        std::size_t end = 0;
        for (std::size_t h = lo; h < std::min(hi, block.handles); ++h)
          if (block.offset[h])
            end = std::max(end, static_cast<std::size_t>(block.chain(h).data() - file.bytes().data()) + block.chain(h).size());
        if (end > dropped[k]) {
          file.drop_pages(dropped[k], end - dropped[k]);
          dropped[k] = end;
        }
      }
    }
    return "";
  }

  // A corrupt chain fails the load even for a signal no name refers to.
  bool load_signal(std::size_t h, std::vector<std::uint8_t>& buf, FstValueScratch& scratch) {
    const SignalId id = id_of(h);
    const FstSignalShape s = shape(h);
    if (h < frame_offset_.size() && s.chars && id != FstHierarchyBuilder::kNoId) {
      const Index index = fst_time_index(r_.timestamps, blocks_[0].begin_time).value_or(kNoIndex);
      if (index != kNoIndex) columns_[id].record_initial(index, fst_frame_view(blocks_[0].frame.data() + frame_offset_[h], s, scratch));
    }
    for (std::size_t k = 0; k < blocks_.size(); ++k) {
      const FstValueBlock& block = blocks_[k];
      if (h >= block.handles || !block.offset[h]) continue;
      std::span<const std::uint8_t> data;
      if (!unpack_chain(block, h, buf, data)) return false;
      const std::vector<Index>& step_index = step_index_[k];
      const Index base = step_base_[k];
      const std::size_t steps = block.step_times.size();
      bool good;
      if (id == FstHierarchyBuilder::kNoId)
        good = decode_fst_chain(data, s, steps, scratch, [](std::uint64_t, const ValueView&, bool) {});
      else if (base != kNoIndex)
        good = decode_fst_chain(data, s, steps, scratch, [&](std::uint64_t step, const ValueView& v, bool varlen) {
          columns_[id].record(base + step, v, varlen);
        });
      else
        good = decode_fst_chain(data, s, steps, scratch, [&](std::uint64_t step, const ValueView& v, bool varlen) {
          if (step_index[step] != kNoIndex) columns_[id].record(step_index[step], v, varlen);
        });
      if (!good) return false;
    }
    if (last_batch_ && id != FstHierarchyBuilder::kNoId) columns_[id].column().shrink_to_fit();
    return true;
  }

  // Packed bytes of handle h in the batch, the work its load stands for.
  std::uint64_t chain_bytes(std::size_t h) const {
    std::uint64_t n = 64;
    for (const FstValueBlock& block : blocks_)
      if (h < block.handles && block.offset[h]) n += block.chain(h).size();
    return n;
  }

  FstSignalShape shape(std::size_t h) const {
    return {layout_.value_chars[h], layout_.is_real[h] != 0, layout_.swapped_doubles};
  }

  SignalId id_of(std::size_t h) const {
    return h < handle_ids_.size() ? handle_ids_[h] : FstHierarchyBuilder::kNoId;
  }

  TraceRecord& r_;
  LoadControl& control_;
  const FstLayout& layout_;
  const std::vector<SignalId>& handle_ids_;
  std::vector<FstValueBlock> blocks_;  // the batch of blocks being read
  std::vector<std::vector<Index>> step_index_;  // per block: index of each step
  std::vector<Index> step_base_;  // per block: index of step 0 when step i is at it + i
  std::vector<std::size_t> frame_offset_;  // per handle: its bytes in the frame
  bool last_batch_ = false;
  // Built here, apart from the store, because threads fill them at once.
  std::vector<FstColumnBuilder> columns_;
};

std::string read_hierarchy(FstLayout& layout, FstHierarchyBuilder& builder, LoadControl& control) {
  bool interrupted = false;
  walk_fst_hierarchy(layout, [&](const FstHierarchyEntry& h) {
    if (control.advance(64)) return !(interrupted = true);
    switch (h.kind) {
      case FstHierarchyEntry::Kind::Scope: builder.scope(h.name); break;
      case FstHierarchyEntry::Kind::Upscope: builder.upscope(); break;
      case FstHierarchyEntry::Kind::Var: {
        const bool real = is_fst_real_type(h.type) ||
                          (h.handle && h.handle <= layout.is_real.size() && layout.is_real[h.handle - 1]);
        if (h.type == FST_VT_VCD_EVENT && h.handle && h.handle <= layout.is_event.size())
          layout.is_event[h.handle - 1] = 1;
        builder.var(h.name, real ? 64 : h.length, h.handle);
        break;
      }
    }
    return true;
  });
  return interrupted ? kLoadInterrupted : "";
}

// Composes each bus from its bits, then lets go of the bits no name reads.
void merge_buses(const FstHead& head, TraceRecord& r) {
  for (const FstBus& bus : head.buses) {
    Column merged;
    merge_bus_bits(r.store, bus.bits, bus.width, merged);
    if (merged.run_count() == 0) continue;
    merged.hold_through(r.timestamps.size() - 1);
    merged.shrink_to_fit();
    r.store.column_for_write(bus.id) = std::move(merged);
  }
  for (const SignalId id : head.hidden_ids)
    if (r.store.column(id)) r.store.column_for_write(id) = Column();
}

// The header block comes first (checked above); its timescale byte, a signed
// power of ten of seconds, follows the type, the length and eight 8-byte fields.
std::optional<Timescale> header_timescale(std::span<const std::uint8_t> image) {
  constexpr std::size_t kTimescaleAt = 1 + 8 + 8 * 8;
  if (image.size() <= kTimescaleAt) return std::nullopt;
  return timescale_from_exponent(static_cast<std::int8_t>(image[kTimescaleAt]));
}

std::string load(const std::string& path, TraceRecord& r, LoadControl& control, LoadReport* report) {
  FstHead head;
  if (auto e = read_fst_head(path, r, head, true, control, report); !e.empty()) return e;
  FstFile& file = *head.file;
  // The value blocks are read again, a batch at a time (see ValueLoader).
  ValueLoader loader(r, head.layout, head.handle_ids, head.ids, control);
  if (auto e = loader.load(file); !e.empty()) return e;
  file.release_bytes();
  loader.finish();
  merge_buses(head, r);
  return "";
}

}  // namespace

std::string read_fst_head(const std::string& path, TraceRecord& r, FstHead& head, bool chain_heads,
                          LoadControl& control, LoadReport* report, const FstBlockVisitor& visit) {
  FstFile& file = *head.file;
  if (auto e = file.open(path, &control); !e.empty()) return e;
  // Only a file without a hierarchy block reads the side file beside it.
  const FstSideHierarchy side = [&path](std::vector<std::uint8_t>& entries) {
    return read_fst_side_hierarchy(path, entries);
  };
  if (auto e = check_fst_image(file.bytes(), head.layout, &control, chain_heads, visit, side); !e.empty())
    return e;
  if (report) *report = head.layout.report;
  r.timescale = header_timescale(file.bytes());
  // Every page touched maps its neighbours too; they go back before the
  // names take their memory.
  file.drop_pages(0, file.bytes().size());

  FstHierarchyBuilder builder(r, head.layout.is_real.size(), head.layout.vars);
  if (auto e = read_hierarchy(head.layout, builder, control); !e.empty()) return e;
  std::vector<std::uint8_t>().swap(head.layout.hierarchy);
  builder.finish();
  head.handle_ids = std::move(builder.handle_ids());
  head.ids = builder.id_count();
  head.buses = builder.buses();
  head.hidden_ids = builder.hidden_ids();

  r.timestamps = std::move(head.layout.times);
  if (r.timestamps.empty()) r.timestamps.push_back(0);
  return "";
}

std::optional<Index> fst_time_index(const std::vector<Time>& timestamps, Time time) {
  if (timestamps.empty()) return std::nullopt;
  const auto it = std::upper_bound(timestamps.begin(), timestamps.end(), time);
  return it == timestamps.begin() ? 0 : static_cast<Index>(it - timestamps.begin() - 1);
}

void fst_time_indices(const std::vector<Time>& timestamps, std::span<const Time> times, std::vector<Index>& out) {
  out.resize(times.size());
  if (timestamps.empty()) {
    std::fill(out.begin(), out.end(), kNoIndex);
    return;
  }
  // `next` is the first timestamp after the time before: usually the step
  // is that one, or still the one before it.
  const auto begin = timestamps.begin(), end = timestamps.end();
  auto next = begin;
  for (std::size_t i = 0; i < times.size(); ++i) {
    const Time t = times[i];
    const bool after_previous = next == begin || *(next - 1) <= t;
    if (after_previous && next != end && *next <= t && (next + 1 == end || *(next + 1) > t)) ++next;
    else if (!(after_previous && (next == end || *next > t))) next = std::upper_bound(begin, end, t);
    out[i] = next == begin ? 0 : static_cast<Index>(next - begin - 1);
  }
}

bool fst_time_indices_affine(const std::vector<Time>& timestamps, std::span<const Time> times, Index& base) {
  const std::optional<Index> first = times.empty() ? std::nullopt : fst_time_index(timestamps, times[0]);
  if (!first) return false;
  const std::size_t b = static_cast<std::size_t>(*first);
  if (times.size() > timestamps.size() - b) return false;
  // Step i lands on b + i when that timestamp is the last one at or before it.
  for (std::size_t i = 1; i < times.size(); ++i) {
    const std::size_t j = b + i;
    if (timestamps[j] > times[i] || (j + 1 < timestamps.size() && timestamps[j + 1] <= times[i])) return false;
  }
  base = static_cast<Index>(b);
  return true;
}

std::variant<RecordTrace, std::string> FstTrace::from_file(const std::string& path) {
  LoadControl never;
  return from_file(path, never);
}

std::variant<RecordTrace, std::string> FstTrace::from_file(const std::string& path, LoadControl& control,
                                                          LoadReport* report) {
  TraceRecord r;
  std::string error;
  try {
    error = load(path, r, control, report);
  } catch (const std::bad_alloc&) {
    error = "FST open: out of memory";
  }
  if (!error.empty()) return error;
  return RecordTrace(std::move(r));
}

}  // namespace quarn
