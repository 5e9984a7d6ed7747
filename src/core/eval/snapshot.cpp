#include "eval/snapshot.h"

#include <string>

#include "eval/column_loading.h"
#include "eval/segments.h"
#include "signal/column.h"
#include "trace/trace.h"

namespace quarn {

namespace {

// Names per stage: reading many columns in a few short, independent steps
// lets their cache misses overlap.
constexpr std::size_t kProbes = 32;

struct Probe {
  std::string_view key;
  const Column* column;  // null when the value is Empty
  std::size_t run;
  Index guess_start;
};

// Keys are the names with their first `cut` bytes dropped.
template <class Selects>
std::vector<SnapshotEntry> collect(const Trace& trace, Index index, std::size_t cut, const Selects& selects) {
  load_columns_where(trace, selects);
  std::vector<SnapshotEntry> out;
  const std::vector<std::string>& names = trace.signal_names();
  const std::vector<std::optional<SignalId>>& ids = trace.name_ids();
  out.reserve(names.size());
  Probe probes[kProbes];
  for (std::size_t n = 0; n < names.size();) {
    std::size_t count = 0;
    for (; n < names.size() && count < kProbes; ++n) {
      const std::string& name = names[n];
      if (!selects(name)) continue;
      const auto id = ids[n];
      if (!id) continue;
      const Column* column = trace.column(*id);
      if (column != nullptr && index >= column->length()) column = nullptr;
      probes[count++] = Probe{std::string_view(name).substr(cut), column, 0, 0};
    }
    for (std::size_t p = 0; p < count; ++p) {
      Probe& pr = probes[p];
      if (pr.column == nullptr) continue;
      pr.run = guess_run(*pr.column, index);
      pr.guess_start = pr.column->run_start(pr.run);
    }
    for (std::size_t p = 0; p < count; ++p) {
      const Probe& pr = probes[p];
      ValueView v;
      if (pr.column != nullptr) v = pr.column->run_value(find_run_from(*pr.column, index, pr.run, pr.guess_start));
      out.push_back({pr.key, v});
    }
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
