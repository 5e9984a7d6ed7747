#include "trace/fst_trace.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "fstapi.h"
#include "signal/change_log.h"
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
/// hands them over time-major across all signals; each signal's changes go
/// to its own compact log (one cache line per change) and its column is built
/// from the log at the end, one signal at a time. String signals, the only
/// ones that can change to Empty, are stored directly, because the fill rule
/// for Empty looks at the value before.
class ValueLoader {
 public:
  ValueLoader(TraceRecord& r, const FstLayout& layout, const std::vector<SignalId>& handle_ids, SignalId ids)
      : r_(r), layout_(layout), handle_ids_(handle_ids), last_index_(ids, kNoIndex), last_empty_(ids, 0),
        logs_(ids) {
    r_.store.reserve_ids(ids);
  }

  static void on_value(void* user, std::uint64_t time, std::uint32_t handle, const unsigned char* value) {
    static_cast<ValueLoader*>(user)->change(time, handle, value, 0, false);
  }
  static void on_varlen(void* user, std::uint64_t time, std::uint32_t handle, const unsigned char* value,
                        std::uint32_t len) {
    static_cast<ValueLoader*>(user)->change(time, handle, value, len, true);
  }

  /// Builds the logged columns, applies the fill rule to each string
  /// signal's last change and holds every value to the last index.
  void finish() {
    for (SignalId id = 0; id < logs_.size(); ++id) {
      if (logs_[id].empty()) continue;
      logs_[id].replay_into(r_.store.column_for_write(id));
      logs_[id].release();
    }
    for (SignalId id = 0; id < last_index_.size(); ++id)
      if (last_index_[id] != kNoIndex && last_empty_[id]) settle(r_.store.column_for_write(id), id, last_index_[id]);
    if (!r_.timestamps.empty()) r_.store.hold_through(r_.timestamps.size() - 1);
    r_.store.shrink_to_fit();
  }
  bool out_of_memory() const { return out_of_memory_; }

 private:
  void change(std::uint64_t time, std::uint32_t handle, const unsigned char* value, std::uint32_t len,
              bool varlen) noexcept {
    if (out_of_memory_ || handle == 0 || handle > handle_ids_.size()) return;
    const SignalId id = handle_ids_[handle - 1];
    if (id == FstHierarchyBuilder::kNoId) return;
    if (time != cur_time_) locate(time);
    if (cur_index_ == kNoIndex) return;
    const auto* text = reinterpret_cast<const char*>(value);
    try {
      if (varlen) {
        store(r_.store.column_for_write(id), id, cur_index_, fst_text_view(std::string_view(text, len), scratch_));
        return;
      }
      ValueView v;
      if (layout_.is_real[handle - 1]) {
        double d;
        std::memcpy(&d, value, sizeof d);  // may be unaligned
        v = ValueView::real(d);
      } else {
        // Fixed-width values always come with exactly this many characters
        // (at least one), so they are never Empty.
        v = fst_value_view(std::string_view(text, layout_.value_chars[handle - 1]), scratch_);
      }
      Index& last = last_index_[id];
      if (last != kNoIndex && cur_index_ < last) return;  // time order is the library's promise
      last = cur_index_;
      logs_[id].append(cur_index_, v);
    } catch (const std::bad_alloc&) {
      out_of_memory_ = true;  // must not unwind through the library's C frames
    }
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
  std::vector<ChangeLog> logs_;
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
