#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

#include "trace/byte_source.h"
#include "trace/load_control.h"
#include "trace/load_diagnostics.h"
#include "trace/vcd_trace.h"

namespace quarn {

/// A VCD load: the trace and what was skipped or read with a default on the
/// way (`diagnostics.count` 0 for a clean file; line and column located).
struct VcdLoad {
  VcdTrace trace;
  LoadDiagnostics diagnostics;
};

/// How the value-change section is parsed: in chunks on the thread pool, or
/// in one pass. Either way the load comes out the same, byte for byte.
struct VcdSplit {
  /// Bytes per chunk. 0 picks from the input's size and the pool's threads
  /// (one pass for small inputs or one thread); `kNoSplit` always reads in
  /// one pass. Chunks start at timestamp lines.
  std::size_t chunk_bytes = 0;
  static constexpr std::size_t kNoSplit = ~std::size_t{0};
  /// Value changes held before they go to their signals' logs, so that the
  /// logs are written group by group of signals (see `ChangeStage`). 0
  /// picks (staged only when there are many signals); `kNoStage` never.
  std::size_t stage_changes = 0;
  static constexpr std::size_t kNoStage = ~std::size_t{0};
};

/// Reads VCD text held in memory. Fails only with "Not a VCD file: <what was
/// found>" when the text is empty or has no keyword and no timestamp in its
/// first 64 KiB.
/// `control`, when given, hears of every buffer and may stop the load
/// ("Load interrupted").
std::variant<VcdLoad, std::string> read_vcd_text(std::string_view text, LoadControl* control = nullptr,
                                                 VcdSplit split = {});

/// Streams a VCD file through a 1 MiB buffer, plain or packed with gzip,
/// bzip2 or zstd (decoded on the fly). The value changes of a plain file are
/// read in chunks as `split` says, each through its own buffer; a packed
/// file is read in one pass. Fails with the messages of
/// `open_byte_source`, "Failed to read <path>: <reason>" (corrupt packed data
/// included), or "Not a VCD file: ..." as `read_vcd_text`. `progress` hears
/// of each read of the file.
std::variant<VcdLoad, std::string> read_vcd_file(const std::string& path, ReadProgress progress = {},
                                                 LoadControl* control = nullptr, VcdSplit split = {});

}  // namespace quarn
