#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "signal/types.h"
#include "trace/trace.h"

namespace quarn {

/// Before a query that reads the columns of every selected name: decodes
/// those not decoded yet in one parallel pass (nothing on a trace loaded
/// whole, or once all are decoded).
template <class Selects>
void load_columns_where(const Trace& trace, const Selects& selects) {
  if (trace.all_columns_loaded()) return;
  const std::vector<std::string>& names = trace.signal_names();
  const std::vector<std::optional<SignalId>>& name_ids = trace.name_ids();
  std::vector<SignalId> ids;
  for (std::size_t n = 0; n < names.size(); ++n)
    if (name_ids[n] && selects(names[n])) ids.push_back(*name_ids[n]);
  trace.load_columns(ids);
}

/// Decodes the columns of the named signals (unknown names are passed over)
/// in parallel; returns how many distinct known signals were named.
std::size_t load_signals(const Trace& trace, const std::vector<std::string>& names);

/// The same for every signal whose name `pattern` matches as a glob
/// (`find_signals_glob`) or equals.
std::size_t load_signals_matching(const Trace& trace, std::string_view pattern);

}  // namespace quarn
