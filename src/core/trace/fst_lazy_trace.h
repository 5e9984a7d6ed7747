#pragma once

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "trace/fst_lazy_columns.h"
#include "trace/load_control.h"
#include "trace/load_report.h"
#include "trace/trace.h"
#include "trace/trace_record.h"

namespace quarn {

/// An FST trace whose columns are decoded on first touch. Opening reads the
/// hierarchy, the time table and each value-change block's chain index; a
/// signal's values are decoded the first time a query reads them (any
/// thread), once. Every answer equals `FstTrace::from_file`'s. The file stays
/// open, by descriptor, for the trace's life.
class LazyFstTrace final : public Trace {
 public:
  /// Opens `path`; fails with the messages of `FstTrace::from_file` for a file
  /// it cannot open or whose structure is corrupt. A corrupt value chain is
  /// found only when its signal is decoded (see `column_error`).
  static std::variant<LazyFstTrace, std::string> open(const std::string& path);
  /// The same, stoppable: fails with kLoadInterrupted once `control` says
  /// stop; header counts that disagree with the blocks go to `report`.
  static std::variant<LazyFstTrace, std::string> open(const std::string& path, LoadControl& control,
                                                      LoadReport* report = nullptr);

  const std::vector<std::string>& signal_names() const override { return r_.names.names(); }
  void each_signal_name(const std::function<void(std::string_view)>& visit) const override {
    r_.names.each_name(visit);
  }
  const std::vector<std::string>& scopes() const override { return r_.names.scopes(); }
  Index max_index() const override { return max_index_of(r_.timestamps); }
  Time timestamp(Index index) const override { return timestamp_at(r_.timestamps, index); }
  SignalValue signal_value(std::string_view name, Index index) const override;
  Width signal_width(std::string_view name) const override;
  std::optional<SignalId> signal_id(std::string_view name) const override;
  std::vector<SignalValue> signal_values_range(std::string_view name, Index start, Index end) const override;
  SignalValue signal_value_by_id(SignalId id, Index index) const override;
  std::span<const Time> timestamps() const override { return r_.timestamps; }
  std::optional<Timescale> timescale() const override { return r_.timescale; }
  const Column* column(SignalId id) const override { return columns_->get(id); }

  bool all_columns_loaded() const override { return columns_->all_loaded(); }
  void load_columns(std::span<const SignalId> ids) const override { columns_->load(ids); }
  ColumnLoad column_load() const override { return columns_->usage(); }
  std::string column_error() const override { return columns_->error(); }

  const std::vector<Time>& record_timestamps() const { return r_.timestamps; }
  /// Memory held before any column is decoded: names and maps aside, the
  /// chain indexes and the first block's initial values (bytes).
  std::size_t index_bytes() const { return columns_->index_bytes(); }

 private:
  LazyFstTrace() = default;

  TraceRecord r_;  // its store stays empty
  std::unique_ptr<FstLazyColumns> columns_;
};

}  // namespace quarn
