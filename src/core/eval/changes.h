#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "signal/signal_value.h"
#include "signal/types.h"
#include "signal/value_view.h"

namespace quarn {

class Trace;

/// A signal whose value at an index differs from its value at the index before.
struct Change {
  std::string name;
  SignalValue old_value;  ///< at index - 1
  SignalValue new_value;  ///< at index
};

/// One change of one signal over the trace.
struct Transition {
  Index index = 0;
  SignalValue old_value;  ///< at index - 1
  SignalValue new_value;  ///< at index
};

/// Every named signal whose value at `index` differs from that at index - 1
/// (value equality: different variants always differ, a NaN differs from
/// itself), in `signal_names` order. Empty at index 0. An index past the end
/// is not refused: whatever the trace reads there is compared. Names are
/// checked in parallel on the process-wide pool.
std::vector<Change> changed_at(const Trace& trace, Index index);

/// `changed_at` restricted to names that begin with `scope` + "." (any depth
/// below the scope; the scope itself need not be listed by the trace).
std::vector<Change> changed_at_scope(const Trace& trace, Index index, std::string_view scope);

/// Every index 1 .. max_index at which the named signal's value differs from
/// the value before, ascending. Empty for an unknown name or a trace with at
/// most one index. Works from the stored runs: cost grows with the changes.
std::vector<Transition> transitions(const Trace& trace, std::string_view name);

/// `transitions` one at a time, with no list of them held: calls
/// `visit(index, old, new)` for each in order (the views valid during the
/// call) until it returns false. Returns false when `visit` stopped it.
bool for_each_transition(const Trace& trace, std::string_view name,
                         const std::function<bool(Index, const ValueView&, const ValueView&)>& visit);

}  // namespace quarn
