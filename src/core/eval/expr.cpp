#include "eval/expr.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace quarn {

Expr::~Expr() {
  // Detach children whose last owner we are before releasing them, so that
  // releasing never nests one destructor inside another.
  std::vector<ExprPtr> pending;
  if (left) pending.push_back(std::move(left));
  if (right) pending.push_back(std::move(right));
  while (!pending.empty()) {
    ExprPtr node = std::move(pending.back());
    pending.pop_back();
    if (node.use_count() == 1) {
      // Sole owner: nobody else can observe the node any more.
      auto& owned = const_cast<Expr&>(*node);
      if (owned.left) pending.push_back(std::move(owned.left));
      if (owned.right) pending.push_back(std::move(owned.right));
    }
  }
}

namespace {

std::uint32_t height_over(const ExprPtr& a, const ExprPtr& b) {
  const std::uint32_t h = std::max(a ? a->height : 0u, b ? b->height : 0u);
  return h == UINT32_MAX ? h : h + 1;
}

std::shared_ptr<Expr> node(ExprKind kind) {
  auto e = std::make_shared<Expr>();
  e->kind = kind;
  return e;
}

}  // namespace

ExprPtr make_signal(SignalId id) {
  auto e = node(ExprKind::Signal);
  e->id = id;
  return e;
}

ExprPtr make_const(SignalValue value) {
  auto e = node(ExprKind::Const);
  e->value = std::move(value);
  return e;
}

ExprPtr make_rel_eval(ExprPtr child, std::int64_t offset) {
  auto e = node(ExprKind::RelEval);
  e->offset = offset;
  e->height = height_over(child, nullptr);
  e->left = std::move(child);
  return e;
}

ExprPtr make_unary(ExprKind kind, ExprPtr child) {
  auto e = node(kind);
  e->height = height_over(child, nullptr);
  e->left = std::move(child);
  return e;
}

ExprPtr make_binary(ExprKind kind, ExprPtr left, ExprPtr right) {
  auto e = node(kind);
  e->height = height_over(left, right);
  e->left = std::move(left);
  e->right = std::move(right);
  return e;
}

ExprPtr make_slice(ExprPtr child, std::uint32_t high, std::uint32_t low) {
  auto e = node(ExprKind::Slice);
  e->high = high;
  e->low = low;
  e->height = height_over(child, nullptr);
  e->left = std::move(child);
  return e;
}

ExprPtr make_always_true() { return node(ExprKind::AlwaysTrue); }

}  // namespace quarn
