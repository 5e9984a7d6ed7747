#include "trace/vcd_trace.h"

#include "trace/trace_record.h"
#include "trace/vcd_reader.h"

namespace quarn {

VcdTrace VcdTrace::parse(std::string_view text) {
  auto loaded = read_vcd_text(text);
  if (auto* load = std::get_if<VcdLoad>(&loaded)) return std::move(load->trace);
  return VcdTrace(Record{});
}

std::variant<VcdTrace, std::string> VcdTrace::from_file(const std::string& path) {
  auto loaded = read_vcd_file(path);
  if (auto* load = std::get_if<VcdLoad>(&loaded)) return std::move(load->trace);
  return std::get<std::string>(std::move(loaded));
}

Index VcdTrace::max_index() const { return max_index_of(r_.timestamps); }

Time VcdTrace::timestamp(Index index) const { return timestamp_at(r_.timestamps, index); }

SignalValue VcdTrace::signal_value(std::string_view name, Index index) const {
  const NameTable::Signal* v = find_var(name);
  return v ? r_.store.get(v->id, index) : SignalValue::empty();
}

Width VcdTrace::signal_width(std::string_view name) const {
  const NameTable::Signal* v = find_var(name);
  return v ? v->width : 0;
}

std::optional<SignalId> VcdTrace::signal_id(std::string_view name) const {
  const NameTable::Signal* v = find_var(name);
  if (!v) return std::nullopt;
  return v->id;
}

std::vector<SignalValue> VcdTrace::signal_values_range(std::string_view name, Index start, Index end) const {
  const NameTable::Signal* v = find_var(name);
  // An unknown name reads like an id without a column: all Empty.
  return r_.store.get_range(v ? v->id : ~SignalId{0}, start, end);
}

SignalValue VcdTrace::signal_value_by_id(SignalId id, Index index) const { return r_.store.get(id, index); }

}  // namespace quarn
