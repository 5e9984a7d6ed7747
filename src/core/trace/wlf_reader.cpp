#include "trace/wlf_reader.h"

#include <algorithm>

#include "trace/dotted_scopes.h"
#include "trace/name_admission.h"
#include "trace/vendor_file.h"
#include "trace/vendor_identifier_scan.h"
#include "trace/wlf_layout.h"
#include "trace/wlf_value_decoder.h"

namespace quarn {

namespace {

void admit_all(NameAdmission& names, ByteSpan bytes) {
  VendorIdentifierScanner scanner(bytes);
  while (auto id = scanner.next()) names.admit(*id);
}

ByteSpan page_at(ByteSpan file, std::size_t k) { return file.subspan(k * kWlfPageSize, kWlfPageSize); }

}  // namespace

std::variant<RecordTrace, std::string> WlfTrace::from_file(const std::string& path) {
  LoadControl never;
  return from_file(path, never);
}

std::variant<RecordTrace, std::string> WlfTrace::from_file(const std::string& path, LoadControl& control) {
  auto file = read_vendor_file(path, &control);
  if (auto* error = std::get_if<std::string>(&file)) return std::move(*error);
  return from_bytes(std::get<std::vector<std::uint8_t>>(file), &control);
}

std::variant<RecordTrace, std::string> WlfTrace::from_bytes(ByteSpan file, LoadControl* control) {
  if (file.size() < kWlfPageSize) return std::string("WLF file too small (< 1 page)");
  const std::size_t pages = file.size() / kWlfPageSize;
  const WlfHeader header = read_wlf_header(page_at(file, 0));

  TraceRecord record;
  NameAdmission names(record, wlf_name_limit(header.signal_count));
  if (header.page_size > header.name_area_start)
    admit_all(names, file.subspan(header.name_area_start, header.page_size - header.name_area_start));
  // Decided once: a short header page opens pages 1..3 to the scan, and all
  // of them are scanned even if an earlier one reaches the count.
  if (record.names.size() < header.signal_count) {
    for (std::size_t k = 1; k < std::min(pages, kWlfNamePageEnd); ++k) {
      const ByteSpan page = page_at(file, k);
      if (!has_wlf_value_marker(page)) admit_all(names, page);
    }
  }

  record.timestamps.push_back(0);
  WlfValueDecoder values(record);
  for (std::size_t k = 1; k < pages; ++k) {
    if (control && control->advance(kWlfPageSize)) return std::string(kLoadInterrupted);
    values.decode(wlf_record_area(page_at(file, k)));
  }
  values.finish();
  record.store.shrink_to_fit();
  list_dotted_scopes(record.names);
  return RecordTrace(std::move(record));
}

}  // namespace quarn
