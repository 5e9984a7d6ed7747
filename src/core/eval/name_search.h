#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quarn {

class Trace;

/// Whole-name wildcard match, byte by byte and case-sensitive: "*" matches
/// any run of bytes ("." included), "?" exactly one byte (so one character
/// only for ASCII), every other byte itself; no classes, no escapes. A "*"
/// in the pattern matches a literal "*" in the name before acting as a
/// wildcard. The empty pattern matches only the empty name.
bool glob_match(std::string_view pattern, std::string_view name);

/// Full Unicode lower-casing of UTF-8 text, including the one-to-many
/// mapping of U+0130 and the final-sigma rule (a capital sigma at the end of
/// a word becomes "ς"). Bytes that are not valid UTF-8 are kept unchanged.
std::string to_lower(std::string_view text);

/// Signal names matching `pattern` (see `glob_match`), in `signal_names` order.
std::vector<std::string> find_signals_glob(const Trace& trace, std::string_view pattern);

/// Signal names whose lower-cased form contains the lower-cased `text`, as
/// spelled in the trace, in `signal_names` order. The empty text matches all.
std::vector<std::string> find_signals_containing(const Trace& trace, std::string_view text);

}  // namespace quarn
