#include "eval/expr_parse.h"

#include <array>
#include <optional>

#include "trace/trace.h"

namespace quarn {

namespace {

struct BinaryOp {
  std::string_view text;
  int level;  // higher binds tighter
  ExprKind kind;
};

// C/Verilog precedence, loosest first.
constexpr std::array<BinaryOp, 17> kBinaryOps{{
    {"||", 1, ExprKind::Or},      {"&&", 2, ExprKind::And},     {"|", 3, ExprKind::BitOr},
    {"^", 4, ExprKind::BitXor},   {"&", 5, ExprKind::BitAnd},   {"==", 6, ExprKind::Eq},
    {"!=", 6, ExprKind::Neq},     {"<", 7, ExprKind::Lt},       {"<=", 7, ExprKind::Lte},
    {">", 7, ExprKind::Gt},       {">=", 7, ExprKind::Gte},     {"<<", 8, ExprKind::Shl},
    {">>", 8, ExprKind::Shr},     {"+", 9, ExprKind::Add},      {"-", 9, ExprKind::Sub},
    {"*", 10, ExprKind::Mul},     {"/", 10, ExprKind::AlwaysTrue},  // refused with a message
}};
constexpr int kTopLevel = 1;
constexpr int kUnaryLevel = 11;

const BinaryOp* binary_op(const Token& t) {
  if (t.kind != TokenKind::Punct) return nullptr;
  for (const BinaryOp& op : kBinaryOps)
    if (op.text == t.text) return &op;
  return nullptr;
}

Width result_width(ExprKind k, Width a, Width b) {
  switch (k) {
    case ExprKind::Or: case ExprKind::And: case ExprKind::Eq: case ExprKind::Neq:
    case ExprKind::Lt: case ExprKind::Lte: case ExprKind::Gt: case ExprKind::Gte: return 1;
    case ExprKind::Shl: case ExprKind::Shr: return a;
    default: return a == 0 || b == 0 ? 0 : std::max(a, b);
  }
}

Operand unary_fn(ExprKind kind, std::span<const Operand> args, Width width) {
  return {make_unary(kind, args[0].expr), width};
}

}  // namespace

const FunctionTable& index_functions() {
  static const FunctionTable table{
      {"prev", 1, 1, [](std::span<const Operand> a, std::string&) { return Operand{make_rel_eval(a[0].expr, -1), a[0].width}; }},
      {"next", 1, 1, [](std::span<const Operand> a, std::string&) { return Operand{make_rel_eval(a[0].expr, 1), a[0].width}; }},
      {"isx", 1, 1, [](std::span<const Operand> a, std::string&) { return unary_fn(ExprKind::IsUnknown, a, 1); }},
      {"isz", 1, 1, [](std::span<const Operand> a, std::string&) { return unary_fn(ExprKind::IsZ, a, 1); }},
  };
  return table;
}

Operand parse_number(std::string_view text, std::string& error) {
  std::string_view size_text, digits = text;
  unsigned base = 10;
  bool based = false;
  if (const std::size_t q = text.find('\''); q != std::string_view::npos) {
    size_text = text.substr(0, q);
    std::size_t p = q + 1;
    if (p < text.size() && (text[p] == 's' || text[p] == 'S')) ++p;
    const char b = p < text.size() ? static_cast<char>(text[p] | 0x20) : '\0';
    base = b == 'h' ? 16 : b == 'b' ? 2 : b == 'o' ? 8 : b == 'd' ? 10 : 0;
    digits = text.substr(p + 1);
    based = true;
  } else if (text.size() > 1 && text[0] == '0' && (text[1] | 0x20) >= 'a' && (text[1] | 0x20) <= 'z') {
    const char b = static_cast<char>(text[1] | 0x20);
    base = b == 'x' ? 16 : b == 'b' ? 2 : b == 'o' ? 8 : 0;
    digits = text.substr(2);
    based = true;
  }
  auto bad = [&] {
    error = "bad number '" + std::string(text) + "'";
    return Operand{};
  };
  if (base == 0) return bad();
  Width size = 0;
  for (char c : size_text) {
    if (c < '0' || c > '9' || size > 100000) return bad();
    size = size * 10 + static_cast<Width>(c - '0');
  }
  if (!size_text.empty() && size == 0) return bad();

  // Elements, most significant first.
  std::vector<std::uint8_t> bits;
  bool any_digit = false;
  if (base == 10) {
    std::uint64_t v = 0;
    for (char c : digits) {
      if (c == '_') continue;
      if (c < '0' || c > '9') return bad();
      const auto d = static_cast<std::uint64_t>(c - '0');
      if (v > (UINT64_MAX - d) / 10) {
        error = "number wider than 64 bits '" + std::string(text) + "'";
        return Operand{};
      }
      v = v * 10 + d;
      any_digit = true;
    }
    if (!any_digit) return bad();
    if (!based || size == 0) return {make_const(SignalValue::bits(v)), size};
    for (int i = 63; i >= 0; --i) bits.push_back(static_cast<std::uint8_t>((v >> i) & 1));
  } else {
    const unsigned per_digit = base == 16 ? 4 : base == 8 ? 3 : 1;
    for (char c : digits) {
      if (c == '_') continue;
      const char l = static_cast<char>(c | 0x20);
      std::uint8_t fill = 0xff;
      if (l == 'x') fill = kLogicX;
      else if (l == 'z' || c == '?') fill = kLogicZ;
      unsigned d = 0;
      if (fill == 0xff) {
        if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
        else if (l >= 'a' && l <= 'f') d = static_cast<unsigned>(l - 'a' + 10);
        else return bad();
        if (d >= base) return bad();
      }
      for (int i = static_cast<int>(per_digit) - 1; i >= 0; --i)
        bits.push_back(fill != 0xff ? fill : static_cast<std::uint8_t>((d >> i) & 1));
      any_digit = true;
    }
    if (!any_digit) return bad();
  }
  if (size != 0) {
    if (bits.size() > size) {
      bits.erase(bits.begin(), bits.end() - size);
    } else {
      // Verilog pads with the leftmost element when it is X or Z, else 0.
      const std::uint8_t pad = bits[0] >= kLogicX ? bits[0] : kLogic0;
      bits.insert(bits.begin(), size - bits.size(), pad);
    }
  }
  bool two_state = true;
  for (std::uint8_t b : bits) two_state = two_state && b <= kLogic1;
  const Width width = size != 0 ? size : static_cast<Width>(bits.size());
  if (!two_state) return {make_const(SignalValue::logic(std::move(bits))), width};
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < bits.size(); ++i) {
    const std::size_t from_lsb = bits.size() - 1 - i;
    if (bits[i] == kLogic1) {
      if (from_lsb >= 64) {
        error = "number wider than 64 bits '" + std::string(text) + "'";
        return Operand{};
      }
      v |= std::uint64_t{1} << from_lsb;
    }
  }
  return {make_const(SignalValue::bits(v)), width};
}

Operand ExprParser::fail(std::string message, std::size_t offset) {
  if (!failed_) {
    failed_ = true;
    error_ = {std::move(message), column_of(offset)};
  }
  return Operand{};
}

Operand ExprParser::parse() { return binary(kTopLevel); }

Operand ExprParser::binary(int level) {
  if (level >= kUnaryLevel) return unary();
  Operand left = binary(level + 1);
  while (left.expr) {
    const Token t = lex_.peek();
    const BinaryOp* op = binary_op(t);
    if (op == nullptr || op->level != level) break;
    if (op->kind == ExprKind::AlwaysTrue) return fail("operator '" + std::string(t.text) + "' is not supported", t.begin);
    lex_.next();
    Operand right = binary(level + 1);
    if (!right.expr) return Operand{};
    left = {make_binary(op->kind, left.expr, right.expr), result_width(op->kind, left.width, right.width)};
  }
  return left;
}

Operand ExprParser::unary() {
  const Token t = lex_.peek();
  if (t.is("!") || t.is("~") || t.is("-") || t.is("+")) {
    lex_.next();
    Operand x = unary();
    if (!x.expr) return x;
    if (t.is("!")) return {make_unary(ExprKind::Not, x.expr), 1};
    if (t.is("-")) return {make_binary(ExprKind::Sub, make_const(SignalValue::bits(0)), x.expr), x.width};
    if (t.is("+")) return x;
    // Numbers carry no width, so ~ inverts the width the text gives.
    const std::uint64_t mask = x.width > 0 && x.width < 64 ? (std::uint64_t{1} << x.width) - 1 : ~std::uint64_t{0};
    return {make_binary(ExprKind::BitXor, x.expr, make_const(SignalValue::bits(mask))), x.width};
  }
  return postfix(primary());
}

// x[i] and x[msb:lsb]; a '[' not followed by a number belongs to the caller
// (a sequence repetition such as x[*3]).
Operand ExprParser::postfix(Operand base) {
  while (base.expr) {
    const Token open = lex_.peek();
    if (!open.is("[")) break;
    const std::size_t save = lex_.position();
    lex_.next();
    const Token hi = lex_.peek();
    if (hi.kind != TokenKind::Number) {
      lex_.reset(save);
      break;
    }
    lex_.next();
    std::string err;
    const Operand h = parse_number(hi.text, err);
    if (!h.expr || h.expr->value.tag() != ValueTag::Bits || h.expr->value.as_bits() > UINT32_MAX)
      return fail(err.empty() ? "bad bit index '" + std::string(hi.text) + "'" : err, hi.begin);
    auto high = static_cast<std::uint32_t>(h.expr->value.as_bits()), low = high;
    if (lex_.peek().is(":")) {
      lex_.next();
      const Token lo = lex_.next();
      const Operand l = lo.kind == TokenKind::Number ? parse_number(lo.text, err) : Operand{};
      if (!l.expr || l.expr->value.tag() != ValueTag::Bits || l.expr->value.as_bits() > UINT32_MAX)
        return fail("bad bit index '" + std::string(lo.text) + "'", lo.begin);
      low = static_cast<std::uint32_t>(l.expr->value.as_bits());
    }
    const Token close = lex_.next();
    if (!close.is("]")) return fail("expected ']' but found '" + std::string(close.text) + "'", close.begin);
    base = {make_slice(base.expr, high, low), high >= low ? high - low + 1 : 1};
  }
  return base;
}

Operand ExprParser::primary() {
  const Token t = lex_.next();
  switch (t.kind) {
    case TokenKind::Number: {
      std::string err;
      Operand o = parse_number(t.text, err);
      return o.expr ? o : fail(err, t.begin);
    }
    case TokenKind::Name: return name(t);
    case TokenKind::Punct:
      if (t.is("(")) {
        Operand inner = binary(kTopLevel);
        if (!inner.expr) return inner;
        const Token close = lex_.next();
        if (!close.is(")"))
          return fail(close.kind == TokenKind::End ? "expected ')' at the end"
                                                   : "expected ')' but found '" + std::string(close.text) + "'",
                      close.begin);
        return inner;
      }
      return fail("unexpected '" + std::string(t.text) + "'", t.begin);
    case TokenKind::End: return fail("expression expected at the end", t.begin);
    case TokenKind::Invalid: break;
  }
  return fail("unexpected character '" + std::string(t.text) + "'", t.begin);
}

Operand ExprParser::name(const Token& t) {
  std::array<std::size_t, 64> ends{};
  const std::size_t count = lex_.name_ends(t, ends.data(), ends.size());
  const std::string_view src = lex_.source();
  // A single identifier followed by '(' calls a function.
  if (count >= 1 && ends[0] == t.end && lex_.peek().is("(")) {
    std::string_view fname = src.substr(t.begin, t.end - t.begin);
    if (!fname.empty() && fname[0] == '$') fname.remove_prefix(1);
    for (const FunctionDef& f : functions_)
      if (f.name == fname) return call(f, t);
    return fail("unknown function '" + std::string(t.text) + "'", t.begin);
  }
  // The longest prefix the trace knows: "top.lane[0].done" is a name, while
  // in "top.data[7:0]" only "top.data" is and the bracket group a slice.
  for (std::size_t k = count; k-- > 0;) {
    const std::string_view candidate = src.substr(t.begin, ends[k] - t.begin);
    if (const auto id = trace_.signal_id(candidate)) {
      lex_.reset(ends[k]);
      return {make_signal(*id), trace_.signal_width(candidate)};
    }
  }
  std::string_view shown = t.text;
  while (!shown.empty() && shown.back() == ']') {
    const std::size_t open = shown.rfind('[');
    if (open == std::string_view::npos || open == 0) break;
    shown = shown.substr(0, open);
  }
  return fail("unknown signal '" + std::string(shown) + "'", t.begin);
}

Operand ExprParser::call(const FunctionDef& f, const Token& t) {
  lex_.next();  // '('
  std::vector<Operand> args;
  if (!lex_.peek().is(")")) {
    while (true) {
      Operand a = binary(kTopLevel);
      if (!a.expr) return a;
      args.push_back(std::move(a));
      if (!lex_.peek().is(",")) break;
      lex_.next();
    }
  }
  const Token close = lex_.next();
  if (!close.is(")"))
    return fail(close.kind == TokenKind::End ? "expected ')' at the end"
                                             : "expected ')' but found '" + std::string(close.text) + "'",
                close.begin);
  if (args.size() < f.min_args || args.size() > f.max_args) {
    const std::string range = f.min_args == f.max_args
                                  ? std::to_string(f.min_args)
                                  : std::to_string(f.min_args) + " or " + std::to_string(f.max_args);
    return fail("function '" + std::string(t.text) + "' takes " + range + " argument" + (f.max_args == 1 ? "" : "s") +
                    ", not " + std::to_string(args.size()),
                t.begin);
  }
  std::string err;
  Operand r = f.build(args, err);
  if (!r.expr) return fail("function '" + std::string(t.text) + "': " + err, t.begin);
  return r;
}

ParsedExpr parse_expression(std::string_view text, const Trace& trace, const FunctionTable& functions) {
  ExprLexer lex(text);
  ExprParser parser(lex, trace, functions);
  Operand o = parser.parse();
  if (!o.expr) return {nullptr, parser.error()};
  const Token rest = lex.peek();
  if (rest.kind != TokenKind::End)
    return {nullptr, {"unexpected '" + std::string(rest.text) + "'", column_of(rest.begin)}};
  return {o.expr, {}};
}

}  // namespace quarn
