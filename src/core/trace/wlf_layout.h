#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "trace/vendor_bytes.h"

namespace quarn {

/// Fixed facts of the WLF file layout (integers big-endian). The file is a
/// sequence of 8192-byte pages; only whole pages are looked at.
inline constexpr std::size_t kWlfPageSize = 8192;
/// Header page: size word, announced signal count, first text field.
inline constexpr std::size_t kWlfHeaderSizeAt = 2;
inline constexpr std::size_t kWlfSignalCountAt = 24;
inline constexpr std::size_t kWlfTextFieldsAt = 40;
inline constexpr std::size_t kWlfTextFieldCount = 3;
/// Names admitted from a file: at least this many, more if the header announces more.
inline constexpr std::size_t kWlfMinNameLimit = 1000;
/// Names are looked for on pages 1 .. this - 1 when the header page falls short.
inline constexpr std::size_t kWlfNamePageEnd = 4;
/// Value page: record byte count at 2, records from 16.
inline constexpr std::size_t kWlfRecordCountAt = 2;
inline constexpr std::size_t kWlfRecordsAt = 16;
inline constexpr std::size_t kWlfMaxRecordBytes = kWlfPageSize - kWlfRecordsAt;
/// A value page with fewer non-zero bytes than this is noise.
inline constexpr std::size_t kWlfMinNonZeroBytes = 16;
/// Record bytes: filler, and the time-step marker that opens the next index.
inline constexpr std::uint8_t kWlfFiller = 0x00;
inline constexpr std::uint8_t kWlfTimeStep = 0xFF;

/// What the header page tells.
struct WlfHeader {
  /// Size of the header page (8192 when the word's top three bits are not all clear).
  std::size_t page_size = 0;
  /// Number of signals the header announces.
  std::size_t signal_count = 0;
  /// Where the name area starts: just after the three text fields.
  std::size_t name_area_start = 0;
};

/// Reads the header fields of `page0` (the file's first kWlfPageSize bytes).
/// Fields that lie beyond `page0` read as 0 / end of the bytes.
WlfHeader read_wlf_header(ByteSpan page0);

/// Position after the length-prefixed text field whose length byte is at
/// `at`: past the text when the text is non-empty and all printable, else just
/// past the length byte (the text is rejected and its bytes are read again as
/// the next field). Never beyond `bytes.size()`.
std::size_t skip_wlf_text_field(ByteSpan bytes, std::size_t at);

/// The largest number of names a file announcing `signal_count` signals admits.
constexpr std::size_t wlf_name_limit(std::size_t signal_count) {
  return signal_count > kWlfMinNameLimit ? signal_count : kWlfMinNameLimit;
}

/// True when the page starts with the value-page marker 0xFF 0xFF.
bool has_wlf_value_marker(ByteSpan page);

/// The record bytes of a value page: empty when `page` is not a value page
/// (no marker, fewer than 16 non-zero bytes in the whole page, or a record
/// byte count below 2); else min(count, 8176) bytes from offset 16.
ByteSpan wlf_record_area(ByteSpan page);

}  // namespace quarn
