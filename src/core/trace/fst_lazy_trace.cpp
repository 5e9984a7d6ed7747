#include "trace/fst_lazy_trace.h"

#include <new>

#include "signal/column.h"
#include "trace/fst_trace.h"

namespace quarn {

std::variant<LazyFstTrace, std::string> LazyFstTrace::open(const std::string& path) {
  LoadControl never;
  return open(path, never);
}

std::variant<LazyFstTrace, std::string> LazyFstTrace::open(const std::string& path, LoadControl& control,
                                                           LoadReport* report) {
  LazyFstTrace t;
  std::string error;
  try {
    FstHead head;
    t.columns_ = std::make_unique<FstLazyColumns>();
    FstLazyColumns& columns = *t.columns_;
    // Each value-change block is read once, by the structure check, which
    // hands it over here. The chains' sizes are not summed: that would read
    // every page.
    const FstBlockVisitor keep = [&](const FstValueBlock& block, std::size_t k, const FstLayout& layout) {
      return columns.add_block(block, k, layout);
    };
    error = read_fst_head(path, t.r_, head, false, control, report, keep);
    if (error.empty()) error = columns.open(head, t.r_.timestamps);
  } catch (const std::bad_alloc&) {
    error = "FST open: out of memory";
  }
  if (!error.empty()) return error;
  return t;
}

SignalValue LazyFstTrace::signal_value(std::string_view name, Index index) const {
  const auto id = signal_id(name);
  return id ? signal_value_by_id(*id, index) : SignalValue::empty();
}

Width LazyFstTrace::signal_width(std::string_view name) const {
  const NameTable::Signal* s = r_.names.find_signal(name);
  return s ? s->width : 1;
}

std::optional<SignalId> LazyFstTrace::signal_id(std::string_view name) const {
  const NameTable::Signal* s = r_.names.find_signal(name);
  if (!s) return std::nullopt;
  return s->id;
}

std::vector<SignalValue> LazyFstTrace::signal_values_range(std::string_view name, Index start, Index end) const {
  std::vector<SignalValue> out;
  if (end <= start) return out;
  const auto id = signal_id(name);
  out.reserve(end - start);
  ColumnCursor cursor(id ? column(*id) : nullptr);
  for (Index i = start; i < end; ++i) out.push_back(to_value(cursor.at(i)));
  return out;
}

SignalValue LazyFstTrace::signal_value_by_id(SignalId id, Index index) const {
  const Column* c = column(id);
  return c ? c->get(index) : SignalValue::empty();
}

}  // namespace quarn
