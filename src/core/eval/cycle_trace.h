#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "signal/column.h"
#include "trace/trace.h"

namespace quarn {

enum class ClockEdge { Rise, Fall, Both };

/// Where a cycle reads its signals: just before the edge's time step (what a
/// flop clocked by the edge sees), or at its end.
enum class SampleAt { Before, After };

/// Indices in first .. end-1 at which `clock` has a sampling edge. The clock's
/// level is its least significant bit; a rise is a change to 1 from anything
/// else (0, X, Z, no value), a fall a change to 0 from anything else.
std::vector<Index> clock_edges(const Trace& trace, SignalId clock, ClockEdge edge, Index first, Index end);

/// A trace whose indices are clock cycles: index k is the k-th sampling edge,
/// its timestamp the edge's, and every signal holds its sampled value there.
/// Expressions evaluate on it unchanged, with RelEval counting cycles, so
/// the searches over change runs serve cycles too. Sampled columns are made
/// on first request and kept; requests may come from any thread.
class CycleTrace final : public Trace {
 public:
  CycleTrace(std::shared_ptr<const Trace> base, std::vector<Index> edges, SampleAt sample);

  /// Number of cycles; `max_index` is one less (0 when there are none).
  std::size_t cycle_count() const { return edges_.size(); }
  const std::vector<Index>& edge_indices() const { return edges_; }
  const Trace& base() const { return *base_; }

  const std::vector<std::string>& signal_names() const override { return base_->signal_names(); }
  void each_signal_name(const std::function<void(std::string_view)>& visit) const override {
    base_->each_signal_name(visit);
  }
  const std::vector<std::string>& scopes() const override { return base_->scopes(); }
  Index max_index() const override { return edges_.empty() ? 0 : edges_.size() - 1; }
  Time timestamp(Index cycle) const override;
  SignalValue signal_value(std::string_view name, Index cycle) const override;
  Width signal_width(std::string_view name) const override { return base_->signal_width(name); }
  std::optional<SignalId> signal_id(std::string_view name) const override { return base_->signal_id(name); }
  std::vector<SignalValue> signal_values_range(std::string_view name, Index start, Index end) const override;
  SignalValue signal_value_by_id(SignalId id, Index cycle) const override;
  const Column* column(SignalId id) const override;
  std::span<const Time> timestamps() const override { return times_; }
  std::optional<Timescale> timescale() const override { return base_->timescale(); }

 private:
  std::shared_ptr<const Trace> base_;
  std::vector<Index> edges_;
  std::vector<Time> times_;  // the edges' times
  SampleAt sample_;
  mutable std::mutex mutex_;
  mutable std::unordered_map<SignalId, std::unique_ptr<Column>> columns_;
};

}  // namespace quarn
