// libFuzzer target for the VCD reader. Whatever the input, a load either
// fails with one message or gives a trace whose answers hang together: names
// resolve, times never go back, every value reads back at its width, and a
// reported diagnostic has a place.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "signal/value_bits.h"
#include "trace/vcd_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto loaded = quarn::read_vcd_text(std::string_view(reinterpret_cast<const char*>(data), size));
  if (std::holds_alternative<std::string>(loaded)) return 0;
  const auto& load = std::get<quarn::VcdLoad>(loaded);
  const auto& d = load.diagnostics;
  if (d.count && (d.line == 0 || d.column == 0 || d.message.empty())) std::abort();
  const quarn::VcdTrace& t = load.trace;
  const auto& times = t.record().timestamps;
  for (std::size_t i = 1; i < times.size(); ++i)
    if (times[i] < times[i - 1]) std::abort();
  for (const std::string& name : t.signal_names()) {
    const auto id = t.signal_id(name);
    const quarn::Width width = t.signal_width(name);
    if (!id) std::abort();
    for (quarn::Index i = 0; i <= t.max_index(); ++i) {
      const quarn::SignalValue v = t.signal_value(name, i);
      if (!(t.signal_value_by_id(*id, i) == v) && v.tag() != quarn::ValueTag::Real) std::abort();
      const std::string bits = quarn::value_bits(v, width);
      if (!bits.empty() && bits.size() != width) std::abort();
    }
  }
  return 0;
}
