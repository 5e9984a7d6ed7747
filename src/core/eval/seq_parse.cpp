#include "eval/seq_parse.h"

#include <map>
#include <string>

namespace quarn {

namespace {

using Node = std::unique_ptr<SeqNode>;
using Prop = std::unique_ptr<PropNode>;

constexpr std::size_t kMaxLeaves = 64;
// Bounded counts and delays become automaton states; this keeps them modest.
constexpr std::uint64_t kMaxCount = 4096;

bool is_keyword(const Token& t, std::string_view word) { return t.kind == TokenKind::Name && t.text == word; }

// Tokens after which a boolean leaf is complete at the sequence level.
bool ends_leaf(const Token& t) {
  if (t.kind == TokenKind::End) return true;
  if (t.kind == TokenKind::Punct)
    return t.is(")") || t.is("##") || t.is("[*") || t.is("[->") || t.is("[=") || t.is("|->") || t.is("|=>");
  return is_keyword(t, "and") || is_keyword(t, "or") || is_keyword(t, "intersect") || is_keyword(t, "throughout");
}

Node node(SeqNode::Kind k, Node a = nullptr, Node b = nullptr) {
  auto n = std::make_unique<SeqNode>();
  n->kind = k;
  n->a = std::move(a);
  n->b = std::move(b);
  return n;
}

class SeqParser {
 public:
  SeqParser(std::string_view text, const Trace& trace, const FunctionTable& functions)
      : lex_(text), trace_(trace), functions_(functions) {}

  ParsedSeq run(bool property) {
    ParsedSeq out;
    Prop p;
    if (property) {
      p = prop();
    } else if (Node s = seq_or()) {
      p = std::make_unique<PropNode>();
      p->seq = std::move(s);
    }
    if (p && !failed_) {
      const Token rest = lex_.peek();
      if (rest.kind != TokenKind::End) fail("unexpected '" + std::string(rest.text) + "'", rest.begin);
    }
    if (failed_) {
      out.error = error_;
      return out;
    }
    out.program.leaves = std::move(leaves_);
    out.program.prop = std::move(p);
    return out;
  }

 private:
  std::nullptr_t fail(std::string message, std::size_t offset) {
    // Of several attempts (a parenthesis may open an expression or a
    // sequence) the error that got furthest is the one to show.
    if (!failed_ || column_of(offset) > error_.column) error_ = {std::move(message), column_of(offset)};
    failed_ = true;
    return nullptr;
  }

  bool expect(std::string_view punct) {
    const Token t = lex_.next();
    if (t.is(punct)) return true;
    fail(t.kind == TokenKind::End ? "expected '" + std::string(punct) + "' at the end"
                                  : "expected '" + std::string(punct) + "' but found '" + std::string(t.text) + "'",
         t.begin);
    return false;
  }

  bool count(std::uint64_t& out, bool allow_dollar, bool allow_zero) {
    const Token t = lex_.next();
    if (allow_dollar && t.is("$")) {
      out = kUnbounded;
      return true;
    }
    std::string err;
    const Operand n = t.kind == TokenKind::Number ? parse_number(t.text, err) : Operand{};
    if (!n.expr || n.expr->kind != ExprKind::Const || n.expr->value.tag() != ValueTag::Bits) {
      fail("expected a number but found '" + std::string(t.text) + "'", t.begin);
      return false;
    }
    out = n.expr->value.as_bits();
    if (out > kMaxCount) {
      fail("count " + std::to_string(out) + " is larger than " + std::to_string(kMaxCount), t.begin);
      return false;
    }
    if (out == 0 && !allow_zero) {
      fail("a repetition count of 0 is not supported", t.begin);
      return false;
    }
    return true;
  }

  // "n" or "[m:n]" after '##' (delays) or after '[*' / '[->' (counts, closed by ']').
  bool range(std::uint64_t& lo, std::uint64_t& hi, bool delay) {
    if (delay && !lex_.peek().is("[")) {
      if (!count(lo, false, true)) return false;
      hi = lo;
      return true;
    }
    if (delay) lex_.next();
    if (!count(lo, false, delay)) return false;
    hi = lo;
    if (lex_.peek().is(":")) {
      lex_.next();
      const std::size_t at = lex_.peek().begin;
      if (!count(hi, true, delay)) return false;
      if (hi < lo) {
        fail("range ends before it starts", at);
        return false;
      }
    }
    return expect("]");
  }

  std::uint32_t leaf_of(const ExprPtr& e, std::string_view text) {
    const auto it = leaf_ids_.find(std::string(text));
    if (it != leaf_ids_.end()) return it->second;
    const auto id = static_cast<std::uint32_t>(leaves_.size());
    leaves_.push_back(e);
    leaf_ids_.emplace(std::string(text), id);
    return id;
  }

  // A boolean expression at the lexer's position; null (without an error
  // recorded) when it is not complete at the sequence level.
  Node try_leaf(bool record_error) {
    const std::size_t start = lex_.position();
    ExprParser p(lex_, trace_, functions_);
    const Operand o = p.parse();
    if (!o.expr || !ends_leaf(lex_.peek())) {
      if (record_error) {
        if (p.failed()) fail(p.error().message, p.error().column - 1);
        else fail("unexpected '" + std::string(lex_.peek().text) + "'", lex_.peek().begin);
      }
      return nullptr;
    }
    if (leaves_.size() >= kMaxLeaves && !leaf_ids_.count(std::string(text_of(start)))) {
      fail("more than 64 distinct conditions", start);
      return nullptr;
    }
    Node n = node(SeqNode::Kind::Leaf);
    n->leaf = leaf_of(o.expr, text_of(start));
    return n;
  }

  std::string_view text_of(std::size_t start) const {
    std::string_view s = lex_.source().substr(start, lex_.position() - start);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
  }

  Node primary() {
    const Token t = lex_.peek();
    if (is_keyword(t, "first_match")) {
      lex_.next();
      if (!expect("(")) return nullptr;
      Node inner = seq_or();
      if (!inner || !expect(")")) return nullptr;
      return node(SeqNode::Kind::FirstMatch, std::move(inner));
    }
    if (t.is("(")) {
      const std::size_t save = lex_.position();
      if (Node leaf = try_leaf(false)) return leaf;
      lex_.reset(save);
      lex_.next();
      Node inner = seq_or();
      if (!inner || !expect(")")) return nullptr;
      return inner;
    }
    return try_leaf(true);
  }

  Node repetition() {
    Node n = primary();
    while (n) {
      const Token t = lex_.peek();
      if (t.is("[*")) {
        lex_.next();
        auto r = node(SeqNode::Kind::Repeat, std::move(n));
        if (!range(r->lo, r->hi, false)) return nullptr;
        n = std::move(r);
      } else if (t.is("[->")) {
        if (n->kind != SeqNode::Kind::Leaf) return fail("goto repetition needs a boolean operand", t.begin);
        lex_.next();
        auto r = node(SeqNode::Kind::Goto);
        r->leaf = n->leaf;
        if (!range(r->lo, r->hi, false)) return nullptr;
        if (r->hi == kUnbounded) return fail("goto repetition needs a bounded count", t.begin);
        n = std::move(r);
      } else if (t.is("[=")) {
        return fail("non-consecutive repetition '[=' is not supported", t.begin);
      } else {
        break;
      }
    }
    return n;
  }

  Node concat() {
    Node left;
    if (!lex_.peek().is("##")) {
      left = repetition();
      if (!left) return nullptr;
    }
    while (lex_.peek().is("##")) {
      lex_.next();
      auto c = node(SeqNode::Kind::Concat, std::move(left));
      if (!range(c->lo, c->hi, true)) return nullptr;
      c->b = repetition();
      if (!c->b) return nullptr;
      left = std::move(c);
    }
    return left;
  }

  Node throughout() {
    const std::size_t at = lex_.peek().begin;
    Node left = concat();
    if (!left || !is_keyword(lex_.peek(), "throughout")) return left;
    if (left->kind != SeqNode::Kind::Leaf) return fail("throughout needs a boolean on its left", at);
    lex_.next();
    auto t = node(SeqNode::Kind::Throughout, throughout());
    if (!t->a) return nullptr;
    t->leaf = left->leaf;
    return t;
  }

  template <class Next>
  Node binary(std::string_view word, SeqNode::Kind kind, Next next) {
    Node left = (this->*next)();
    while (left && is_keyword(lex_.peek(), word)) {
      lex_.next();
      Node right = (this->*next)();
      if (!right) return nullptr;
      left = node(kind, std::move(left), std::move(right));
    }
    return left;
  }

  Node intersect() { return binary("intersect", SeqNode::Kind::Intersect, &SeqParser::throughout); }
  Node seq_and() { return binary("and", SeqNode::Kind::And, &SeqParser::intersect); }
  Node seq_or() { return binary("or", SeqNode::Kind::Or, &SeqParser::seq_and); }

  Prop prop() {
    const Token t = lex_.peek();
    auto p = std::make_unique<PropNode>();
    if (is_keyword(t, "disable")) {
      lex_.next();
      const Token iff = lex_.next();
      if (!is_keyword(iff, "iff")) return fail("expected 'iff' after 'disable'", iff.begin);
      if (!expect("(")) return nullptr;
      ExprParser ep(lex_, trace_, functions_);
      const std::size_t start = lex_.position();
      const Operand cond = ep.parse();
      if (!cond.expr) return fail(ep.error().message, ep.error().column - 1);
      const std::string_view text = text_of(start);
      if (!expect(")")) return nullptr;
      p->kind = PropNode::Kind::Disable;
      p->leaf = leaf_of(cond.expr, text);
      p->child = prop();
      return p->child ? std::move(p) : nullptr;
    }
    if (is_keyword(t, "not")) {
      lex_.next();
      p->kind = PropNode::Kind::Not;
      p->child = prop();
      return p->child ? std::move(p) : nullptr;
    }
    if (t.is("(")) {
      // A parenthesised property that is no sequence, as in a |-> (b |-> c).
      const std::size_t save = lex_.position();
      const bool had_error = failed_;
      Prop as_seq = implication();
      if (as_seq) return as_seq;
      const ParseError seq_error = error_;
      lex_.reset(save);
      failed_ = had_error;
      lex_.next();
      Prop inner = prop();
      if (inner && expect(")")) return inner;
      if (seq_error.column >= error_.column) error_ = seq_error;
      return nullptr;
    }
    return implication();
  }

  Prop implication() {
    auto p = std::make_unique<PropNode>();
    p->seq = seq_or();
    if (!p->seq) return nullptr;
    const Token t = lex_.peek();
    if (t.is("|->") || t.is("|=>")) {
      lex_.next();
      p->kind = PropNode::Kind::Implies;
      p->overlapping = t.is("|->");
      p->child = prop();
      if (!p->child) return nullptr;
    }
    return p;
  }

  ExprLexer lex_;
  const Trace& trace_;
  const FunctionTable& functions_;
  std::vector<ExprPtr> leaves_;
  std::map<std::string, std::uint32_t> leaf_ids_;
  ParseError error_;
  bool failed_ = false;
};

}  // namespace

ParsedSeq parse_property(std::string_view text, const Trace& trace, const FunctionTable& functions) {
  return SeqParser(text, trace, functions).run(true);
}

ParsedSeq parse_sequence(std::string_view text, const Trace& trace, const FunctionTable& functions) {
  return SeqParser(text, trace, functions).run(false);
}

}  // namespace quarn
