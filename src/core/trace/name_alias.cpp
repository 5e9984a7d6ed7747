#include "trace/name_alias.h"

#include <charconv>

namespace quarn {

namespace {

std::optional<std::int64_t> parse_bound(std::string_view s) {
  std::int64_t v = 0;
  if (s.empty()) return std::nullopt;
  const char* end = s.data() + s.size();
  auto [p, ec] = std::from_chars(s.data(), end, v);
  if (ec != std::errc() || p != end) return std::nullopt;
  return v;
}

}  // namespace

VarNameParts split_var_name(std::string_view declared) {
  VarNameParts parts{declared, std::nullopt, std::nullopt, false};
  if (declared.empty() || declared.back() != ']') return parts;
  const std::size_t open = declared.rfind('[');
  if (open == std::string_view::npos) return parts;
  const std::string_view inside = declared.substr(open + 1, declared.size() - open - 2);
  const std::size_t colon = inside.find(':');
  const auto msb = parse_bound(inside.substr(0, colon));
  const auto lsb = colon == std::string_view::npos ? msb : parse_bound(inside.substr(colon + 1));
  if (!msb || !lsb) return parts;
  std::string_view base = declared.substr(0, open);
  while (!base.empty() && (base.back() == ' ' || base.back() == '\t')) base.remove_suffix(1);
  // "[0]" alone, or "top.[0]", names an element, not a bit range of something.
  if (base.empty() || base.back() == '.') return parts;
  return {base, msb, lsb, colon == std::string_view::npos};
}

bool range_spans(const VarNameParts& parts, Width width) {
  const auto msb = static_cast<std::uint64_t>(*parts.msb), lsb = static_cast<std::uint64_t>(*parts.lsb);
  const std::uint64_t span = (*parts.msb >= *parts.lsb ? msb - lsb : lsb - msb) + 1;
  return span == width;
}

}  // namespace quarn
