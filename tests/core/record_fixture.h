#pragma once

// Builds small in-memory traces with exact values of every variant, for the
// query tests.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "eval/changes.h"
#include "signal/signal_value.h"
#include "test_values.h"
#include "trace/trace_record.h"

namespace quarn::testing {

/// One value written at one index, as a reader would store it.
struct Write {
  std::string name;
  Index index;
  SignalValue value;
};

/// A trace with `indices` timestamps (0, 10, 20, ...) whose signals get ids
/// in order of `names`; `aliases` give extra names for earlier ones' ids.
/// Writes are stored, then (when `fill`) every index is forward-filled in
/// order, which is what the non-VCD readers do; without it values stay
/// sparse, with Empty gaps and columns that end early.
inline RecordTrace make_trace(const std::vector<std::string>& names, Index indices, const std::vector<Write>& writes,
                              const std::vector<std::string>& scopes = {},
                              const std::vector<std::pair<std::string, std::string>>& aliases = {},
                              bool fill = true) {
  TraceRecord r;
  for (const std::string& scope : scopes) r.names.list_scope(scope);
  for (Index i = 0; i < indices; ++i) r.timestamps.push_back(i * 10);
  for (SignalId id = 0; id < names.size(); ++id) r.names.add_signal(names[id], id, 1);
  for (const auto& [alias, of] : aliases) r.names.add_signal(alias, r.names.find(of)->id, 1);
  for (const Write& w : writes) r.store.set(r.names.find(w.name)->id, w.index, w.value);
  if (fill)
    for (Index i = 1; i < indices; ++i) r.store.forward_fill(i);
  return RecordTrace(std::move(r));
}

/// A trace with only names (no values, one timestamp).
inline RecordTrace names_only(const std::vector<std::string>& names, const std::vector<std::string>& scopes = {}) {
  return make_trace(names, 1, {}, scopes);
}

inline SignalValue bits(std::uint64_t n) { return SignalValue::bits(n); }
inline SignalValue logic(SignalValue::LogicBits b) { return SignalValue::logic(std::move(b)); }
inline SignalValue real(double d) { return SignalValue::real(d); }
inline SignalValue text(std::string s) { return SignalValue::text(std::move(s)); }
inline SignalValue empty() { return SignalValue::empty(); }

/// "index:old->new" per transition and "name:old->new" per change, so
/// whole answers compare at once and read well when they differ.
inline std::vector<std::string> lines(const std::vector<Transition>& ts) {
  std::vector<std::string> out;
  for (const Transition& t : ts)
    out.push_back(std::to_string(t.index) + ":" + describe(t.old_value) + "->" + describe(t.new_value));
  return out;
}

inline std::vector<std::string> lines(const std::vector<Change>& cs) {
  std::vector<std::string> out;
  for (const Change& c : cs) out.push_back(c.name + ":" + describe(c.old_value) + "->" + describe(c.new_value));
  return out;
}

}  // namespace quarn::testing
