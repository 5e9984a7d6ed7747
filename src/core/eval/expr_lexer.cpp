#include "eval/expr_lexer.h"

#include <array>

namespace quarn {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ident_start(char c) { return is_alpha(c) || c == '_' || c == '$'; }
bool is_ident(char c) { return is_ident_start(c) || is_digit(c); }
// Characters that may appear inside a based literal's digits (x, z, ? and _ included).
bool is_based_digit(char c) { return is_digit(c) || is_alpha(c) || c == '_' || c == '?'; }

// Longest first, so "|->" wins over "||" and "|".
constexpr std::array<std::string_view, 33> kPuncts{
    "|->", "|=>", "[->", "##", "[*", "[=", "&&", "||", "==", "!=", "<=", ">=", "<<", ">>", "(", ")",
    "[",   "]",   ":",   ",",  "!",  "~",  "-",  "+",  "*",  "&",  "|",  "^",  "<",  ">",  "$", "/", "%"};

}  // namespace

std::size_t ExprLexer::skip_space(std::size_t p) const {
  while (p < src_.size() && is_space(src_[p])) ++p;
  return p;
}

// A name runs over identifier components joined by '.', escaped components
// (backslash up to white space) and bracket groups; the parser trims it.
std::size_t ExprLexer::scan_name(std::size_t p) const {
  const std::size_t n = src_.size();
  while (p < n) {
    const char c = src_[p];
    if (c == '\\') {
      ++p;
      while (p < n && !is_space(src_[p])) ++p;
    } else if (is_ident(c)) {
      while (p < n && is_ident(src_[p])) ++p;
    } else {
      break;
    }
    // Bracket groups directly after a component.
    while (p < n && src_[p] == '[') {
      std::size_t q = p + 1;
      while (q < n && src_[q] != ']' && src_[q] != '[') ++q;
      if (q >= n || src_[q] != ']') return p;
      p = q + 1;
    }
    if (p + 1 < n && src_[p] == '.' && (is_ident_start(src_[p + 1]) || src_[p + 1] == '\\')) {
      ++p;
      continue;
    }
    break;
  }
  return p;
}

std::size_t ExprLexer::name_ends(const Token& t, std::size_t* out, std::size_t cap) const {
  std::size_t count = 0;
  auto add = [&](std::size_t e) {
    if (count < cap) out[count++] = e;
  };
  std::size_t p = t.begin;
  const std::size_t end = t.end;
  while (p < end) {
    const char c = src_[p];
    if (c == '\\') {
      ++p;
      while (p < end && !is_space(src_[p])) ++p;
      add(p);
      // An escaped identifier ends with one white space character, which some
      // writers keep in the name.
      if (p < src_.size() && src_[p] == ' ') add(p + 1);
    } else if (c == '[') {
      while (p < end && src_[p] != ']') ++p;
      ++p;
      add(p);
    } else if (c == '.') {
      ++p;
    } else {
      while (p < end && is_ident(src_[p])) ++p;
      add(p);
    }
  }
  return count;
}

std::size_t ExprLexer::scan_number(std::size_t p) const {
  const std::size_t n = src_.size();
  if (src_[p] != '\'') {
    if (src_[p] == '0' && p + 1 < n && (src_[p + 1] == 'x' || src_[p + 1] == 'X' || src_[p + 1] == 'b' ||
                                        src_[p + 1] == 'B' || src_[p + 1] == 'o' || src_[p + 1] == 'O')) {
      p += 2;
      while (p < n && is_based_digit(src_[p])) ++p;
      return p;
    }
    while (p < n && (is_digit(src_[p]) || src_[p] == '_')) ++p;
    if (p >= n || src_[p] != '\'') {
      // Letters glued to digits make one (bad) number, not a number and a name.
      while (p < n && is_ident(src_[p])) ++p;
      return p;
    }
  }
  ++p;  // the quote of a based literal
  if (p < n && (src_[p] == 's' || src_[p] == 'S')) ++p;
  if (p < n && is_alpha(src_[p])) ++p;  // base letter
  while (p < n && is_based_digit(src_[p])) ++p;
  return p;
}

Token ExprLexer::peek() const {
  Token t;
  const std::size_t p = skip_space(pos_);
  t.begin = p;
  if (p >= src_.size()) {
    t.kind = TokenKind::End;
    t.end = p;
  } else if (is_digit(src_[p]) || (src_[p] == '\'' && p + 1 < src_.size() && is_alpha(src_[p + 1]))) {
    t.kind = TokenKind::Number;
    t.end = scan_number(p);
  } else if (is_ident_start(src_[p]) && !(src_[p] == '$' && (p + 1 >= src_.size() || !is_alpha(src_[p + 1])))) {
    t.kind = TokenKind::Name;
    t.end = scan_name(p);
  } else if (src_[p] == '\\' && p + 1 < src_.size() && !is_space(src_[p + 1])) {
    t.kind = TokenKind::Name;
    t.end = scan_name(p);
  } else {
    t.kind = TokenKind::Invalid;
    t.end = p + 1;
    for (std::string_view punct : kPuncts) {
      if (src_.substr(p, punct.size()) == punct) {
        t.kind = TokenKind::Punct;
        t.end = p + punct.size();
        break;
      }
    }
  }
  t.text = src_.substr(t.begin, t.end - t.begin);
  return t;
}

Token ExprLexer::next() {
  const Token t = peek();
  pos_ = t.end;
  return t;
}

}  // namespace quarn
