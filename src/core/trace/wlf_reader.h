#pragma once

#include <string>
#include <variant>

#include "trace/load_control.h"
#include "trace/trace_record.h"
#include "trace/vendor_bytes.h"

namespace quarn {

/// The WLF reader. Names come from the header page (and pages 1 to 3 when the
/// header announces more signals than it holds), scopes from the names, and
/// one-byte values from the value pages; timestamps are 0, 1, 2, ... (one per
/// time-step marker), every width is 1.
struct WlfTrace {
  /// Loads the file at `path`. Fails with "Failed to read <path>: <reason>" or
  /// "WLF file too small (< 1 page)" (under 8192 bytes); anything else loads.
  static std::variant<RecordTrace, std::string> from_file(const std::string& path);
  /// The same, stoppable: fails with kLoadInterrupted once `control` says stop.
  static std::variant<RecordTrace, std::string> from_file(const std::string& path, LoadControl& control);
  /// The same from the file's bytes, already in memory.
  static std::variant<RecordTrace, std::string> from_bytes(ByteSpan file, LoadControl* control = nullptr);
};

}  // namespace quarn
