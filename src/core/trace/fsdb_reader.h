#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "trace/fsdb_values.h"
#include "trace/load_control.h"
#include "trace/trace_record.h"

namespace quarn {

/// Loader of FSDB waveform databases. The format is closed: the reader tells
/// its two layouts apart by magic number and recovers what it can by scanning.
/// Once the magic and the minimum size are accepted it never fails; damaged
/// content gives fewer names or values.
class FsdbTrace {
 public:
  /// Loads the file at `path`. Fails with "Failed to read <path>: <reason>",
  /// "FSDB file too small" (under 12 bytes), or
  /// "Not an FSDB file (magic=0x<8 hex digits>)".
  static std::variant<RecordTrace, std::string> from_file(const std::string& path);
  /// The same, stoppable: fails with kLoadInterrupted once `control` says stop.
  static std::variant<RecordTrace, std::string> from_file(const std::string& path, LoadControl& control);
  /// Loads a newer-layout file held in memory (magic already checked).
  static RecordTrace parse_modern(std::span<const std::uint8_t> file);
  /// As `parse_modern`, giving the record itself.
  static TraceRecord read_modern(std::span<const std::uint8_t> file);

 private:
  // Names, widths and decoded value blocks: all that storing needs.
  struct Decoded {
    TraceRecord record;
    std::vector<fsdb::BlockEvents> blocks;
  };
  static Decoded decode_modern(std::span<const std::uint8_t> file, LoadControl* control = nullptr);
  static TraceRecord finish(Decoded d);
};

}  // namespace quarn
