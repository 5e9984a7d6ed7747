#include "trace/vpd_layout.h"

#include <algorithm>

#include "trace/vendor_identifier_scan.h"

namespace quarn {

std::vector<VpdBlock> vpd_blocks(ByteSpan file) {
  std::vector<std::size_t> offsets;
  if (file.size() < kVpdOffsetTableStart + 4 * kVpdOffsetCount) return {};
  for (std::size_t k = 0; k < kVpdOffsetCount; ++k) {
    const std::size_t offset = load_le32(file, kVpdOffsetTableStart + 4 * k);
    if (offset > kVpdMinFileSize && offset < file.size()) offsets.push_back(offset);
  }
  std::sort(offsets.begin(), offsets.end());
  offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
  std::vector<VpdBlock> blocks;
  blocks.reserve(offsets.size());
  for (std::size_t k = 0; k < offsets.size(); ++k) {
    const std::size_t end = k + 1 < offsets.size() ? offsets[k + 1] : file.size();
    blocks.push_back({offsets[k], end - offsets[k]});
  }
  return blocks;
}

std::vector<std::string_view> vpd_header_strings(ByteSpan head) {
  std::vector<std::string_view> out;
  const std::size_t n = head.size();
  std::size_t pos = 0;
  while (pos < n) {
    if (!is_printable_byte(head[pos])) {
      ++pos;
      continue;
    }
    std::size_t end = pos + 1;
    while (end < n && is_printable_byte(head[end])) ++end;
    if (end == n) break;  // unterminated inside the head
    if (head[end] == 0x00 && end - pos >= kVpdMinHeaderString)
      out.emplace_back(reinterpret_cast<const char*>(head.data()) + pos, end - pos);
    pos = end + 1;
  }
  return out;
}

bool vpd_is_name_block(ByteSpan head) {
  for (std::string_view s : vpd_header_strings(head))
    if (s.find("FoldedTop") != std::string_view::npos || s.find("WithMask") != std::string_view::npos) return true;
  VendorIdentifierScanner scanner(head);
  std::size_t found = 0;
  while (found < kVpdMinHeadIdentifiers && scanner.next()) ++found;
  return found >= kVpdMinHeadIdentifiers;
}

}  // namespace quarn
