#pragma once

#include <string>
#include <vector>

#include "signal/store.h"
#include "signal/types.h"
#include "trace/string_map.h"
#include "trace/trace.h"

namespace quarn {

/// The record that every reader but the VCD reader fills.
struct TraceRecord {
  std::vector<std::string> signal_names;
  std::vector<std::string> scopes;
  std::vector<Time> timestamps;
  SignalStore store;
  StringMap<SignalId> name_to_id;
  StringMap<Width> name_to_width;
  std::optional<Timescale> timescale;
};

/// `Trace` over a `TraceRecord`, shared by the FST and vendor readers.
/// An unknown name has width 1.
class RecordTrace final : public Trace {
 public:
  explicit RecordTrace(TraceRecord record) : r_(std::move(record)) {}

  const std::vector<std::string>& signal_names() const override { return r_.signal_names; }
  const std::vector<std::string>& scopes() const override { return r_.scopes; }
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
/// Shared by all traces: timestamp lookup, 0 past the end.
inline Time timestamp_at(const std::vector<Time>& timestamps, Index index) {
  return index < timestamps.size() ? timestamps[index] : 0;
}

}  // namespace quarn
