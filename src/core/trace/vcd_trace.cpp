#include "trace/vcd_trace.h"

#include "trace/line_reader.h"
#include "trace/name_alias.h"
#include "trace/text_scan.h"
#include "trace/trace_record.h"
#include "trace/vcd_builder.h"
#include "trace/vcd_line_parser.h"

namespace quarn {

VcdTrace VcdTrace::parse(std::string_view text) {
  VcdBuilder builder;
  const bool ascii = is_ascii(text);
  for_each_line(text, [&](std::string_view line) { parse_vcd_line(line, builder, ascii); });
  return VcdTrace(builder.finish());
}

std::variant<VcdTrace, std::string> VcdTrace::from_file(const std::string& path) {
  VcdBuilder builder;
  LineReader reader;
  std::string error =
      reader.read_file(path, [&](std::string_view line) { parse_vcd_line(line, builder, reader.ascii()); });
  if (!error.empty()) return error;
  return VcdTrace(builder.finish());
}

const VcdVar* VcdTrace::find_var(std::string_view name) const {
  auto it = find_signal_name(r_.vars, name, [](auto v) { return v->second.width; });
  return it == r_.vars.end() ? nullptr : &it->second;
}

Index VcdTrace::max_index() const { return max_index_of(r_.timestamps); }

Time VcdTrace::timestamp(Index index) const { return timestamp_at(r_.timestamps, index); }

SignalValue VcdTrace::signal_value(std::string_view name, Index index) const {
  const VcdVar* v = find_var(name);
  return v ? r_.store.get(v->id, index) : SignalValue::empty();
}

Width VcdTrace::signal_width(std::string_view name) const {
  const VcdVar* v = find_var(name);
  return v ? v->width : 0;
}

std::optional<SignalId> VcdTrace::signal_id(std::string_view name) const {
  const VcdVar* v = find_var(name);
  if (!v) return std::nullopt;
  return v->id;
}

std::vector<SignalValue> VcdTrace::signal_values_range(std::string_view name, Index start, Index end) const {
  const VcdVar* v = find_var(name);
  // An unknown name reads like an id without a column: all Empty.
  return r_.store.get_range(v ? v->id : ~SignalId{0}, start, end);
}

SignalValue VcdTrace::signal_value_by_id(SignalId id, Index index) const { return r_.store.get(id, index); }

}  // namespace quarn
