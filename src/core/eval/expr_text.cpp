#include "eval/expr_text.h"

#include <cstdio>
#include <string_view>

namespace quarn {
namespace {

// Trees from generated code can be very deep; past this the text elides.
constexpr std::size_t kMaxDepth = 200;

std::string_view operator_text(ExprKind k) {
  switch (k) {
    case ExprKind::And: return " && ";
    case ExprKind::Or: return " || ";
    case ExprKind::Eq: return " == ";
    case ExprKind::Neq: return " != ";
    case ExprKind::Gt: return " > ";
    case ExprKind::Lt: return " < ";
    case ExprKind::Gte: return " >= ";
    case ExprKind::Lte: return " <= ";
    case ExprKind::Add: return " + ";
    case ExprKind::Sub: return " - ";
    case ExprKind::BitAnd: return " & ";
    case ExprKind::BitOr: return " | ";
    case ExprKind::BitXor: return " ^ ";
    default: return " ? ";
  }
}

std::string const_text(const SignalValue& v) {
  char buf[64];
  switch (v.tag()) {
    case ValueTag::Bits: return std::to_string(v.as_bits());
    case ValueTag::WideBits: {
      std::string hex;
      const auto& w = v.as_wide_bits();
      for (std::size_t i = w.size(); i-- > 0;) {
        std::snprintf(buf, sizeof buf, hex.empty() ? "%llx" : "%016llx", static_cast<unsigned long long>(w[i]));
        if (!(hex.empty() && w[i] == 0 && i > 0)) hex += buf;
      }
      return "0x" + (hex.empty() ? std::string("0") : hex);
    }
    case ValueTag::Logic: {
      std::string bits = "'b";
      for (auto b : v.as_logic()) bits.push_back("01xz"[b & 3]);
      return bits;
    }
    case ValueTag::Real: std::snprintf(buf, sizeof buf, "%.17g", v.as_real()); return buf;
    case ValueTag::Text: {
      std::string s = "\"";
      for (char c : v.as_text()) {
        if (c == '"' || c == '\\') s.push_back('\\');
        s.push_back(c);
      }
      return s + "\"";
    }
    case ValueTag::Empty: break;
  }
  return "none";
}

void write(const Expr& e, const SignalNamer& name_of, std::string& out, std::size_t depth) {
  if (depth > kMaxDepth) {
    out += "...";
    return;
  }
  auto child = [&](const ExprPtr& c, bool wrap) {
    if (!c) {
      out += "?";
      return;
    }
    wrap = wrap && is_binary(c->kind);
    if (wrap) out.push_back('(');
    write(*c, name_of, out, depth + 1);
    if (wrap) out.push_back(')');
  };
  auto call = [&](std::string_view fn) {
    out.append(fn);
    out.push_back('(');
    child(e.left, false);
    out.push_back(')');
  };
  switch (e.kind) {
    case ExprKind::Signal: {
      std::string name = name_of ? name_of(e.id) : std::string();
      out += name.empty() ? "signal(" + std::to_string(e.id) + ")" : name;
      return;
    }
    case ExprKind::Const: out += const_text(e.value); return;
    case ExprKind::AlwaysTrue: out += "true"; return;
    case ExprKind::RelEval:
      if (e.offset == -1) return call("prev");
      if (e.offset == 1) return call("next");
      child(e.left, true);
      out += ".rel_eval(" + std::to_string(e.offset) + ")";
      return;
    case ExprKind::Not: out.push_back('!'); child(e.left, true); return;
    case ExprKind::Signed: return call("signed");
    case ExprKind::IsX: return call("isx");
    case ExprKind::IsZ: return call("isz");
    case ExprKind::Slice:
      child(e.left, true);
      out += "[" + std::to_string(e.high) + ":" + std::to_string(e.low) + "]";
      return;
    default:
      child(e.left, true);
      out.append(operator_text(e.kind));
      child(e.right, true);
      return;
  }
}

}  // namespace

std::string expr_text(const Expr& expr, const SignalNamer& name_of) {
  std::string out;
  write(expr, name_of, out, 0);
  return out;
}

SignalValue int_constant(std::vector<std::uint64_t> words) {
  if (words.size() <= 1) return SignalValue::bits(words.empty() ? 0 : words[0]);
  return SignalValue::wide_bits(std::move(words));
}

}  // namespace quarn
