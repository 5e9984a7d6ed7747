#pragma once

#include <cstdint>
#include <string_view>

#include "signal/signal_value.h"
#include "signal/types.h"
#include "trace/text_scan.h"

namespace quarn {

/// What one VCD line says. `parse_vcd_line` calls one of a sink's methods:
///   scope(name), upscope(), var(width, code, reference),
///   timestamp(time), scalar(code, ValueTag/bit), vector(digits, code),
///   real(value, code)
/// and nothing for a line it skips. It keeps no state, so the same handler
/// serves files and strings, and tests can record events as text.
enum class ScalarKind : std::uint8_t { Zero, One, X, Z };

namespace vcd_detail {

inline bool starts_with(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace vcd_detail

/// Handles one line of VCD text (without its "\n"). A "\r" before the end is
/// dropped; a line that is not UTF-8 is skipped; the rest is trimmed of
/// Unicode white space and classified by its first characters. `known_ascii`:
/// the caller has checked that the line is ASCII.
template <class Sink>
void parse_vcd_line(std::string_view line, Sink& sink, bool known_ascii = false) {
  using vcd_detail::starts_with;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const Utf8Kind kind = known_ascii ? Utf8Kind::Ascii : classify_utf8(line);
  if (kind == Utf8Kind::Invalid) return;
  const bool ascii = kind == Utf8Kind::Ascii;
  auto trim = [ascii](std::string_view s) { return ascii ? trim_ascii_white_space(s) : trim_white_space(s); };
  line = trim(line);
  if (line.empty()) return;

  const char first = line.front();
  switch (first) {
    case '$': {
      std::string_view f[5];
      if (starts_with(line, "$scope")) {
        if (split_white_space(line, f, 3) == 3) sink.scope(f[2]);
      } else if (starts_with(line, "$upscope")) {
        sink.upscope();
      } else if (starts_with(line, "$var")) {
        if (split_white_space(line, f, 5) < 5) return;
        const Width width = parse_decimal_u32(f[2]).value_or(1);
        std::string_view reference = f[4];
        reference = reference.substr(0, reference.find('['));
        sink.var(width, f[3], reference);
      }
      return;  // every other keyword line is skipped
    }
    case '#':
      sink.timestamp(parse_decimal_u64(trim(line.substr(1))).value_or(0));
      return;
    case '0': sink.scalar(line.substr(1), ScalarKind::Zero); return;
    case '1': sink.scalar(line.substr(1), ScalarKind::One); return;
    case 'x':
    case 'X': sink.scalar(line.substr(1), ScalarKind::X); return;
    case 'z':
    case 'Z': sink.scalar(line.substr(1), ScalarKind::Z); return;
    case 'b':
    case 'B':
    case 'r':
    case 'R': {
      // Value and code are split at the first single space only.
      const std::size_t space = line.find(' ');
      if (space == std::string_view::npos) return;
      const std::string_view value = line.substr(0, space);
      const std::string_view code = trim(line.substr(space + 1));
      if (first == 'b' || first == 'B') sink.vector(value, code);
      else sink.real(parse_real(value.substr(1)).value_or(0.0), code);
      return;
    }
    default: return;
  }
}

}  // namespace quarn
