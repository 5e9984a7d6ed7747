#include "trace/vpd_reader.h"

#include <cstdio>

#include "trace/dotted_scopes.h"
#include "trace/name_admission.h"
#include "trace/vendor_file.h"
#include "trace/vendor_identifier_scan.h"
#include "trace/vpd_layout.h"

namespace quarn {

std::variant<RecordTrace, std::string> VpdTrace::from_file(const std::string& path) {
  LoadControl never;
  return from_file(path, never);
}

std::variant<RecordTrace, std::string> VpdTrace::from_file(const std::string& path, LoadControl& control) {
  auto file = read_vendor_file(path, &control);
  if (auto* error = std::get_if<std::string>(&file)) return std::move(*error);
  return from_bytes(std::get<std::vector<std::uint8_t>>(file), &control);
}

std::variant<RecordTrace, std::string> VpdTrace::from_bytes(ByteSpan file, LoadControl* control) {
  if (file.size() < kVpdMinFileSize) return std::string("VPD file too small");
  const std::uint32_t magic = load_le32(file, 0);
  if (magic != kVpdMagic) {
    char text[48];
    std::snprintf(text, sizeof text, "Not a VPD file (magic=0x%08X)", static_cast<unsigned>(magic));
    return std::string(text);
  }

  TraceRecord record;
  NameAdmission names(record);
  for (const VpdBlock& block : vpd_blocks(file)) {
    const ByteSpan body = file.subspan(block.offset, block.size);
    if (control && control->advance(body.size())) return std::string(kLoadInterrupted);
    if (!vpd_is_name_block(clamp_region(body, 0, kVpdHeadSize))) continue;
    VendorIdentifierScanner scanner(body);
    while (auto id = scanner.next()) names.admit(*id);
  }
  list_dotted_scopes(record.names);
  record.timestamps.push_back(0);
  return RecordTrace(std::move(record));
}

}  // namespace quarn
