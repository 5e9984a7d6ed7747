#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "signal/bitpack.h"
#include "signal/change_log.h"
#include "trace/timescale.h"
#include "trace/vcd_names.h"
#include "trace/vcd_parser.h"
#include "trace/vcd_trace.h"

namespace quarn {

/// Sink of `VcdParser` that builds a `VcdTrace` record. Values hold until
/// the next change, so only changes are stored. Changes before the first
/// timestamp belong to time 0: when the first timestamp is later, index 0 is
/// added for them.
///
/// Event variables store Bits(n), n the number of triggers so far, so each
/// trigger is a change even when the writer repeats "1". Scalar x, z, u, w,
/// l, h and - store Logic, as vectors holding them do.
class VcdBuilder {
 public:
  void scope(std::string_view name);
  void upscope();
  void var(const VcdDecl& d);
  void end_definitions() {}
  void timescale(std::string_view text) { r_.timescale = parse_timescale(text); }
  /// Ignores changes up to the next timestamp (one that could not be read).
  void drop_changes() { skipping_ = true, usual_ = false; }
  VcdStatus timestamp(Time time);
  VcdStatus scalar(char value, std::string_view code);
  VcdStatus vector(std::string_view digits, std::string_view code);
  VcdStatus real(double value, std::string_view code);
  VcdStatus text(std::string_view text, std::string_view code);

  /// The finished record; the builder is spent afterwards.
  VcdTrace::Record finish();

 private:
  enum class Kind : std::uint8_t { Plain, Event, String };
  struct Signal {
    Width width = 1;
    Kind kind = Kind::Plain;
    std::uint64_t triggers = 0;
  };

  VcdStatus store(SignalId id, const ValueView& v) {
    if (!usual_) [[unlikely]] {
      if (skipping_) return VcdStatus::Ok;  // changes of a timestamp that went back
      early_values_ |= !timed_;
    }
    logs_[id].append(current_, v);
    return VcdStatus::Ok;
  }
  VcdStatus trigger(SignalId id) { return store(id, ValueView::bits(++signals_[id].triggers)); }
  void build_bus(const VcdNamed& bus, SignalId id);

  // Changes are logged per signal and turned into columns at the end:
  // writing each change straight into its column would touch a different
  // column's arrays for nearly every line, and cache misses, not parsing,
  // would set the load speed.
  std::vector<ChangeLog> logs_;  // by signal id
  std::vector<Signal> signals_;  // by signal id
  std::vector<VcdDeclared> decls_;

  VcdTrace::Record r_;
  std::vector<NameTable::Path> open_scopes_;  // a nameless scope repeats the one it is in
  Index current_ = 0;
  Time last_time_ = 0;
  bool timed_ = false;         // a timestamp was taken
  bool early_values_ = false;  // a change came before it
  bool skipping_ = false;
  bool usual_ = false;  // timed_ and not skipping_: changes just go to their log
  BinaryScratch scratch_;
};

}  // namespace quarn
