#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "signal/store.h"
#include "signal/types.h"
#include "trace/name_table.h"
#include "trace/trace.h"

namespace quarn {

/// The record that every reader but the VCD reader fills.
struct TraceRecord {
  NameTable names;  // signal names with their ids and widths, and scopes
  std::vector<Time> timestamps;
  SignalStore store;
  std::optional<Timescale> timescale;
};

/// `Trace` over a `TraceRecord`, shared by the FST and vendor readers.
/// An unknown name has width 1.
class RecordTrace final : public Trace {
 public:
  explicit RecordTrace(TraceRecord record) : r_(std::move(record)) {}

  const std::vector<std::string>& signal_names() const override { return r_.names.names(); }
  void each_signal_name(const std::function<void(std::string_view)>& visit) const override {
    r_.names.each_name(visit);
  }
  const std::vector<std::string>& scopes() const override { return r_.names.scopes(); }
  Index max_index() const override;
  Time timestamp(Index index) const override;
  SignalValue signal_value(std::string_view name, Index index) const override;
  Width signal_width(std::string_view name) const override;
  std::optional<SignalId> signal_id(std::string_view name) const override;
  std::vector<SignalValue> signal_values_range(std::string_view name, Index start, Index end) const override;
  SignalValue signal_value_by_id(SignalId id, Index index) const override;
  const Column* column(SignalId id) const override { return r_.store.column(id); }
  std::span<const Time> timestamps() const override { return r_.timestamps; }
  std::optional<Timescale> timescale() const override { return r_.timescale; }

  const TraceRecord& record() const { return r_; }

 private:
  TraceRecord r_;
};

/// Shared by all traces: max_index of a timestamp list.
inline Index max_index_of(const std::vector<Time>& timestamps) {
  return timestamps.empty() ? 0 : timestamps.size() - 1;
}
/// Shared by all traces: the end of a range start .. end-1 cut at the last
/// index, so that no reader allocates for indices the trace does not have.
inline Index range_end_within(Index max_index, Index start, Index end) {
  const Index last = max_index + 1;
  return std::max(start, std::min(end, last));
}
/// Shared by all traces: timestamp lookup, 0 past the end.
inline Time timestamp_at(const std::vector<Time>& timestamps, Index index) {
  return index < timestamps.size() ? timestamps[index] : 0;
}

}  // namespace quarn
