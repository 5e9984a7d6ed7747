#pragma once

#include <string>
#include <string_view>

namespace quarn {

/// A VCD string value with its escapes undone. A VCD value cannot hold
/// whitespace, so writers of string variables escape it as C does: "\040"
/// for a space, "\'" and "\"" for quotes. Undone here:
///  - "\" and three octal digits: the character of that code, 0 to 255,
///    taken as Latin-1 (VHDL's character set) and written as UTF-8;
///  - \\ \' \" \? and \a \b \f \n \r \t \v: the character they stand for.
/// Any other backslash stays as written. Returns `raw` itself when it holds
/// no backslash, else a view of `scratch`.
std::string_view unescape_vcd_text(std::string_view raw, std::string& scratch);

}  // namespace quarn
