#pragma once

#include <string_view>

#include "eval/expr_parse.h"
#include "eval/seq_ast.h"

namespace quarn {

class Trace;

/// Outcome of parsing: `program.prop` is null exactly when it failed.
struct ParsedSeq {
  SeqProgram program;
  ParseError error;
};

/// Parses a property: `disable iff (e) p`, `not p`, `s |-> p`, `s |=> p`,
/// or a sequence `s`. Sequences: boolean expressions (the expression language
/// with `functions`), `##n`, `##[m:n]`, `##[m:$]`, `[*n]`, `[*m:n]`, `[*m:$]`,
/// `[->n]`, `[->m:n]`, and, or, intersect, throughout, first_match(...),
/// parentheses. Repetition counts start at 1 (no empty matches).
ParsedSeq parse_property(std::string_view text, const Trace& trace, const FunctionTable& functions);

/// Parses a sequence alone (no property operators).
ParsedSeq parse_sequence(std::string_view text, const Trace& trace, const FunctionTable& functions);

}  // namespace quarn
