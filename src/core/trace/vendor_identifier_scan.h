#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trace/vendor_bytes.h"

namespace quarn {

/// The name test of the VPD and WLF identifier scan, applied to one
/// NUL-terminated printable run: at least 2 bytes, starts with a letter or
/// '_', holds none of '/', '{', '(', '@', and every '.'-separated part is
/// non-empty and starts with a letter or '_'. Spaces inside are allowed.
/// (The FSDB reader has a stricter scan of its own; this is not it.)
bool is_vendor_identifier(std::string_view run);

/// Walks raw bytes for identifiers, as the VPD and WLF readers use it. A
/// candidate is a run of printable bytes (0x20..0x7E) that starts with a
/// non-space byte and is followed by 0x00; a run ended by any other byte is
/// dropped whole, and a run that reaches the end of the bytes ends the scan.
/// After every run the walk resumes one byte past the byte that ended it, so no
/// tail of a run is ever tried on its own.
class VendorIdentifierScanner {
 public:
  explicit VendorIdentifierScanner(ByteSpan bytes) : bytes_(bytes) {}

  /// The next identifier in file order (a view into the scanned bytes), or
  /// nullopt when the bytes hold no more.
  std::optional<std::string_view> next();

 private:
  ByteSpan bytes_;
  std::size_t pos_ = 0;
};

/// Every identifier in `bytes`, in order of occurrence, duplicates kept.
std::vector<std::string> extract_vendor_identifiers(ByteSpan bytes);

}  // namespace quarn
