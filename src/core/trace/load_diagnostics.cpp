#include "trace/load_diagnostics.h"

#include <algorithm>

namespace quarn {

namespace {

constexpr std::size_t kShownBytes = 40;

// Printable ASCII as is, everything else as \xNN, so a message stays one
// readable line whatever the input held.
void append_escaped(std::string& out, std::string_view s) {
  static const char hex[] = "0123456789abcdef";
  for (char ch : s.substr(0, kShownBytes)) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x20 && c < 0x7F) {
      out += ch;
    } else {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  if (s.size() > kShownBytes) out += "...";
}

}  // namespace

void LoadDiagnostics::report(std::uint64_t at, std::string_view expected, std::string_view found) {
  if (count++ != 0) return;
  offset = at;
  message.assign(expected);
  message += ", found '";
  append_escaped(message, found);
  message += "'";
}

void locate_offset(std::string_view text, std::uint64_t offset, std::uint64_t& line, std::uint64_t& column) {
  const std::size_t end = static_cast<std::size_t>(std::min<std::uint64_t>(offset, text.size()));
  const std::string_view before = text.substr(0, end);
  line = 1 + static_cast<std::uint64_t>(std::count(before.begin(), before.end(), '\n'));
  const std::size_t nl = before.rfind('\n');
  column = 1 + (nl == std::string_view::npos ? end : end - nl - 1);
}

}  // namespace quarn
