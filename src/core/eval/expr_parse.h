#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "eval/expr.h"
#include "eval/expr_lexer.h"
#include "signal/types.h"

namespace quarn {

class Trace;

/// Why text did not parse: fixed text plus the offending token, and the
/// 1-based column where it starts.
struct ParseError {
  std::string message;
  std::size_t column = 0;
};

/// A parsed expression and its bit width where it follows from the text
/// (a signal's declared width, a slice, a sized literal, 1 for a test);
/// 0 when unknown. `~` inverts that many bits.
struct Operand {
  ExprPtr expr;
  Width width = 0;
};

/// One function of the language, `name` written with or without a leading '$'.
struct FunctionDef {
  std::string_view name;
  std::size_t min_args = 1;
  std::size_t max_args = 1;
  /// Builds the call from its parsed arguments; sets `error` and returns an
  /// empty operand when they do not fit (a count that is not a constant).
  Operand (*build)(std::span<const Operand> args, std::string& error) = nullptr;
};
using FunctionTable = std::vector<FunctionDef>;

/// prev(x) and next(x) (the neighbouring index), isx(x) (Empty or any
/// element other than 0/1), isz(x).
const FunctionTable& index_functions();

/// Recursive-descent parser for boolean and arithmetic expressions over the
/// trace's signal names, with C/Verilog precedence. Works at the lexer's
/// position and stops before the first token that cannot continue an
/// expression, so other grammars can use it for their leaves.
class ExprParser {
 public:
  ExprParser(ExprLexer& lexer, const Trace& trace, const FunctionTable& functions)
      : lex_(lexer), trace_(trace), functions_(functions) {}

  /// One expression; on failure an empty operand, with `error()` set.
  Operand parse();
  const ParseError& error() const { return error_; }
  bool failed() const { return failed_; }

 private:
  Operand binary(int level);
  Operand unary();
  Operand postfix(Operand base);
  Operand primary();
  Operand name(const Token& t);
  Operand call(const FunctionDef& f, const Token& t);
  Operand fail(std::string message, std::size_t offset);

  ExprLexer& lex_;
  const Trace& trace_;
  const FunctionTable& functions_;
  ParseError error_;
  bool failed_ = false;
};

/// Result of parsing a whole text: `expr` is null exactly when it failed.
struct ParsedExpr {
  ExprPtr expr;
  ParseError error;
};

/// Parses all of `text` as one expression with the given functions.
ParsedExpr parse_expression(std::string_view text, const Trace& trace,
                            const FunctionTable& functions = index_functions());

/// A numeric literal (decimal, 0x/0b/0o, or Verilog based as 8'h3f or
/// 4'b10x1): Bits when every bit is 0/1, else a Logic constant. Sets `error`
/// and returns an empty operand when malformed or wider than 64 bits.
Operand parse_number(std::string_view text, std::string& error);

}  // namespace quarn
