#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "signal/bitpack.h"
#include "signal/change_log.h"
#include "signal/change_stage.h"
#include "signal/log_arena.h"
#include "signal/types.h"
#include "trace/code_table.h"
#include "trace/load_diagnostics.h"
#include "trace/vcd_parser.h"

namespace quarn {

class Column;

/// How a variable's value changes are read.
enum class VcdKind : std::uint8_t { Plain, Event, String };

/// A variable as its value changes need it. An event counts its triggers in
/// slot `event` of the trigger counts.
struct VcdSignal {
  Width width = 1;
  VcdKind kind = VcdKind::Plain;
  std::uint32_t event = 0;
};

/// A variable kept by the slot of its code in `CodeTable`'s flat array, so
/// that one lookup per change finds its id and how its changes are read.
struct VcdCoded {
  std::uint32_t id_plus1 = 0;  // 0: no code in this slot
  VcdSignal signal;
};
static_assert(sizeof(VcdCoded) == 16);

/// Sink of `VcdParser` for value changes: logs each signal's changes (see
/// `ChangeLog`) against declarations read before. It holds either a whole
/// load's changes or one chunk of the value-change section parsed apart,
/// whose indices count from the chunk's first timestamp until `absorb`
/// places it after the changes before it.
///
/// Event variables store Bits(n), n the number of triggers so far, so each
/// trigger is a change even when the writer repeats "1". Scalar x, z, u, w,
/// l, h and - store Logic, as vectors holding them do. Changes before the
/// first timestamp belong to time 0: when the first timestamp is later,
/// index 0 is added for them.
class VcdBody {
 public:
  /// `coded` holds the variables whose codes have a slot in `codes`' flat
  /// array (id below 2^32 - 2), by slot; `signals` every variable, by id.
  VcdBody(const CodeTable& codes, const std::vector<VcdSignal>& signals, const std::vector<VcdCoded>& coded)
      : codes_(codes), signals_(signals), coded_(coded) {}

  /// How changes reach the logs: `capacity` changes staged at a time (see
  /// `ChangeStage`); 0 stages only when there are many signals; `kNoStage`
  /// never. Before any declaration.
  void stage_changes(std::size_t capacity) { stage_setting_ = capacity; }
  static constexpr std::size_t kNoStage = ~std::size_t{0};

  /// A signal (and, when an event, its trigger count) was declared.
  void declared();
  /// A body for a chunk of the value changes: same declarations, nothing
  /// logged.
  VcdBody fresh() const;

  // Declarations met among the value changes of a chunk: only a reader
  // going through the whole input in order can take them.
  void scope(std::string_view) { foreign_ = true; }
  void upscope() { foreign_ = true; }
  void var(const VcdDecl&) { foreign_ = true; }
  void end_definitions() { foreign_ = true; }
  void timescale(std::string_view) { foreign_ = true; }

  /// Ignores changes up to the next timestamp (one that could not be read).
  void drop_changes() { skipping_ = true, usual_ = false; }
  VcdStatus timestamp(Time time, std::string_view token, std::uint64_t offset);
  VcdStatus scalar(char value, std::string_view code);
  VcdStatus vector(std::string_view digits, std::string_view code);
  VcdStatus real(double value, std::string_view code);
  VcdStatus text(std::string_view text, std::string_view code);

  /// A chunk needs the whole input read in order: it declared something, or
  /// it had changes before its first timestamp.
  bool foreign() const { return foreign_ || early_values_; }

  /// Places `chunk`, parsed from the bytes right after this body's, after
  /// this body's changes, as reading on would have: its timestamps below this
  /// body's last are dropped with their changes (and reported), its event
  /// counts go on from this body's. `chunk_diagnostics` are the chunk's own;
  /// both go to `diagnostics` in input order.
  void absorb(VcdBody&& chunk, const LoadDiagnostics& chunk_diagnostics, LoadDiagnostics& diagnostics);

  /// Moves the changes still staged into their logs and frees the staging
  /// memory: the body's input is all parsed. `absorb` and `finish_times` do
  /// it themselves.
  void settle();
  /// Copies each log into one block no larger than it needs and frees the
  /// blocks it grew in: the body's input is all parsed (after `settle`).
  /// `finish_times` does it itself.
  void compact();

  /// Every value logged for signal `id`, in order, recorded into `column`
  /// (after `finish_times`).
  void replay(SignalId id, Column& column) const;
  /// Whether any change of signal `id` was logged.
  bool logged(SignalId id) const;
  /// Frees what `replay` reads for `id` (once every id of its group is
  /// released, after `finish_times`). May be called from several threads
  /// for different ids.
  void release(SignalId id);
  /// The group whose logs' memory is given back together.
  static std::size_t group_of(SignalId id) { return id >> kArenaShift; }

  /// The timestamps taken, by index; index 0 is added at time 0 when values
  /// came before a later first timestamp.
  std::vector<Time> finish_times();

 private:
  // A chunk's logs placed at index `base`, its first `skip` indices dropped.
  // Logs by id, in pages that are given back with their group's arena.
  using Logs = std::vector<ChangeLog, PageAllocator<ChangeLog>>;
  struct Placed {
    Logs logs;
    std::vector<LogArena> arenas;
    Index skip = 0;
    Index base = 0;
    std::vector<std::uint64_t> triggers_before;  // by event slot
    // What `s`'s Bits numbers here get added: its triggers before the chunk.
    std::uint64_t bits_add(const VcdSignal& s) const;
  };
  // The ids of a group: first, one past the last.
  std::pair<std::size_t, std::size_t> group_ids(std::size_t group) const;

  [[gnu::always_inline]] VcdStatus store(SignalId id, const ValueView& v) {
    if (!usual_) [[unlikely]] {
      if (skipping_) return VcdStatus::Ok;  // changes of a timestamp that went back
      early_values_ |= !timed_;
    }
    if (staging_) {
      if (stage_.add(static_cast<std::uint32_t>(id), static_cast<std::uint32_t>(current_ - stage_base_), v))
        drain_stage();
      return VcdStatus::Ok;
    }
    log(id, current_, v);
    return VcdStatus::Ok;
  }
  void log(SignalId id, Index index, const ValueView& v) { logs_[id].append(index, v, arenas_[group_of(id)]); }
  void drain_stage();
  VcdStatus trigger(SignalId id, const VcdSignal& s) { return store(id, ValueView::bits(++triggers_[s.event])); }
  // The variable of `code` and its id; nullptr when the code is unknown.
  [[gnu::always_inline]] const VcdSignal* find(std::string_view code, SignalId& id) const {
    const std::size_t slot = CodeTable::direct_slot(code);
    if (slot < coded_.size() && coded_[slot].id_plus1 != 0) [[likely]] {
      id = coded_[slot].id_plus1 - 1;
      return &coded_[slot].signal;
    }
    id = codes_.lookup(code);
    return id == CodeTable::kUnknown ? nullptr : &signals_[id];
  }
  void take_time(Time time);
  // Makes room in `column` for what `replay` records into it.
  void reserve(SignalId id, Column& column) const;

  const CodeTable& codes_;
  const std::vector<VcdSignal>& signals_;
  const std::vector<VcdCoded>& coded_;
  Logs logs_;  // by signal id
  // The logs' memory, one arena per 2^kArenaShift neighbouring ids, so that
  // a group's is given back as soon as its columns are built.
  static constexpr unsigned kArenaShift = 8;
  std::vector<LogArena> arenas_;
  // While columns are built: ids of each arena's group not released yet,
  // and which ids are.
  std::unique_ptr<std::atomic<std::uint32_t>[]> unreleased_;
  std::vector<std::uint8_t> released_;
  // With many signals changes go to the logs through the stage, their
  // indices counted from `stage_base_`.
  std::size_t stage_setting_ = 0;
  bool staging_ = false;
  ChangeStage stage_;
  Index stage_base_ = 0;
  std::vector<std::uint64_t> triggers_;  // by event slot
  std::vector<Placed> placed_;
  std::vector<Time> times_;
  std::uint64_t first_time_offset_ = 0;  // the first timestamp taken, for messages
  std::string first_time_token_;
  Index current_ = 0;
  Time last_time_ = 0;
  bool timed_ = false;         // a timestamp was taken
  bool early_values_ = false;  // a change came before it
  bool skipping_ = false;
  bool usual_ = false;  // timed_ and not skipping_: changes just go to their log
  bool foreign_ = false;
  BinaryScratch scratch_;
  std::string text_scratch_;  // a string value with its escapes undone
};

}  // namespace quarn
