#include "eval/snapshot.h"

#include <string>

#include "eval/segments.h"
#include "signal/column.h"
#include "trace/trace.h"

namespace quarn {

namespace {

// Keys are the names with their first `cut` bytes dropped.
template <class Selects>
std::vector<SnapshotEntry> collect(const Trace& trace, Index index, std::size_t cut, const Selects& selects) {
  std::vector<SnapshotEntry> out;
  const std::vector<std::string>& names = trace.signal_names();
  out.reserve(names.size());
  for (const std::string& name : names) {
    if (!selects(name)) continue;
    const auto id = trace.signal_id(name);
    if (!id) continue;
    const Column* column = trace.column(*id);
    const bool stored = column != nullptr && index < column->length();
    out.push_back({std::string_view(name).substr(cut),
                   stored ? column->run_value(find_run(*column, index)) : ValueView::empty()});
  }
  return out;
}

}  // namespace

std::vector<SnapshotEntry> snapshot(const Trace& trace, Index index) {
  return collect(trace, index, 0, [](const std::string&) { return true; });
}

std::vector<SnapshotEntry> snapshot_scope(const Trace& trace, Index index, std::string_view scope) {
  std::string prefix(scope);
  prefix.push_back('.');
  return collect(trace, index, prefix.size(), [&](const std::string& name) { return name.starts_with(prefix); });
}

}  // namespace quarn
