#pragma once

#include <cstddef>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "signal/signal_value.h"
#include "signal/types.h"
#include "trace/timescale.h"

namespace quarn {

class Column;

/// How much of a trace's values is decoded: distinct columns decoded, of how
/// many, and the memory they take (bytes).
struct ColumnLoad {
  std::size_t loaded = 0;
  std::size_t total = 0;
  std::size_t bytes = 0;
};

/// Read-only view of a loaded waveform. Implementations are immutable after
/// loading and safe to read from many threads. No operation fails: unknown
/// names, ids and indices give neutral answers (Empty, 0, nullopt). Names
/// carry no bit range ("top.busy"); lookups by name also accept the spelling
/// with one ("top.busy [7:0]", "top.busy[7:0]").
class Trace {
 public:
  virtual ~Trace() = default;

  /// Hierarchical signal names ("top.cpu.clk"), each once, in declaration order.
  virtual const std::vector<std::string>& signal_names() const = 0;
  /// Calls `visit` with each name of `signal_names`, in that order, without
  /// keeping the list where the trace can avoid it: the list of a large
  /// design costs more than the trace's own name table.
  virtual void each_signal_name(const std::function<void(std::string_view)>& visit) const;
  /// Scope paths, each once, in order of first appearance.
  virtual const std::vector<std::string>& scopes() const = 0;
  /// Number of timestamps - 1; 0 when there are none.
  virtual Index max_index() const = 0;
  /// Time at `index`; 0 past the end.
  virtual Time timestamp(Index index) const = 0;
  /// Value of the named signal at `index`; Empty for an unknown name.
  virtual SignalValue signal_value(std::string_view name, Index index) const = 0;
  /// Width of the named signal; for an unknown name 0 (VCD) or 1 (other formats).
  virtual Width signal_width(std::string_view name) const = 0;
  /// Id of the named signal; nullopt when unknown.
  virtual std::optional<SignalId> signal_id(std::string_view name) const = 0;
  /// Values at start .. end-1; one Empty per index for an unknown name.
  virtual std::vector<SignalValue> signal_values_range(std::string_view name, Index start, Index end) const = 0;
  /// Value of signal `id` at `index`, without a name lookup.
  virtual SignalValue signal_value_by_id(SignalId id, Index index) const = 0;

  /// Every timestamp by index, ascending; empty when the trace has none.
  /// Valid as long as the trace.
  virtual std::span<const Time> timestamps() const = 0;
  /// The length of one tick as the file declares it; absent where the format
  /// records none.
  virtual std::optional<Timescale> timescale() const { return std::nullopt; }

  /// Stored values of signal `id` as runs (for sequential walks); null when the
  /// id has no values.
  virtual const Column* column(SignalId id) const = 0;

  // Traces opened lazily decode a column the first time `column` or a value
  // read asks for it; traces loaded whole answer these trivially.

  /// False while some columns are still to be decoded.
  virtual bool all_columns_loaded() const { return true; }
  /// Decodes the columns of `ids` not decoded yet, in parallel on the pool,
  /// before a query that reads them all. Unknown ids are passed over.
  virtual void load_columns(std::span<const SignalId> ids) const { (void)ids; }
  /// Columns of the named signals decoded so far and their memory.
  virtual ColumnLoad column_load() const;
  /// The first failure met while decoding a column ("" when none); such a
  /// column reads as having no values.
  virtual std::string column_error() const { return ""; }

  /// The id of each name of `signal_names`, in that order (nullopt where a
  /// name has none). Made on first use and kept: a query that walks every
  /// name at one index is often asked at every index, and looking each name
  /// up again was most of its time.
  const std::vector<std::optional<SignalId>>& name_ids() const;

 private:
  // Readers hand traces back by value: a copy or move starts without ids and
  // makes its own (they are made from the trace's own names).
  struct NameIds {
    NameIds() = default;
    NameIds(const NameIds&) {}
    NameIds& operator=(const NameIds&) {
      made.store(false);
      ids.clear();
      return *this;
    }
    std::atomic<bool> made{false};
    std::mutex making;
    std::vector<std::optional<SignalId>> ids;
  };
  mutable NameIds name_ids_;
};

}  // namespace quarn
