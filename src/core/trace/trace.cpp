#include "trace/trace.h"

#include <unordered_set>

#include "signal/column.h"

namespace quarn {

void Trace::each_signal_name(const std::function<void(std::string_view)>& visit) const {
  for (const std::string& name : signal_names()) visit(name);
}

ColumnLoad Trace::column_load() const {
  ColumnLoad load;
  std::unordered_set<SignalId> seen;
  for (const std::string& name : signal_names()) {
    const auto id = signal_id(name);
    if (!id || !seen.insert(*id).second) continue;
    ++load.total;
    if (const Column* c = column(*id)) load.bytes += c->memory_bytes();
  }
  load.loaded = load.total;
  return load;
}

}  // namespace quarn
