#pragma once

#include <cstddef>
#include <string_view>

namespace quarn {

/// Token kinds of the expression and sequence languages. Names are not
/// resolved here: `Name` spans the longest text that could be one name
/// (dotted components, bracket groups, escaped identifiers) and the parser
/// picks the longest prefix the trace knows.
enum class TokenKind {
  End,
  Number,   // decimal, 0x.., 0b.., 0o.., or a Verilog based literal 8'h3f / 'b1x0
  Name,     // identifier start: letter, '_', '$' or '\\'
  Punct,    // operators and punctuation, `text` holds which
  Invalid,  // a character no token starts with
};

struct Token {
  TokenKind kind = TokenKind::End;
  std::size_t begin = 0;  // byte offsets into the source
  std::size_t end = 0;
  std::string_view text;
  bool is(std::string_view punct) const { return kind == TokenKind::Punct && text == punct; }
};

/// Splits expression text into tokens on demand; the position can be moved
/// back, so parsers may look ahead and backtrack.
class ExprLexer {
 public:
  explicit ExprLexer(std::string_view source) : src_(source) {}

  /// The token at the current position; does not advance.
  Token peek() const;
  /// The token at the current position; advances past it.
  Token next();
  std::size_t position() const { return pos_; }
  /// Moves to byte offset `pos` (skipping white space from there).
  void reset(std::size_t pos) { pos_ = pos; }
  std::string_view source() const { return src_; }

  /// Ends of the prefixes of the Name token `t` at which a name may end:
  /// after each identifier or escaped component and each bracket group, in
  /// increasing order. At most `cap` are written to `out`; returns how many.
  std::size_t name_ends(const Token& t, std::size_t* out, std::size_t cap) const;

 private:
  std::size_t skip_space(std::size_t p) const;
  std::size_t scan_name(std::size_t p) const;
  std::size_t scan_number(std::size_t p) const;

  std::string_view src_;
  std::size_t pos_ = 0;
};

/// 1-based column of byte offset `offset`.
inline std::size_t column_of(std::size_t offset) { return offset + 1; }

}  // namespace quarn
