#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "trace/byte_source.h"
#include "trace/load_diagnostics.h"
#include "trace/vcd_trace.h"

namespace quarn {

/// A VCD load: the trace and what was skipped or read with a default on the
/// way (`diagnostics.count` 0 for a clean file; line and column located).
struct VcdLoad {
  VcdTrace trace;
  LoadDiagnostics diagnostics;
};

/// Reads VCD text held in memory. Fails only with "Not a VCD file: <what was
/// found>" when the text is empty or has no keyword and no timestamp in its
/// first 64 KiB.
std::variant<VcdLoad, std::string> read_vcd_text(std::string_view text);

/// Streams a VCD file through a 1 MiB buffer, plain or packed with gzip,
/// bzip2 or zstd (decoded on the fly). Fails with the messages of
/// `open_byte_source`, "Failed to read <path>: <reason>" (corrupt packed data
/// included), or "Not a VCD file: ..." as `read_vcd_text`. `progress` hears
/// of each read of the file.
std::variant<VcdLoad, std::string> read_vcd_file(const std::string& path, ReadProgress progress = {});

}  // namespace quarn
