#include "trace/trace_record.h"


namespace quarn {

Index RecordTrace::max_index() const { return max_index_of(r_.timestamps); }

Time RecordTrace::timestamp(Index index) const { return timestamp_at(r_.timestamps, index); }

SignalValue RecordTrace::signal_value(std::string_view name, Index index) const {
  const auto id = signal_id(name);
  return id ? r_.store.get(*id, index) : SignalValue::empty();
}

Width RecordTrace::signal_width(std::string_view name) const {
  const NameTable::Signal* s = r_.names.find_signal(name);
  return s ? s->width : 1;
}

std::optional<SignalId> RecordTrace::signal_id(std::string_view name) const {
  const NameTable::Signal* s = r_.names.find_signal(name);
  if (!s) return std::nullopt;
  return s->id;
}

std::vector<SignalValue> RecordTrace::signal_values_range(std::string_view name, Index start, Index end) const {
  end = range_end_within(max_index(), start, end);
  const auto id = signal_id(name);
  if (!id) return std::vector<SignalValue>(end > start ? end - start : 0);
  return r_.store.get_range(*id, start, end);
}

SignalValue RecordTrace::signal_value_by_id(SignalId id, Index index) const { return r_.store.get(id, index); }

}  // namespace quarn
