#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "signal/bitpack.h"
#include "signal/change_log.h"
#include "trace/timescale.h"
#include "trace/vcd_body.h"
#include "trace/vcd_names.h"
#include "trace/vcd_parser.h"
#include "trace/vcd_trace.h"

namespace quarn {

/// Sink of `VcdParser` that builds a `VcdTrace` record: declarations here,
/// value changes in a `VcdBody` (see there for how values are kept). Values
/// hold until the next change, so only changes are stored.
class VcdBuilder {
 public:
  VcdBuilder() = default;
  VcdBuilder(const VcdBuilder&) = delete;
  VcdBuilder& operator=(const VcdBuilder&) = delete;

  void scope(std::string_view name);
  void upscope();
  void var(const VcdDecl& d);
  void end_definitions() {}
  void timescale(std::string_view text) { r_.timescale = parse_timescale(text); }
  void drop_changes() { body_.drop_changes(); }
  VcdStatus timestamp(Time time, std::string_view token, std::uint64_t offset) {
    return body_.timestamp(time, token, offset);
  }
  VcdStatus scalar(char value, std::string_view code) { return body_.scalar(value, code); }
  VcdStatus vector(std::string_view digits, std::string_view code) { return body_.vector(digits, code); }
  VcdStatus real(double value, std::string_view code) { return body_.real(value, code); }
  VcdStatus text(std::string_view text, std::string_view code) { return body_.text(text, code); }

  /// The value changes read so far (chunks parsed apart join them here).
  VcdBody& body() { return body_; }

  /// The finished record; the builder is spent afterwards.
  VcdTrace::Record finish();

 private:
  void build_bus(const VcdNamed& bus, SignalId id);

  std::vector<VcdSignal> signals_;  // by signal id
  std::vector<VcdCoded> coded_;     // by code slot (see VcdBody)
  std::uint32_t events_ = 0;
  std::vector<VcdDeclared> decls_;

  VcdTrace::Record r_;
  VcdBody body_{r_.codes, signals_, coded_};
  std::vector<NameTable::Path> open_scopes_;  // a nameless scope repeats the one it is in
  BinaryScratch scratch_;
};

}  // namespace quarn
