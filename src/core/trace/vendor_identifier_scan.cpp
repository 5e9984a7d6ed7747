#include "trace/vendor_identifier_scan.h"

namespace quarn {

bool is_vendor_identifier(std::string_view run) {
  if (run.size() < 2) return false;
  bool part_start = true;  // the next byte opens a dotted part
  for (const char c : run) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b == '/' || b == '{' || b == '(' || b == '@') return false;
    if (b == '.') {
      if (part_start) return false;  // leading or doubled dot
      part_start = true;
      continue;
    }
    if (part_start && !is_name_start_byte(b)) return false;
    part_start = false;
  }
  return !part_start;  // a trailing dot leaves an empty last part
}

std::optional<std::string_view> VendorIdentifierScanner::next() {
  const std::size_t n = bytes_.size();
  while (pos_ < n) {
    if (!is_graphic_byte(bytes_[pos_])) {
      ++pos_;
      continue;
    }
    const std::size_t start = pos_;
    std::size_t end = start + 1;
    while (end < n && is_printable_byte(bytes_[end])) ++end;
    if (end == n) {  // no terminator: nothing after the run exists
      pos_ = n;
      return std::nullopt;
    }
    pos_ = end + 1;
    if (bytes_[end] != 0x00) continue;
    const std::string_view run(reinterpret_cast<const char*>(bytes_.data()) + start, end - start);
    if (is_vendor_identifier(run)) return run;
  }
  return std::nullopt;
}

std::vector<std::string> extract_vendor_identifiers(ByteSpan bytes) {
  std::vector<std::string> out;
  VendorIdentifierScanner scanner(bytes);
  while (auto id = scanner.next()) out.emplace_back(*id);
  return out;
}

}  // namespace quarn
