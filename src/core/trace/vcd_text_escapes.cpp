#include "trace/vcd_text_escapes.h"

namespace quarn {

namespace {

bool is_octal(char c) { return c >= '0' && c <= '7'; }

char simple_escape(char c) {
  switch (c) {
    case '\\': return '\\';
    case '\'': return '\'';
    case '"': return '"';
    case '?': return '?';
    case 'a': return '\a';
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'v': return '\v';
    default: return 0;
  }
}

void append_latin1(unsigned code, std::string& out) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

std::string_view unescape_vcd_text(std::string_view raw, std::string& scratch) {
  std::size_t i = raw.find('\\');
  if (i == std::string_view::npos) return raw;
  scratch.assign(raw.substr(0, i));
  while (i < raw.size()) {
    const char c = raw[i];
    if (c != '\\' || i + 1 == raw.size()) {
      scratch.push_back(c);
      ++i;
      continue;
    }
    if (i + 3 < raw.size() && is_octal(raw[i + 1]) && is_octal(raw[i + 2]) && is_octal(raw[i + 3]) &&
        raw[i + 1] <= '3') {
      append_latin1(static_cast<unsigned>((raw[i + 1] - '0') * 64 + (raw[i + 2] - '0') * 8 + (raw[i + 3] - '0')),
                    scratch);
      i += 4;
    } else if (const char e = simple_escape(raw[i + 1])) {
      scratch.push_back(e);
      i += 2;
    } else {
      scratch.push_back(c);
      ++i;
    }
  }
  return scratch;
}

}  // namespace quarn
