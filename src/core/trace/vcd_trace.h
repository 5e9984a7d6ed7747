#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "signal/store.h"
#include "signal/types.h"
#include "trace/code_table.h"
#include "trace/timescale.h"
#include "trace/name_table.h"
#include "trace/trace.h"

namespace quarn {

/// A trace read from VCD text. An unknown name has width 0.
class VcdTrace final : public Trace {
 public:
  struct Record {
    NameTable names;  // signal names with their ids and widths, and scopes
    std::vector<Time> timestamps;
    CodeTable codes;
    SignalStore store;
    std::uint64_t id_count = 0;
    std::optional<Timescale> timescale;  // as `$timescale` declares it
  };

  explicit VcdTrace(Record record) : r_(std::move(record)) {}

  /// Reads VCD text held in memory; never fails (text that is not VCD gives
  /// an empty trace). `read_vcd_text` also tells what it skipped.
  static VcdTrace parse(std::string_view text);
  /// Streams a VCD file: `read_vcd_file` without the diagnostics.
  static std::variant<VcdTrace, std::string> from_file(const std::string& path);

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

  const Record& record() const { return r_; }

 private:
  const NameTable::Signal* find_var(std::string_view name) const { return r_.names.find_signal(name); }
  Record r_;
};

}  // namespace quarn
