#include "trace/trace.h"

#include <unordered_set>

#include "signal/column.h"

namespace quarn {

void Trace::each_signal_name(const std::function<void(std::string_view)>& visit) const {
  for (const std::string& name : signal_names()) visit(name);
}

const std::vector<std::optional<SignalId>>& Trace::name_ids() const {
  NameIds& cache = name_ids_;
  if (!cache.made.load(std::memory_order_acquire)) {
    const std::lock_guard<std::mutex> hold(cache.making);
    if (!cache.made.load(std::memory_order_relaxed)) {
      const std::vector<std::string>& names = signal_names();
      cache.ids.reserve(names.size());
      for (const std::string& name : names) cache.ids.push_back(signal_id(name));
      cache.made.store(true, std::memory_order_release);
    }
  }
  return cache.ids;
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
