#include "trace/fst_trace.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "fstapi.h"
#include "trace/fst_file.h"
#include "trace/fst_guard.h"
#include "trace/fst_hierarchy.h"
#include "trace/fst_validate.h"
#include "trace/fst_values.h"

namespace quarn {

namespace {

constexpr Index kNoIndex = std::numeric_limits<Index>::max();

bool is_real_type(unsigned char t) {
  return t == FST_VT_VCD_REAL || t == FST_VT_VCD_REAL_PARAMETER || t == FST_VT_VCD_REALTIME ||
         t == FST_VT_SV_SHORTREAL;
}

/// Owns the library's reader context; closes it on every path.
class FstReaderHandle {
 public:
  ~FstReaderHandle() { quarn_fst_close(ctx_); }
  void*& get() { return ctx_; }

 private:
  void* ctx_ = nullptr;
};

/// Receives value changes from the library and stores them. The library
/// hands them over time-major across all signals; they are gathered in
/// batches and stored signal by signal, so each column is written while it
/// is in cache rather than once per change all over memory.
class ValueLoader {
 public:
  ValueLoader(TraceRecord& r, const FstLayout& layout, const std::vector<SignalId>& handle_ids, SignalId ids)
      : r_(r), layout_(layout), handle_ids_(handle_ids), last_index_(ids, kNoIndex), last_empty_(ids, 0),
        id_starts_(ids + 1, 0) {
    r_.store.reserve_ids(ids);
  }

  static void on_value(void* user, std::uint64_t time, std::uint32_t handle, const unsigned char* value) {
    static_cast<ValueLoader*>(user)->change(time, handle, value, 0, false);
  }
  static void on_varlen(void* user, std::uint64_t time, std::uint32_t handle, const unsigned char* value,
                        std::uint32_t len) {
    static_cast<ValueLoader*>(user)->change(time, handle, value, len, true);
  }

  /// Stores what is still gathered, applies the fill rule to each signal's
  /// last change and holds every value to the last index.
  void finish() {
    flush();
    for (SignalId id = 0; id < last_index_.size(); ++id)
      if (last_index_[id] != kNoIndex) settle(r_.store.column_for_write(id), id, last_index_[id]);
    if (!r_.timestamps.empty()) r_.store.hold_through(r_.timestamps.size() - 1);
    r_.store.shrink_to_fit();
  }
  bool out_of_memory() const { return out_of_memory_; }

 private:
  /// One gathered change; heap values keep their bytes in `bytes_`.
  struct Pending {
    SignalId id;
    Index index;
    std::uint64_t scalar;
    std::uint32_t offset;
    std::uint32_t size;  // elements, as in ValueView
    ValueTag tag;
  };
  static_assert(sizeof(Pending) == 40);
  static constexpr std::size_t kBatch = std::size_t{1} << 16;
  static constexpr std::size_t kBatchBytes = std::size_t{1} << 22;

  void change(std::uint64_t time, std::uint32_t handle, const unsigned char* value, std::uint32_t len,
              bool varlen) noexcept {
    if (out_of_memory_ || handle == 0 || handle > handle_ids_.size()) return;
    const SignalId id = handle_ids_[handle - 1];
    if (id == FstHierarchyBuilder::kNoId) return;
    if (time != cur_time_) locate(time);
    if (cur_index_ == kNoIndex) return;
    ValueView v;
    const auto* text = reinterpret_cast<const char*>(value);
    if (varlen) {
      v = fst_text_view(std::string_view(text, len), scratch_);
    } else if (layout_.is_real[handle - 1]) {
      double d;
      std::memcpy(&d, value, sizeof d);  // may be unaligned
      v = ValueView::real(d);
    } else {
      // Fixed-width values always come with exactly this many characters.
      v = fst_value_view(std::string_view(text, layout_.value_chars[handle - 1]), scratch_);
    }
    try {
      gather(id, cur_index_, v);
    } catch (const std::bad_alloc&) {
      out_of_memory_ = true;  // must not unwind through the library's C frames
    }
  }

  void gather(SignalId id, Index index, const ValueView& v) {
    Pending p{id, index, v.scalar, 0, static_cast<std::uint32_t>(v.size), v.tag};
    if (v.data) {
      const auto* b = static_cast<const std::uint8_t*>(v.data);
      p.offset = static_cast<std::uint32_t>(bytes_.size());
      bytes_.insert(bytes_.end(), b, b + v.byte_size());
    }
    pending_.push_back(p);
    if (pending_.size() >= kBatch || bytes_.size() >= kBatchBytes) flush();
  }

  // Stable counting sort by id keeps each signal's changes in time order. The
  // scatter writes each signal's run in sequence, which caches far better
  // than reading the batch in signal order through an index.
  void flush() {
    if (pending_.empty()) return;
    std::fill(id_starts_.begin(), id_starts_.end(), 0);
    for (const Pending& p : pending_) ++id_starts_[p.id + 1];
    for (std::size_t i = 1; i < id_starts_.size(); ++i) id_starts_[i] += id_starts_[i - 1];
    sorted_.resize(pending_.size());
    for (const Pending& p : pending_) sorted_[id_starts_[p.id]++] = p;
    Column* column = nullptr;
    SignalId column_id = FstHierarchyBuilder::kNoId;
    for (const Pending& p : sorted_) {
      ValueView v{p.tag, p.scalar, nullptr, p.size};
      if (p.tag == ValueTag::WideBits || p.tag == ValueTag::Logic || p.tag == ValueTag::Text)
        v.data = bytes_.data() + p.offset;
      if (p.id != column_id) column = &r_.store.column_for_write(column_id = p.id);
      store(*column, p.id, p.index, v);
    }
    pending_.clear();
    bytes_.clear();
  }

  void locate(Time time) {
    cur_time_ = time;
    cur_index_ = fst_time_index(r_.timestamps, time).value_or(kNoIndex);
  }

  // Stores changes as they come (time order) and applies the load-then-fill
  // rule per signal: a position whose final value is Empty takes the value
  // before it; skipped positions hold the last value.
  void store(Column& c, SignalId id, Index index, const ValueView& v) {
    Index& last = last_index_[id];
    if (last == kNoIndex || index > last) {
      if (last != kNoIndex) settle(c, id, last);
      c.record_change(index, v);
      last = index;
      last_empty_[id] = v.tag == ValueTag::Empty;
    } else {
      c.set(index, v);  // same step again: the later change wins
      if (index == last) last_empty_[id] = v.tag == ValueTag::Empty;
    }
  }

  void settle(Column& c, SignalId id, Index index) {
    if (!last_empty_[id] || index == 0) return;
    const SignalValue before = c.get(index - 1);  // a copy: set may move c's bytes
    if (!before.is_empty()) c.set(index, view_of(before));
  }

  TraceRecord& r_;
  const FstLayout& layout_;
  const std::vector<SignalId>& handle_ids_;
  std::vector<Index> last_index_;
  std::vector<std::uint8_t> last_empty_;
  Time cur_time_ = std::numeric_limits<Time>::max();
  Index cur_index_ = kNoIndex;
  FstValueScratch scratch_;
  std::vector<Pending> pending_;
  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint32_t> id_starts_;
  std::vector<Pending> sorted_;
  bool out_of_memory_ = false;
};

std::string read_hierarchy(void* ctx, const FstLayout& layout, FstHierarchyBuilder& builder) {
  int ok = 0;
  if (!quarn_fst_hier_rewind(ctx, &ok) || !ok) return "FST hierarchy: cannot read the hierarchy";
  for (;;) {
    fstHier* h = nullptr;
    if (!quarn_fst_hier_next(ctx, &h)) return "FST hierarchy: corrupt hierarchy data";
    if (!h) return "";
    // Names point into a buffer the next call overwrites; the builder copies.
    switch (h->htyp) {
      case FST_HT_SCOPE: builder.scope(std::string_view(h->u.scope.name, h->u.scope.name_length)); break;
      case FST_HT_UPSCOPE: builder.upscope(); break;
      case FST_HT_VAR: {
        const std::uint32_t handle = h->u.var.handle;
        const bool real = is_real_type(h->u.var.typ) ||
                          (handle && handle <= layout.is_real.size() && layout.is_real[handle - 1]);
        builder.var(std::string_view(h->u.var.name, h->u.var.name_length), real ? 64 : h->u.var.length, handle);
        break;
      }
      default: break;  // attributes and the like carry nothing we keep
    }
  }
}

std::string load(const std::string& path, TraceRecord& r) {
  FstFile file;
  if (auto e = file.open(path); !e.empty()) return e;
  FstLayout layout;
  if (auto e = check_fst_image(file.bytes(), layout); !e.empty()) return e;
  file.release_bytes();

  FstReaderHandle reader;
  if (!quarn_fst_open(file.library_path().c_str(), &reader.get())) return "FST open: corrupt geometry data";
  if (!reader.get()) return "FST open: the FST library could not read the file";

  FstHierarchyBuilder builder(r, layout.is_real.size());
  if (auto e = read_hierarchy(reader.get(), layout, builder); !e.empty()) return e;

  r.timestamps = std::move(layout.times);
  if (r.timestamps.empty()) r.timestamps.push_back(0);

  ValueLoader loader(r, layout, builder.handle_ids(), builder.id_count());
  int ok = 0;
  if (!quarn_fst_iter_blocks(reader.get(), &ValueLoader::on_value, &ValueLoader::on_varlen, &loader, &ok))
    return "FST signals: corrupt value change data";
  if (loader.out_of_memory()) return "FST signals: out of memory";
  if (!ok) return "FST signals: cannot read the value changes";
  loader.finish();
  return "";
}

}  // namespace

std::optional<Index> fst_time_index(const std::vector<Time>& timestamps, Time time) {
  if (timestamps.empty()) return std::nullopt;
  const auto it = std::upper_bound(timestamps.begin(), timestamps.end(), time);
  return it == timestamps.begin() ? 0 : static_cast<Index>(it - timestamps.begin() - 1);
}

std::variant<RecordTrace, std::string> FstTrace::from_file(const std::string& path) {
  TraceRecord r;
  std::string error;
  try {
    error = load(path, r);
  } catch (const std::bad_alloc&) {
    error = "FST open: out of memory";
  }
  if (!error.empty()) return error;
  return RecordTrace(std::move(r));
}

}  // namespace quarn
