#include "eval/column_loading.h"

#include <algorithm>

#include "eval/name_search.h"

namespace quarn {

namespace {

std::size_t load_ids(const Trace& trace, std::vector<SignalId>& ids) {
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  trace.load_columns(ids);
  return ids.size();
}

}  // namespace

std::size_t load_signals(const Trace& trace, const std::vector<std::string>& names) {
  std::vector<SignalId> ids;
  for (const std::string& name : names)
    if (const auto id = trace.signal_id(name)) ids.push_back(*id);
  return load_ids(trace, ids);
}

std::size_t load_signals_matching(const Trace& trace, std::string_view pattern) {
  std::vector<SignalId> ids;
  for (const std::string& name : trace.signal_names())
    if (name == pattern || glob_match(pattern, name))
      if (const auto id = trace.signal_id(name)) ids.push_back(*id);
  return load_ids(trace, ids);
}

}  // namespace quarn
