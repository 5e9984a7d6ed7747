#include "eval/program.h"

#include <unordered_map>
#include <unordered_set>

#include "signal/column.h"
#include "trace/trace.h"

namespace quarn {

namespace {

struct NodeAt {
  const Expr* node;
  WideIndex shift;
  bool operator==(const NodeAt&) const = default;
};

struct NodeAtHash {
  std::size_t operator()(const NodeAt& k) const {
    const auto lo = static_cast<std::uint64_t>(k.shift);
    const auto hi = static_cast<std::uint64_t>(static_cast<unsigned __int128>(k.shift) >> 64);
    std::size_t h = std::hash<const void*>()(k.node);
    h ^= std::hash<std::uint64_t>()(lo) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    h ^= std::hash<std::uint64_t>()(hi) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    return h;
  }
};

struct Frame {
  NodeAt at;
  int stage = 0;
  bool right_first = false;
};

// Operand references are step numbers until slots are assigned.
Step make_step(const Trace& trace, const NodeAt& at, std::uint32_t left, std::uint32_t right) {
  Step s;
  s.node = at.node;
  s.shift = at.shift;
  s.left = left;
  s.right = right;
  if (at.node->kind == ExprKind::Signal) {
    s.column = trace.column(at.node->id);
    // Lets the decoder skip every tag test.
    s.all_bits = s.column != nullptr && s.column->only_bits();
    s.all_0_1 = s.column != nullptr && s.column->only_bits_0_1();
  }
  return s;
}

void assign_slots(Program& p) {
  const std::size_t n = p.steps.size();
  std::vector<std::uint32_t> last_use(n, 0);
  for (std::uint32_t k = 0; k < n; ++k) {
    if (p.steps[k].left != kNoSlot) last_use[p.steps[k].left] = k;
    if (p.steps[k].right != kNoSlot) last_use[p.steps[k].right] = k;
  }
  std::vector<std::uint32_t> slot_of(n, kNoSlot);
  std::vector<std::uint32_t> free_slots;
  for (std::uint32_t k = 0; k < n; ++k) {
    Step& s = p.steps[k];
    std::uint32_t out;
    if (free_slots.empty()) {
      out = p.slot_count++;
    } else {
      out = free_slots.back();
      free_slots.pop_back();
    }
    const std::uint32_t l = s.left, r = s.right;
    s.out = out;
    slot_of[k] = out;
    if (l != kNoSlot) s.left = slot_of[l];
    if (r != kNoSlot) s.right = slot_of[r];
    // Freed only after the output is taken, so a step never writes a slot it reads.
    if (l != kNoSlot && last_use[l] == k) free_slots.push_back(slot_of[l]);
    if (r != kNoSlot && r != l && last_use[r] == k) free_slots.push_back(slot_of[r]);
  }
  p.result_slot = n ? p.steps.back().out : 0;
}

// The signals of the root's conjunction. Subtrees may be shared, so each node
// is visited once.
std::vector<std::uint32_t> find_guards(const Expr& root,
                                       const std::unordered_map<NodeAt, std::uint32_t, NodeAtHash>& done) {
  std::vector<std::uint32_t> guards;
  // Only an And at the root turns a falsy guard into the result's own value.
  if (root.kind != ExprKind::And) return guards;
  std::unordered_set<const Expr*> seen;
  std::vector<const Expr*> todo{&root};
  while (!todo.empty()) {
    const Expr* e = todo.back();
    todo.pop_back();
    if (!seen.insert(e).second) continue;
    if (e->kind == ExprKind::And) {
      todo.push_back(e->left.get());
      todo.push_back(e->right.get());
    } else if (e->kind == ExprKind::Signal) {
      guards.push_back(done.at({e, 0}));
    }
  }
  return guards;
}

}  // namespace

Program compile(const Trace& trace, const Expr& root) {
  Program p;
  p.max_index = trace.max_index();
  std::unordered_map<NodeAt, std::uint32_t, NodeAtHash> done;
  std::vector<Frame> stack;
  std::vector<std::uint32_t> results;  // step numbers of finished operands
  stack.push_back({{&root, 0}});
  auto finish = [&](const NodeAt& at, std::uint32_t left, std::uint32_t right) {
    const auto k = static_cast<std::uint32_t>(p.steps.size());
    p.steps.push_back(make_step(trace, at, left, right));
    done.emplace(at, k);
    results.push_back(k);
    stack.pop_back();
  };
  while (!stack.empty()) {
    Frame& f = stack.back();
    const Expr* e = f.at.node;
    if (f.stage == 0) {
      if (auto it = done.find(f.at); it != done.end()) {
        results.push_back(it->second);
        stack.pop_back();
        continue;
      }
      if (is_unary(e->kind)) {
        f.stage = 1;
        const WideIndex shift = e->kind == ExprKind::RelEval ? f.at.shift + e->offset : f.at.shift;
        stack.push_back({{e->left.get(), shift}});
      } else if (is_binary(e->kind)) {
        // The deeper operand first: then at most log2(size) values wait at once.
        f.stage = 1;
        f.right_first = e->right->height > e->left->height;
        const Expr* first = f.right_first ? e->right.get() : e->left.get();
        stack.push_back({{first, f.at.shift}});
      } else {
        finish(f.at, kNoSlot, kNoSlot);
      }
    } else if (is_unary(e->kind)) {
      const std::uint32_t child = results.back();
      results.pop_back();
      finish(f.at, child, kNoSlot);
    } else if (f.stage == 1) {
      f.stage = 2;
      const Expr* second = f.right_first ? e->left.get() : e->right.get();
      stack.push_back({{second, f.at.shift}});
    } else {
      const std::uint32_t second = results.back();
      results.pop_back();
      const std::uint32_t first = results.back();
      results.pop_back();
      const bool right_first = f.right_first;
      const NodeAt at = f.at;
      finish(at, right_first ? second : first, right_first ? first : second);
    }
  }
  p.guards = find_guards(root, done);
  assign_slots(p);
  return p;
}

}  // namespace quarn
