#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace quarn {

/// The trace formats a file or directory can hold.
enum class TraceFormat : std::uint8_t { Vcd, Fst, Fsdb, Vpd, Wlf, Shm, Unknown };

/// What `detect_format` saw.
struct DetectedFormat {
  TraceFormat format = TraceFormat::Unknown;
  /// For Unknown: what the content looks like ("a PNG image", "text
  /// starting with 'hello'"); for a packed VCD the packing ("gzip"); else empty.
  std::string found;
};

/// Names the format of `path` from its content: VCD text (also packed with
/// gzip, bzip2 or zstd), FST (plain or gzip-wrapped), FSDB, VPD, an SHM design
/// or transition file, or a directory holding those. WLF files carry no
/// signature the reader knows; a file that matches nothing else and is
/// named *.wlf counts as WLF. Fails only with the open/read messages of
/// `open_byte_source`.
std::variant<DetectedFormat, std::string> detect_format(const std::string& path);

/// "vcd", "fst", "fsdb", "vpd", "wlf", "shm" or "unknown".
std::string_view format_name(TraceFormat format);

/// The format named by the first bytes of a file (plain, not packed).
TraceFormat format_of_head(std::string_view head);

/// True when `head` starts like VCD text: optional byte order mark and white
/// space, then a '$' command or a '#' time, and no NUL byte.
bool looks_like_vcd(std::string_view head);

}  // namespace quarn
