#pragma once

#include <string_view>
#include <vector>

#include "signal/types.h"
#include "signal/value_view.h"

namespace quarn {

class Trace;

/// One signal's value in a snapshot. Both views point into the trace and
/// stay valid while it lives.
struct SnapshotEntry {
  std::string_view key;
  ValueView value;
};

/// The value of every named signal at `index` (Empty past the end), keyed by
/// full name, in `signal_names` order; names without an id are left out.
std::vector<SnapshotEntry> snapshot(const Trace& trace, Index index);

/// The signals whose names begin with `scope` + ".", keyed by the rest of the
/// name ("u1.q" for "top.u1.q" under "top"), in `signal_names` order. The
/// empty scope selects names that begin with ".".
std::vector<SnapshotEntry> snapshot_scope(const Trace& trace, Index index, std::string_view scope);

}  // namespace quarn
