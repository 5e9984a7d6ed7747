#pragma once

#include <string>
#include <variant>

#include "trace/load_control.h"
#include "trace/trace_record.h"
#include "trace/vendor_bytes.h"

namespace quarn {

/// The VPD reader. It recovers signal names from the file's name blocks and
/// scopes from the names; it decodes no values, so the trace has the one
/// timestamp 0, every signal width 1 and every value Empty.
struct VpdTrace {
  /// Loads the file at `path`. Fails with "Failed to read <path>: <reason>",
  /// "VPD file too small" (under 128 bytes) or "Not a VPD file (magic=0x
  /// <8 upper-case hex digits>)". Any other content loads, with fewer names.
  static std::variant<RecordTrace, std::string> from_file(const std::string& path);
  /// The same, stoppable: fails with kLoadInterrupted once `control` says stop.
  static std::variant<RecordTrace, std::string> from_file(const std::string& path, LoadControl& control);
  /// The same from the file's bytes, already in memory.
  static std::variant<RecordTrace, std::string> from_bytes(ByteSpan file, LoadControl* control = nullptr);
};

}  // namespace quarn
