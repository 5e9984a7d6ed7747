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
  std::vector<SignalId> ids;
  for (const std::string& name : trace.signal_names())
    if (selects(name))
      if (const auto id = trace.signal_id(name)) ids.push_back(*id);
  trace.load_columns(ids);
}

/// Decodes the columns of the named signals (unknown names are passed over)
/// in parallel; returns how many distinct known signals were named.
std::size_t load_signals(const Trace& trace, const std::vector<std::string>& names);

/// The same for every signal whose name `pattern` matches as a glob
/// (`find_signals_glob`) or equals.
std::size_t load_signals_matching(const Trace& trace, std::string_view pattern);

}  // namespace quarn
