#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "signal/bitpack.h"
#include "signal/change_log.h"
#include "trace/vcd_line_parser.h"
#include "trace/vcd_trace.h"

namespace quarn {

/// Sink of `parse_vcd_line` that builds a `VcdTrace` record. Values hold until
/// the next change, so only changes are stored; changes before the first
/// timestamp line land at index 0 (simulators put their initial values there).
class VcdBuilder {
 public:
  void scope(std::string_view name);
  void upscope();
  void var(Width width, std::string_view code, std::string_view reference);
  void timestamp(Time time);
  void scalar(std::string_view code, ScalarKind kind);
  void vector(std::string_view digits, std::string_view code);
  void real(double value, std::string_view code);

  /// The finished record; the builder is spent afterwards.
  VcdTrace::Record finish();

 private:
  void store(std::string_view code, const ValueView& v);
  void store(SignalId id, const ValueView& v);

  // Changes are logged per signal and turned into columns at the end:
  // writing each change straight into its column would touch a different
  // column's arrays for nearly every line, and cache misses, not parsing,
  // would set the load speed.
  std::vector<ChangeLog> logs_;  // by signal id

  VcdTrace::Record r_;
  std::string path_;                       // open scopes joined with "."
  std::vector<std::size_t> path_lengths_;  // path_ length before each push
  std::unordered_set<std::string> seen_scopes_;
  Index current_ = 0;
  BinaryScratch scratch_;
};

}  // namespace quarn
