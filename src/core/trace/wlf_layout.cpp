#include "trace/wlf_layout.h"

#include <algorithm>

namespace quarn {

std::size_t skip_wlf_text_field(ByteSpan bytes, std::size_t at) {
  if (at >= bytes.size()) return bytes.size();
  const std::size_t length = bytes[at];
  const std::size_t text = at + 1;
  if (length == 0 || length > bytes.size() - text) return text;
  const auto field = bytes.subspan(text, length);
  if (!std::all_of(field.begin(), field.end(), is_printable_byte)) return text;
  return text + length;
}

WlfHeader read_wlf_header(ByteSpan page0) {
  WlfHeader h;
  if (page0.size() >= kWlfHeaderSizeAt + 2) {
    const std::uint16_t size_word = load_be16(page0, kWlfHeaderSizeAt);
    h.page_size = (size_word & 0xE000) ? kWlfPageSize : size_word;
  }
  if (page0.size() >= kWlfSignalCountAt + 2) h.signal_count = load_be16(page0, kWlfSignalCountAt);
  std::size_t cursor = std::min(kWlfTextFieldsAt, page0.size());
  for (std::size_t k = 0; k < kWlfTextFieldCount; ++k) cursor = skip_wlf_text_field(page0, cursor);
  h.name_area_start = cursor;
  return h;
}

bool has_wlf_value_marker(ByteSpan page) { return page.size() >= 2 && page[0] == 0xFF && page[1] == 0xFF; }

ByteSpan wlf_record_area(ByteSpan page) {
  if (page.size() < kWlfRecordsAt || !has_wlf_value_marker(page)) return {};
  const auto non_zero = std::count_if(page.begin(), page.end(), [](std::uint8_t b) { return b != 0; });
  if (static_cast<std::size_t>(non_zero) < kWlfMinNonZeroBytes) return {};
  const std::size_t count = load_be16(page, kWlfRecordCountAt);
  if (count < 2) return {};
  return clamp_region(page, kWlfRecordsAt, std::min(count, kWlfMaxRecordBytes));
}

}  // namespace quarn
