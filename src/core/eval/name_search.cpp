#include "eval/name_search.h"

#include <cstdint>

#include <utf8proc.h>

#include "trace/trace.h"

namespace quarn {

namespace {

constexpr std::int32_t kCapitalSigma = 0x03A3;
constexpr std::int32_t kSmallSigma = 0x03C3;
constexpr std::int32_t kFinalSigma = 0x03C2;
constexpr std::int32_t kCapitalIWithDot = 0x0130;
constexpr std::int32_t kCombiningDotAbove = 0x0307;
// Marks a byte that is not valid UTF-8; it is copied through unchanged.
constexpr std::int32_t kRawByte = -1;

struct CodePoint {
  std::int32_t cp;  // kRawByte for an invalid byte
  std::size_t offset;
  std::size_t length;
};

// Case_Ignorable: marks, format characters, modifier letters and symbols, and
// the word-internal punctuation of word breaking (apostrophes, full stops,
// colons, middle dots). Ignorable characters are skipped when looking for the
// letters around a sigma, so "ΟΔΟΣ." still ends a word.
bool case_ignorable(std::int32_t c) {
  switch (c) {
    case 0x0027: case 0x002E: case 0x003A: case 0x00B7: case 0x0387: case 0x055F:
    case 0x05F4: case 0x2018: case 0x2019: case 0x2024: case 0x2027: case 0xFE13:
    case 0xFE52: case 0xFE55: case 0xFF07: case 0xFF0E: case 0xFF1A:
      return true;
    default:
      break;
  }
  switch (utf8proc_category(c)) {
    case UTF8PROC_CATEGORY_MN: case UTF8PROC_CATEGORY_ME: case UTF8PROC_CATEGORY_CF:
    case UTF8PROC_CATEGORY_LM: case UTF8PROC_CATEGORY_SK:
      return true;
    default:
      return false;
  }
}

// Cased: upper, lower or title case letters, and anything else that has a
// case partner (Roman numerals, circled letters).
bool cased(std::int32_t c) {
  switch (utf8proc_category(c)) {
    case UTF8PROC_CATEGORY_LU: case UTF8PROC_CATEGORY_LL: case UTF8PROC_CATEGORY_LT:
      return true;
    default:
      return utf8proc_tolower(c) != c || utf8proc_toupper(c) != c;
  }
}

// Final_Sigma: a cased letter comes before the sigma and none after it, in
// both directions skipping case-ignorable characters.
bool cased_beside(const std::vector<CodePoint>& cps, std::size_t at, bool forward) {
  std::size_t k = at;
  while (forward ? k + 1 < cps.size() : k > 0) {
    k = forward ? k + 1 : k - 1;
    const std::int32_t c = cps[k].cp;
    if (c == kRawByte) return false;
    if (!case_ignorable(c)) return cased(c);
  }
  return false;
}

void put_utf8(std::string& out, std::int32_t cp) {
  utf8proc_uint8_t buf[4];
  const auto n = utf8proc_encode_char(cp, buf);
  out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
}

std::string to_lower_unicode(std::string_view text) {
  std::vector<CodePoint> cps;
  cps.reserve(text.size());
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  for (std::size_t at = 0; at < text.size();) {
    std::int32_t cp = 0;
    const auto n = utf8proc_iterate(bytes + at, static_cast<utf8proc_ssize_t>(text.size() - at), &cp);
    if (n <= 0) {
      cps.push_back({kRawByte, at, 1});
      ++at;
    } else {
      cps.push_back({cp, at, static_cast<std::size_t>(n)});
      at += static_cast<std::size_t>(n);
    }
  }
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t k = 0; k < cps.size(); ++k) {
    const std::int32_t c = cps[k].cp;
    if (c == kRawByte) {
      out.push_back(text[cps[k].offset]);
    } else if (c == kCapitalSigma) {
      const bool word_end = cased_beside(cps, k, false) && !cased_beside(cps, k, true);
      put_utf8(out, word_end ? kFinalSigma : kSmallSigma);
    } else if (c == kCapitalIWithDot) {
      // The one lower-case mapping to two characters; the library maps single
      // characters only.
      put_utf8(out, 'i');
      put_utf8(out, kCombiningDotAbove);
    } else {
      put_utf8(out, utf8proc_tolower(c));
    }
  }
  return out;
}

bool is_ascii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

// Lower-cases into `out`, reusing its buffer on the common ASCII path.
void lower_into(std::string_view text, std::string& out) {
  if (!is_ascii(text)) {
    out = to_lower_unicode(text);
    return;
  }
  out.resize(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    out[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
}

}  // namespace

bool glob_match(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, s = 0;
  std::size_t star = std::string_view::npos, mark = 0;
  while (s < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[s])) {
      ++p;
      ++s;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p;
      mark = s;
      ++p;
    } else if (star == std::string_view::npos) {
      return false;
    } else {
      // The last star swallows one more byte; retry the rest after it.
      ++mark;
      s = mark;
      p = star + 1;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::string to_lower(std::string_view text) {
  std::string out;
  lower_into(text, out);
  return out;
}

std::vector<std::string> find_signals_glob(const Trace& trace, std::string_view pattern) {
  std::vector<std::string> out;
  for (const std::string& name : trace.signal_names())
    if (glob_match(pattern, name)) out.push_back(name);
  return out;
}

std::vector<std::string> find_signals_containing(const Trace& trace, std::string_view text) {
  std::vector<std::string> out;
  const std::string needle = to_lower(text);
  std::string lowered;
  for (const std::string& name : trace.signal_names()) {
    lower_into(name, lowered);
    if (lowered.find(needle) != std::string::npos) out.push_back(name);
  }
  return out;
}

}  // namespace quarn
