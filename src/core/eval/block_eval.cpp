#include "eval/block_eval.h"

#include <algorithm>

#include "eval/value_ops.h"
#include "signal/column.h"

namespace quarn {

namespace {

struct Reading {
  const std::uint64_t* num;
  const std::uint8_t* ok;
};

void set_uniform(Lanes& out, bool ok, std::uint64_t num) {
  out.uniform = true;
  out.general = false;
  out.ok[0] = ok;
  out.num[0] = ok ? num : 0;
}

void set_uniform_view(Lanes& out, const ValueView& v) {
  if (v.tag == ValueTag::Bits) return set_uniform(out, true, v.scalar);
  if (v.tag == ValueTag::Empty) return set_uniform(out, false, 0);
  out.uniform = true;
  out.general = true;
  out.views[0] = v;
}

ValueView lane_view(const Lanes& x, std::size_t j) {
  const std::size_t i = x.uniform ? 0 : j;
  if (x.general) return x.views[i];
  return x.ok[i] ? ValueView::bits(x.num[i]) : ValueView::empty();
}

// Lanes 0 .. upto-1 move from num/ok to views.
void make_general(Lanes& x, std::size_t upto) {
  for (std::size_t j = 0; j < upto; ++j) x.views[j] = x.ok[j] ? ValueView::bits(x.num[j]) : ValueView::empty();
  x.general = true;
}

void fill_empty(Lanes& x, std::size_t from, std::size_t to) {
  if (from >= to) return;
  if (x.general) {
    std::fill(x.views + from, x.views + to, ValueView::empty());
  } else {
    std::fill(x.num + from, x.num + to, 0);
    std::fill(x.ok + from, x.ok + to, 0);
  }
}

template <class Scratch>
Reading reading(const Lanes& x, std::size_t count, Scratch& s) {
  if (!x.general && !(x.uniform && count > 1)) return {x.num, x.ok};
  const std::size_t m = x.uniform ? 1 : count;
  if (x.general) {
    for (std::size_t j = 0; j < m; ++j) {
      std::uint64_t v = 0;
      s.ok[j] = read_u64(x.views[j], v);
      s.num[j] = v;
    }
  } else {
    s.ok[0] = x.ok[0];
    s.num[0] = x.num[0];
  }
  if (m < count) {
    std::fill(s.num + 1, s.num + count, s.num[0]);
    std::fill(s.ok + 1, s.ok + count, s.ok[0]);
  }
  return {s.num, s.ok};
}

void truth_of(const Lanes& x, std::size_t count, std::uint8_t* t) {
  const std::size_t m = x.uniform ? 1 : count;
  if (x.general) {
    for (std::size_t j = 0; j < m; ++j) t[j] = view_truthy(x.views[j]);
  } else {
    for (std::size_t j = 0; j < m; ++j) t[j] = x.ok[j] & (x.num[j] != 0);
  }
  if (m < count) std::fill(t + 1, t + count, t[0]);
}

template <class F>
void combine(const Reading& a, const Reading& b, std::size_t count, Lanes& out, F f) {
  for (std::size_t j = 0; j < count; ++j) {
    out.ok[j] = a.ok[j] & b.ok[j];
    out.num[j] = f(a.num[j], b.num[j]);
  }
}

template <class F>
void combine_bool(const Reading& a, const Reading& b, std::size_t count, Lanes& out, F f) {
  combine(a, b, count, out, [f](std::uint64_t x, std::uint64_t y) -> std::uint64_t { return f(x, y) ? 1 : 0; });
}

}  // namespace

BlockEvaluator::BlockEvaluator(const Program& program)
    : program_(program), run_hint_(program.steps.size(), 0), scratch_(new Scratch[3]) {
  slots_.reserve(program.slot_count);
  for (std::uint32_t k = 0; k < program.slot_count; ++k) slots_.push_back(std::make_unique<Lanes>());
}

static std::size_t locate_run(const Column& c, Index index, std::size_t hint) {
  if (hint >= c.run_count() || c.run_start(hint) > index) return c.run_at(index);
  if (c.run_end(hint) > index) return hint;
  // Windows move forward, so the next run is the usual answer.
  if (hint + 1 < c.run_count() && c.run_end(hint + 1) > index) return hint + 1;
  return c.run_at(index);
}

void BlockEvaluator::signal(const Step& s, std::size_t k, Lanes& out) {
  const Column* c = s.column;
  const WideIndex n = static_cast<WideIndex>(n_);
  const WideIndex e0 = static_cast<WideIndex>(start_) + s.shift;
  if (c == nullptr) return set_uniform(out, false, 0);
  // Lanes ja .. jb-1 fall inside the column; the others read Empty.
  const WideIndex ja = std::clamp<WideIndex>(-e0, 0, n);
  const WideIndex jb = std::clamp<WideIndex>(static_cast<WideIndex>(c->length()) - e0, 0, n);
  if (ja >= jb) return set_uniform(out, false, 0);
  std::size_t run = locate_run(*c, static_cast<Index>(e0 + ja), run_hint_[k]);
  if (ja == 0 && jb == n && static_cast<WideIndex>(c->run_end(run)) >= e0 + n) {
    run_hint_[k] = run;
    return set_uniform_view(out, c->run_value(run));
  }
  out.uniform = false;
  out.general = false;
  auto j = static_cast<std::size_t>(ja);
  const auto stop = static_cast<std::size_t>(jb);
  while (true) {
    const auto end = static_cast<std::size_t>(std::min<WideIndex>(static_cast<WideIndex>(c->run_end(run)) - e0, jb));
    const ValueView v = c->run_value(run);
    if (!out.general && v.tag == ValueTag::Bits) {
      std::fill(out.num + j, out.num + end, v.scalar);
      std::fill(out.ok + j, out.ok + end, 1);
    } else if (!out.general && v.tag == ValueTag::Empty) {
      fill_empty(out, j, end);
    } else {
      if (!out.general) make_general(out, j);
      std::fill(out.views + j, out.views + end, v);
    }
    j = end;
    if (j >= stop) break;
    ++run;
  }
  run_hint_[k] = run;
  fill_empty(out, 0, static_cast<std::size_t>(ja));
  fill_empty(out, stop, n_);
}

void BlockEvaluator::rel_eval(const Step& s, const Lanes& x, Lanes& out) {
  const WideIndex n = static_cast<WideIndex>(n_);
  const WideIndex t0 = static_cast<WideIndex>(start_) + s.shift + s.node->offset;
  // Lanes whose target lies in 0 .. max_index; the others are Empty.
  const WideIndex ja = std::clamp<WideIndex>(-t0, 0, n);
  const WideIndex jb = std::clamp<WideIndex>(static_cast<WideIndex>(program_.max_index) + 1 - t0, 0, n);
  if (ja >= jb) return set_uniform(out, false, 0);
  out.general = x.general;
  if (ja == 0 && jb == n) {
    out.uniform = x.uniform;
    const std::size_t m = x.uniform ? 1 : n_;
    if (x.general) {
      std::copy(x.views, x.views + m, out.views);
    } else {
      std::copy(x.num, x.num + m, out.num);
      std::copy(x.ok, x.ok + m, out.ok);
    }
    return;
  }
  out.uniform = false;
  const auto a = static_cast<std::size_t>(ja), b = static_cast<std::size_t>(jb);
  for (std::size_t j = a; j < b; ++j) {
    const std::size_t i = x.uniform ? 0 : j;
    if (x.general) {
      out.views[j] = x.views[i];
    } else {
      out.num[j] = x.num[i];
      out.ok[j] = x.ok[i];
    }
  }
  fill_empty(out, 0, a);
  fill_empty(out, b, n_);
}

void BlockEvaluator::run(Index start, std::size_t n) {
  start_ = start;
  n_ = n;
  Scratch& s0 = scratch_[0];
  Scratch& s1 = scratch_[1];
  for (std::size_t k = 0; k < program_.steps.size(); ++k) {
    const Step& s = program_.steps[k];
    Lanes& out = *slots_[s.out];
    const Lanes* a = s.left != kNoSlot ? slots_[s.left].get() : nullptr;
    const Lanes* b = s.right != kNoSlot ? slots_[s.right].get() : nullptr;
    const bool uniform = (a == nullptr || a->uniform) && (b == nullptr || b->uniform);
    const std::size_t count = uniform ? 1 : n;
    switch (s.node->kind) {
      case ExprKind::Signal: signal(s, k, out); continue;
      case ExprKind::Const: set_uniform_view(out, view_of(s.node->value)); continue;
      case ExprKind::AlwaysTrue: set_uniform(out, true, 1); continue;
      case ExprKind::RelEval: rel_eval(s, *a, out); continue;
      default: break;
    }
    out.uniform = uniform;
    out.general = false;
    switch (s.node->kind) {
      case ExprKind::Not:
        truth_of(*a, count, s0.ok);
        for (std::size_t j = 0; j < count; ++j) out.num[j] = s0.ok[j] ^ 1;
        std::fill(out.ok, out.ok + count, 1);
        break;
      case ExprKind::And:
      case ExprKind::Or: {
        truth_of(*a, count, s0.ok);
        truth_of(*b, count, s1.ok);
        if (s.node->kind == ExprKind::And) {
          for (std::size_t j = 0; j < count; ++j) out.num[j] = s0.ok[j] & s1.ok[j];
        } else {
          for (std::size_t j = 0; j < count; ++j) out.num[j] = s0.ok[j] | s1.ok[j];
        }
        std::fill(out.ok, out.ok + count, 1);
        break;
      }
      case ExprKind::Eq:
      case ExprKind::Neq: {
        const std::uint8_t flip = s.node->kind == ExprKind::Neq;
        if (!a->general && !b->general) {
          const Reading ra = reading(*a, count, s0), rb = reading(*b, count, s1);
          for (std::size_t j = 0; j < count; ++j) {
            // Equal numbers, or both Empty.
            const std::uint8_t eq = (ra.ok[j] & rb.ok[j] & (ra.num[j] == rb.num[j])) | ((ra.ok[j] | rb.ok[j]) ^ 1);
            out.num[j] = eq ^ flip;
          }
        } else {
          for (std::size_t j = 0; j < count; ++j)
            out.num[j] = static_cast<std::uint8_t>(values_match(lane_view(*a, j), lane_view(*b, j))) ^ flip;
        }
        std::fill(out.ok, out.ok + count, 1);
        break;
      }
      case ExprKind::Gt:
      case ExprKind::Lt:
      case ExprKind::Gte:
      case ExprKind::Lte:
      case ExprKind::Add:
      case ExprKind::Sub:
      case ExprKind::BitAnd:
      case ExprKind::BitOr:
      case ExprKind::BitXor: {
        const Reading ra = reading(*a, count, s0), rb = reading(*b, count, s1);
        using U = std::uint64_t;
        switch (s.node->kind) {
          case ExprKind::Gt: combine_bool(ra, rb, count, out, [](U x, U y) { return x > y; }); break;
          case ExprKind::Lt: combine_bool(ra, rb, count, out, [](U x, U y) { return x < y; }); break;
          case ExprKind::Gte: combine_bool(ra, rb, count, out, [](U x, U y) { return x >= y; }); break;
          case ExprKind::Lte: combine_bool(ra, rb, count, out, [](U x, U y) { return x <= y; }); break;
          case ExprKind::Add: combine(ra, rb, count, out, [](U x, U y) { return x + y; }); break;
          case ExprKind::Sub: combine(ra, rb, count, out, [](U x, U y) { return x - y; }); break;
          case ExprKind::BitAnd: combine(ra, rb, count, out, [](U x, U y) { return x & y; }); break;
          case ExprKind::BitOr: combine(ra, rb, count, out, [](U x, U y) { return x | y; }); break;
          default: combine(ra, rb, count, out, [](U x, U y) { return x ^ y; }); break;
        }
        break;
      }
      case ExprKind::Slice:
      case ExprKind::Signed: {
        const Reading r = reading(*a, count, s0);
        std::uint32_t shift = 0;
        std::uint64_t mask = ~std::uint64_t{0};
        if (s.node->kind == ExprKind::Slice) {
          const std::uint32_t high = s.node->high, low = s.node->low;
          if (high < low || low >= 64) {
            mask = 0;
          } else {
            const std::uint64_t width = std::uint64_t{high} - low + 1;  // cannot wrap in 64 bits
            shift = low;
            if (width < 64) mask = (std::uint64_t{1} << width) - 1;
          }
        }
        for (std::size_t j = 0; j < count; ++j) {
          out.num[j] = (r.num[j] >> shift) & mask;
          out.ok[j] = r.ok[j];
        }
        break;
      }
      case ExprKind::IsX:
      case ExprKind::IsZ: {
        const bool x_test = s.node->kind == ExprKind::IsX;
        const std::size_t m = a->uniform ? 1 : count;
        if (a->general) {
          for (std::size_t j = 0; j < m; ++j) out.num[j] = x_test ? view_is_x(a->views[j]) : view_is_z(a->views[j]);
        } else {
          // Bits never holds X or Z; only Empty counts, and only as X.
          for (std::size_t j = 0; j < m; ++j) out.num[j] = x_test ? (a->ok[j] ^ 1) : 0;
        }
        std::fill(out.ok, out.ok + count, 1);
        break;
      }
      default: break;
    }
  }
}

const std::uint8_t* BlockEvaluator::truth() {
  const Lanes& r = *slots_[program_.result_slot];
  std::uint8_t* t = scratch_[2].ok;
  truth_of(r, r.uniform ? 1 : n_, t);
  return t;
}

SignalValue BlockEvaluator::first_value() const { return to_value(lane_view(*slots_[program_.result_slot], 0)); }

}  // namespace quarn
