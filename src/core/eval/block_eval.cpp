#include "eval/block_eval.h"

#include <algorithm>
#include <cstring>

#include "eval/value_ops.h"
#include "signal/column.h"

namespace quarn {

namespace {

// Branch-free 0/1 tests from plain 64-bit arithmetic: the baseline x86-64
// vector unit has no 64-bit compare, so `!=` and `<` would keep these loops
// scalar.
inline std::uint64_t nonzero(std::uint64_t x) { return (x | (0 - x)) >> 63; }
inline std::uint64_t below(std::uint64_t a, std::uint64_t b) {  // a < b, unsigned
  return ((~a & b) | (~(a ^ b) & (a - b))) >> 63;
}

struct Ones {
  alignas(64) std::uint64_t lanes[kLanes + kPad];
  constexpr Ones() : lanes{} {
    for (auto& l : lanes) l = 1;
  }
};
constexpr Ones kOnes;

// The `ok` lanes of a non-general `x`, all 1 when it is all_ok.
const std::uint64_t* ok_of(const Lanes& x) { return x.all_ok ? kOnes.lanes : x.ok; }

struct Reading {
  const std::uint64_t* num;
  const std::uint64_t* ok;
  bool uniform;  // only lane 0 holds the value of every lane
  bool all_ok;   // every ok is 1
};

void set_flags(Lanes& out, bool uniform, bool general, bool all_ok, bool boolean) {
  out.uniform = uniform;
  out.general = general;
  out.all_ok = all_ok;
  out.boolean = boolean;
}

void set_uniform(Lanes& out, bool ok, std::uint64_t num) {
  set_flags(out, true, false, ok, ok && num <= 1);
  out.ok[0] = ok;
  out.num[0] = ok ? num : 0;
}

void set_uniform_view(Lanes& out, const ValueView& v) {
  if (v.tag == ValueTag::Bits) return set_uniform(out, true, v.scalar);
  if (v.tag == ValueTag::Empty) return set_uniform(out, false, 0);
  set_flags(out, true, true, false, false);
  out.views[0] = v;
}

ValueView lane_view(const Lanes& x, std::size_t j) {
  const std::size_t i = x.uniform ? 0 : j;
  if (x.general) return x.views[i];
  return ok_of(x)[i] ? ValueView::bits(x.num[i]) : ValueView::empty();
}

// Lanes 0 .. upto-1 move from num/ok to views.
void make_general(Lanes& x, std::size_t upto) {
  const std::uint64_t* ok = ok_of(x);
  for (std::size_t j = 0; j < upto; ++j) x.views[j] = ok[j] ? ValueView::bits(x.num[j]) : ValueView::empty();
  set_flags(x, x.uniform, true, false, false);
}

// Lanes from .. to-1 read Empty; x must not be all_ok.
void fill_empty(Lanes& x, std::size_t from, std::size_t to) {
  if (from >= to) return;
  if (x.general) {
    std::fill(x.views + from, x.views + to, ValueView::empty());
  } else {
    std::fill(x.num + from, x.num + to, 0);
    std::fill(x.ok + from, x.ok + to, 0);
  }
}

// Numeric readings of x's lanes; a uniform x gives one lane.
template <class Scratch>
Reading reading(const Lanes& x, std::size_t count, Scratch& s) {
  if (!x.general) return {x.num, ok_of(x), x.uniform, x.all_ok};
  const std::size_t m = x.uniform ? 1 : count;
  for (std::size_t j = 0; j < m; ++j) {
    std::uint64_t v = 0;
    s.ok[j] = read_u64(x.views[j], v);
    s.num[j] = v;
  }
  return {s.num, s.ok, x.uniform, false};
}

// Calls f(j, a_num, a_ok, b_num, b_ok) for every lane, with a uniform side
// read once, so that no operand is ever copied out to full width.
template <class F>
void each_pair(const Reading& a, const Reading& b, std::size_t count, F f) {
  const std::uint64_t* __restrict an = a.num;
  const std::uint64_t* __restrict ao = a.ok;
  const std::uint64_t* __restrict bn = b.num;
  const std::uint64_t* __restrict bo = b.ok;
  if (a.uniform && !b.uniform) {
    const std::uint64_t n0 = an[0], o0 = ao[0];
    for (std::size_t j = 0; j < count; ++j) f(j, n0, o0, bn[j], bo[j]);
  } else if (!a.uniform && b.uniform) {
    const std::uint64_t n0 = bn[0], o0 = bo[0];
    for (std::size_t j = 0; j < count; ++j) f(j, an[j], ao[j], n0, o0);
  } else {
    for (std::size_t j = 0; j < count; ++j) f(j, an[j], ao[j], bn[j], bo[j]);
  }
}

// 0/1 truth of x's lanes: x's own lanes when it is boolean and no lane needs
// widening, else computed into t.
const std::uint64_t* truth_of(const Lanes& x, std::size_t count, std::uint64_t* __restrict t) {
  const std::size_t m = x.uniform ? 1 : count;
  if (x.boolean && m == count) return x.num;
  if (x.general) {
    for (std::size_t j = 0; j < m; ++j) t[j] = view_truthy(x.views[j]);
  } else if (x.all_ok) {
    const std::uint64_t* __restrict num = x.num;
    for (std::size_t j = 0; j < m; ++j) t[j] = nonzero(num[j]);
  } else {
    const std::uint64_t* __restrict ok = x.ok;
    const std::uint64_t* __restrict num = x.num;
    for (std::size_t j = 0; j < m; ++j) t[j] = ok[j] & nonzero(num[j]);
  }
  if (m < count) std::fill(t + 1, t + count, t[0]);
  return t;
}

// out = f over the lanes of a and b; Empty where either is. `boolean`: f
// yields 0 or 1.
template <bool Boolean, class F>
void combine(const Reading& a, const Reading& b, std::size_t count, Lanes& out, F f) {
  std::uint64_t* __restrict num = out.num;
  if (a.all_ok && b.all_ok) {
    out.all_ok = true;
    out.boolean = Boolean;
    each_pair(a, b, count,
              [&](std::size_t j, std::uint64_t x, std::uint64_t, std::uint64_t y, std::uint64_t) { num[j] = f(x, y); });
    return;
  }
  std::uint64_t* __restrict ok = out.ok;
  each_pair(a, b, count, [&](std::size_t j, std::uint64_t x, std::uint64_t xo, std::uint64_t y, std::uint64_t yo) {
    ok[j] = xo & yo;
    num[j] = f(x, y);
  });
}

// CountOnes, OneHot, OneHot0 and Lsb, lane by lane from views: they read
// bits that a numeric reading would lose (X elements, words past the first).
void bit_count(ExprKind kind, const Lanes& a, std::size_t count, Lanes& out) {
  const std::size_t m = a.uniform ? 1 : count;
  set_flags(out, a.uniform, false, false, kind != ExprKind::CountOnes);
  if (!a.general) {
    // Plain numbers (Bits lanes): no views needed; Empty lanes stay Empty.
    const std::uint64_t* ok = ok_of(a);
    std::uint64_t* __restrict num = out.num;
    for (std::size_t j = 0; j < m; ++j) {
      const std::uint64_t x = a.num[j];
      const auto ones = static_cast<std::uint64_t>(__builtin_popcountll(x));
      num[j] = kind == ExprKind::Lsb       ? (x & 1)
               : kind == ExprKind::OneHot  ? std::uint64_t{ones == 1}
               : kind == ExprKind::OneHot0 ? std::uint64_t{ones <= 1}
                                           : ones;
    }
    std::copy(ok, ok + m, out.ok);
    out.all_ok = a.all_ok;
    out.boolean = out.boolean && a.all_ok;
    if (!a.all_ok)
      for (std::size_t j = 0; j < m; ++j) num[j] &= 0 - ok[j];
    return;
  }
  bool all_ok = true;
  for (std::size_t j = 0; j < m; ++j) {
    const ValueView v = lane_view(a, j);
    std::uint64_t n = 0;
    const bool ok = kind == ExprKind::Lsb ? view_lsb(v, n) : view_count_ones(v, n);
    if (kind == ExprKind::OneHot) n = n == 1;
    if (kind == ExprKind::OneHot0) n = n <= 1;
    out.num[j] = ok ? n : 0;
    out.ok[j] = ok;
    all_ok = all_ok && ok;
  }
  // boolean promises all_ok too.
  out.all_ok = all_ok;
  out.boolean = out.boolean && all_ok;
}

}  // namespace

BlockEvaluator::BlockEvaluator(const Program& program)
    : program_(program), run_hint_(program.steps.size(), 0), scratch_(new Scratch[3]) {
  slots_.reserve(program.slot_count);
  for (std::uint32_t k = 0; k < program.slot_count; ++k) slots_.push_back(std::make_unique<Lanes>());
}

namespace {

template <class T>
T load(const std::uint8_t* p, std::size_t i) {
  T v;
  std::memcpy(&v, p + i * sizeof(T), sizeof(T));
  return v;
}

// Fills lanes j .. stop-1 from runs `run` on while they hold Bits or Empty,
// with the element widths known at compile time. Returns false, with `run`
// and `j` at the first run of another variant, if it meets one. With AllBits
// (every run holds Bits) `ok` is left to the caller.
template <class S, class P, bool AllBits>
bool fill_runs(const Column& c, std::size_t& run, Index base, std::size_t& j, std::size_t stop, Lanes& out) {
  const std::uint8_t* starts = c.run_starts().data();
  const std::uint8_t* scalars = c.run_scalars().data();
  const std::uint8_t* tags = c.run_tags();
  const std::size_t tagged = c.tagged_runs();
  // Runs past the tagged ones hold Bits.
  const auto tag_at = [tags, tagged](std::size_t r) {
    return r < tagged ? tags[r] : static_cast<std::uint8_t>(ValueTag::Bits);
  };
  const std::size_t last_run = c.run_count() - 1;
  const Index stop_index = base + stop;
  std::uint64_t* num = out.num;
  std::uint64_t* ok = out.ok;
  const Index last_index = stop_index - 1;
  // A value per lane (a clock, a counter at full speed): the run stop-j-1
  // places later starts at the last lane exactly when runs are one lane each.
  const std::size_t lanes = stop - j;
  const std::size_t tail = run + lanes - 1;
  // The next run's start, close by, rules most other columns out before the
  // far one is read; that one is fetched a window ahead, since nothing else
  // brings it into the cache.
  if (lanes > 1 && tail <= last_run && load<S>(starts, run + 1) == base + j + 1 &&
      (__builtin_prefetch(starts + (tail + lanes) * sizeof(S)), load<S>(starts, tail) == last_index)) {
    std::uint8_t other = 0;
    if constexpr (!AllBits) {
      for (std::size_t r = run; r <= tail; ++r)
        other |= static_cast<std::uint8_t>(tag_at(r) != static_cast<std::uint8_t>(ValueTag::Bits) &&
                                           tag_at(r) != static_cast<std::uint8_t>(ValueTag::Empty));
    }
    if (!other) {
      const std::uint8_t* __restrict from = scalars + run * sizeof(P);
      std::uint64_t* __restrict to_num = num + j;
      std::uint64_t* __restrict to_ok = ok + j;
      for (std::size_t x = 0; x < lanes; ++x) {
        P v;
        std::memcpy(&v, from + x * sizeof(P), sizeof(P));
        to_num[x] = v;  // an Empty run's scalar is 0
        if constexpr (!AllBits) to_ok[x] = tag_at(run + x) == static_cast<std::uint8_t>(ValueTag::Bits);
      }
      run = tail;
      j = stop;
      return true;
    }
  }
  // Mark where each later run starts inside the window, walking the starts
  // in order (a binary search would miss the cache on long columns).
  std::uint8_t mark[kLanes];
  std::memset(mark + j, 0, stop - j);
  std::size_t final_run = run;
  std::uint8_t bad = !AllBits && tag_at(run) != static_cast<std::uint8_t>(ValueTag::Bits) &&
                     tag_at(run) != static_cast<std::uint8_t>(ValueTag::Empty);
  while (final_run < last_run) {
    const Index next = load<S>(starts, final_run + 1);
    if (next > last_index) break;
    ++final_run;
    mark[next - base] = 1;
    if constexpr (!AllBits) {
      bad |= tag_at(final_run) != static_cast<std::uint8_t>(ValueTag::Bits) &&
             tag_at(final_run) != static_cast<std::uint8_t>(ValueTag::Empty);
    }
  }
  if (!bad && (final_run - run + 1) * 16 >= stop - j) {
    // Many short runs: every lane finds its run by a running sum of the
    // marks. No branch depends on the data.
    std::size_t r = run;
    for (std::size_t x = j; x < stop; ++x) {
      r += mark[x];
      // An Empty run's scalar is 0; Bits is tag 0.
      num[x] = load<P>(scalars, r);
      if constexpr (!AllBits) ok[x] = tag_at(r) == static_cast<std::uint8_t>(ValueTag::Bits);
    }
    run = final_run;
    j = stop;
    return true;
  }
  std::size_t k = run, x = j;
  bool plain = true;
  while (true) {
    const auto tag = static_cast<ValueTag>(tag_at(k));
    if (tag != ValueTag::Bits && tag != ValueTag::Empty) {
      plain = false;
      break;
    }
    const Index run_end = k < last_run ? static_cast<Index>(load<S>(starts, k + 1)) : c.length();
    const std::size_t end = run_end >= stop_index ? stop : static_cast<std::size_t>(run_end - base);
    const std::uint64_t v = tag == ValueTag::Bits ? static_cast<std::uint64_t>(load<P>(scalars, k)) : 0;
    const std::uint64_t o = tag == ValueTag::Bits;
    // Busy signals change every lane or few: store kPad lanes without
    // looking at the run's length, and loop only for longer runs.
    const std::uint64_t two[2] = {v, v};
    std::memcpy(num + x, two, sizeof two);
    std::memcpy(num + x + 2, two, sizeof two);
    if constexpr (!AllBits) {
      const std::uint64_t two_ok[2] = {o, o};
      std::memcpy(ok + x, two_ok, sizeof two_ok);
      std::memcpy(ok + x + 2, two_ok, sizeof two_ok);
    }
    static_assert(kPad == 4, "the stores above cover kPad lanes");
    for (std::size_t p = x + kPad; p < end; ++p) {
      num[p] = v;
      if constexpr (!AllBits) ok[p] = o;
    }
    x = end;
    if (x >= stop) break;
    ++k;
  }
  run = k;
  j = x;
  return plain;
}

template <class S, bool AllBits>
bool fill_runs_s(const Column& c, std::size_t& run, Index base, std::size_t& j, std::size_t stop, Lanes& out) {
  switch (c.run_scalars().width()) {
    case 1: return fill_runs<S, std::uint8_t, AllBits>(c, run, base, j, stop, out);
    case 2: return fill_runs<S, std::uint16_t, AllBits>(c, run, base, j, stop, out);
    case 3: return fill_runs<S, Uint24, AllBits>(c, run, base, j, stop, out);
    case 4: return fill_runs<S, std::uint32_t, AllBits>(c, run, base, j, stop, out);
    default: return fill_runs<S, std::uint64_t, AllBits>(c, run, base, j, stop, out);
  }
}

template <bool AllBits>
bool fill_plain_runs(const Column& c, std::size_t& run, Index base, std::size_t& j, std::size_t stop, Lanes& out) {
  switch (c.run_starts().width()) {
    case 1: return fill_runs_s<std::uint8_t, AllBits>(c, run, base, j, stop, out);
    case 2: return fill_runs_s<std::uint16_t, AllBits>(c, run, base, j, stop, out);
    case 3: return fill_runs_s<Uint24, AllBits>(c, run, base, j, stop, out);
    case 4: return fill_runs_s<std::uint32_t, AllBits>(c, run, base, j, stop, out);
    default: return fill_runs_s<std::uint64_t, AllBits>(c, run, base, j, stop, out);
  }
}

}  // namespace

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
  // Index arithmetic from here on: lane = index - base (mod 2^64) for every
  // index the column holds in this window.
  const auto base = static_cast<Index>(e0);
  auto j = static_cast<std::size_t>(ja);
  const auto stop = static_cast<std::size_t>(jb);
  const Index stop_index = base + stop;
  if (s.all_bits) {
    fill_plain_runs<true>(*c, run, base, j, stop, out);
    run_hint_[k] = run;
    if (ja == 0 && jb == n) return set_flags(out, false, false, true, s.all_0_1);
    set_flags(out, false, false, false, false);
    std::fill(out.ok + ja, out.ok + jb, 1);
    fill_empty(out, 0, static_cast<std::size_t>(ja));
    fill_empty(out, stop, n_);
    return;
  }
  set_flags(out, false, false, false, false);
  if (!fill_plain_runs<false>(*c, run, base, j, stop, out)) {
    // A run of another variant: the window goes through views from here on.
    make_general(out, j);
    while (true) {
      const Index run_end = c->run_end(run);
      const std::size_t end = run_end >= stop_index ? stop : static_cast<std::size_t>(run_end - base);
      std::fill(out.views + j, out.views + end, c->run_value(run));
      j = end;
      if (j >= stop) break;
      ++run;
    }
  }
  run_hint_[k] = run;
  fill_empty(out, 0, static_cast<std::size_t>(ja));
  fill_empty(out, stop, n_);
}

bool BlockEvaluator::falsy_throughout(const Step& s, std::size_t k) {
  const Column* c = s.column;
  if (c == nullptr) return true;
  const WideIndex e0 = static_cast<WideIndex>(start_) + s.shift;
  const WideIndex end = e0 + static_cast<WideIndex>(n_);
  if (end <= 0 || e0 >= static_cast<WideIndex>(c->length())) return true;  // Empty throughout
  if (e0 < 0 || end > static_cast<WideIndex>(c->length())) return false;   // Empty only in part
  const std::size_t run = locate_run(*c, static_cast<Index>(e0), run_hint_[k]);
  run_hint_[k] = run;
  return static_cast<WideIndex>(c->run_end(run)) >= end && !view_truthy(c->run_value(run));
}

WideIndex BlockEvaluator::unchanged_for(const Step& s, std::size_t k, Index start, WideIndex limit) {
  const Column* c = s.column;
  const WideIndex e0 = static_cast<WideIndex>(start) + s.shift;
  if (c == nullptr || e0 >= static_cast<WideIndex>(c->length())) return limit;  // Empty from here on
  if (e0 < 0) return std::min(limit, -e0);                                       // Empty until index 0
  const std::size_t run = locate_run(*c, static_cast<Index>(e0), run_hint_[k]);
  run_hint_[k] = run;
  return std::min(limit, static_cast<WideIndex>(c->run_end(run)) - e0);
}

WideIndex BlockEvaluator::falsy_for(const Step& s, std::size_t k, Index start, WideIndex limit) {
  const Column* c = s.column;
  const WideIndex e0 = static_cast<WideIndex>(start) + s.shift;
  if (c == nullptr || e0 >= static_cast<WideIndex>(c->length())) return limit;
  if (e0 < 0) return std::min(limit, -e0);
  const std::size_t run = locate_run(*c, static_cast<Index>(e0), run_hint_[k]);
  run_hint_[k] = run;
  if (view_truthy(c->run_value(run))) return 0;
  return std::min(limit, static_cast<WideIndex>(c->run_end(run)) - e0);
}

WideIndex BlockEvaluator::steady_span(Index start, WideIndex limit) {
  const auto window = static_cast<WideIndex>(kLanes);
  for (const std::uint32_t k : program_.guards) {
    const WideIndex falsy = falsy_for(program_.steps[k], k, start, limit);
    if (falsy >= window) {
      start_ = start;
      n_ = 1;
      set_uniform(*slots_[program_.result_slot], true, 0);
      return falsy;
    }
  }
  // The result is a function of the operands' values and of which RelEval
  // targets fall inside the trace: where none of those moves, neither can it.
  WideIndex span = limit;
  for (std::size_t k = 0; k < program_.steps.size() && span >= window; ++k) {
    const Step& s = program_.steps[k];
    if (s.node->kind == ExprKind::Signal) {
      span = unchanged_for(s, k, start, span);
    } else if (s.node->kind == ExprKind::RelEval) {
      const WideIndex t0 = static_cast<WideIndex>(start) + s.shift + s.node->offset;
      const WideIndex past = static_cast<WideIndex>(program_.max_index) + 1;
      if (t0 < 0) span = std::min(span, -t0);
      else if (t0 < past) span = std::min(span, past - t0);
    }
  }
  if (span < window) return 0;
  run(start, 1);
  return span;
}

void BlockEvaluator::rel_eval(const Step& s, const Lanes& x, Lanes& out) {
  const WideIndex n = static_cast<WideIndex>(n_);
  const WideIndex t0 = static_cast<WideIndex>(start_) + s.shift + s.node->offset;
  // Lanes whose target lies in 0 .. max_index; the others are Empty.
  const WideIndex ja = std::clamp<WideIndex>(-t0, 0, n);
  const WideIndex jb = std::clamp<WideIndex>(static_cast<WideIndex>(program_.max_index) + 1 - t0, 0, n);
  if (ja >= jb) return set_uniform(out, false, 0);
  if (ja == 0 && jb == n) {
    set_flags(out, x.uniform, x.general, x.all_ok, x.boolean);
    const std::size_t m = x.uniform ? 1 : n_;
    if (x.general) {
      std::copy(x.views, x.views + m, out.views);
    } else {
      std::copy(x.num, x.num + m, out.num);
      if (!x.all_ok) std::copy(x.ok, x.ok + m, out.ok);
    }
    return;
  }
  set_flags(out, false, x.general, false, false);
  const auto a = static_cast<std::size_t>(ja), b = static_cast<std::size_t>(jb);
  const std::uint64_t* x_ok = x.general ? nullptr : ok_of(x);
  for (std::size_t j = a; j < b; ++j) {
    const std::size_t i = x.uniform ? 0 : j;
    if (x.general) {
      out.views[j] = x.views[i];
    } else {
      out.num[j] = x.num[i];
      out.ok[j] = x_ok[i];
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
  for (const std::uint32_t k : program_.guards) {
    if (falsy_throughout(program_.steps[k], k)) return set_uniform(*slots_[program_.result_slot], true, 0);
  }
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
    // Every kind below yields 0/1 with no Empty, except the arithmetic and
    // bit kinds, Slice and Signed, which say otherwise.
    set_flags(out, uniform, false, true, true);
    switch (s.node->kind) {
      case ExprKind::Not: {
        std::uint64_t* __restrict num = out.num;
        const std::uint64_t* __restrict t = truth_of(*a, count, s0.ok);
        for (std::size_t j = 0; j < count; ++j) num[j] = t[j] ^ 1;
        break;
      }
      case ExprKind::And:
      case ExprKind::Or: {
        std::uint64_t* __restrict num = out.num;
        const std::uint64_t* __restrict ta = truth_of(*a, count, s0.ok);
        const std::uint64_t* __restrict tb = truth_of(*b, count, s1.ok);
        if (s.node->kind == ExprKind::And) {
          for (std::size_t j = 0; j < count; ++j) num[j] = ta[j] & tb[j];
        } else {
          for (std::size_t j = 0; j < count; ++j) num[j] = ta[j] | tb[j];
        }
        break;
      }
      case ExprKind::Eq:
      case ExprKind::Neq: {
        const std::uint64_t flip = s.node->kind == ExprKind::Neq;
        if (!a->general && !b->general) {
          const Reading ra = reading(*a, count, s0), rb = reading(*b, count, s1);
          std::uint64_t* __restrict num = out.num;
          each_pair(ra, rb, count,
                    [&](std::size_t j, std::uint64_t x, std::uint64_t xo, std::uint64_t y, std::uint64_t yo) {
                      // Equal numbers, or both Empty.
                      const std::uint64_t eq = (xo & yo & (nonzero(x ^ y) ^ 1)) | ((xo | yo) ^ 1);
                      num[j] = eq ^ flip;
                    });
        } else {
          for (std::size_t j = 0; j < count; ++j)
            out.num[j] = static_cast<std::uint64_t>(values_match(lane_view(*a, j), lane_view(*b, j))) ^ flip;
        }
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
      case ExprKind::BitXor:
      case ExprKind::Mul:
      case ExprKind::Shl:
      case ExprKind::Shr: {
        const Reading ra = reading(*a, count, s0), rb = reading(*b, count, s1);
        set_flags(out, uniform, false, false, false);
        using U = std::uint64_t;
        switch (s.node->kind) {
          case ExprKind::Gt: combine<true>(ra, rb, count, out, [](U x, U y) { return below(y, x); }); break;
          case ExprKind::Lt: combine<true>(ra, rb, count, out, [](U x, U y) { return below(x, y); }); break;
          case ExprKind::Gte: combine<true>(ra, rb, count, out, [](U x, U y) { return below(x, y) ^ 1; }); break;
          case ExprKind::Lte: combine<true>(ra, rb, count, out, [](U x, U y) { return below(y, x) ^ 1; }); break;
          case ExprKind::Add: combine<false>(ra, rb, count, out, [](U x, U y) { return x + y; }); break;
          case ExprKind::Sub: combine<false>(ra, rb, count, out, [](U x, U y) { return x - y; }); break;
          case ExprKind::BitAnd: combine<false>(ra, rb, count, out, [](U x, U y) { return x & y; }); break;
          case ExprKind::BitOr: combine<false>(ra, rb, count, out, [](U x, U y) { return x | y; }); break;
          case ExprKind::Mul: combine<false>(ra, rb, count, out, [](U x, U y) { return x * y; }); break;
          case ExprKind::Shl:
            combine<false>(ra, rb, count, out, [](U x, U y) { return y >= 64 ? U{0} : x << (y & 63); });
            break;
          case ExprKind::Shr:
            combine<false>(ra, rb, count, out, [](U x, U y) { return y >= 64 ? U{0} : x >> (y & 63); });
            break;
          default: combine<false>(ra, rb, count, out, [](U x, U y) { return x ^ y; }); break;
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
        const std::size_t m = r.uniform ? 1 : count;
        set_flags(out, uniform, false, r.all_ok, false);
        for (std::size_t j = 0; j < m; ++j) out.num[j] = (r.num[j] >> shift) & mask;
        if (!r.all_ok) std::copy(r.ok, r.ok + m, out.ok);
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
          const std::uint64_t* ok = ok_of(*a);
          for (std::size_t j = 0; j < m; ++j) out.num[j] = x_test ? (ok[j] ^ 1) : 0;
        }
        break;
      }
      case ExprKind::IsUnknown: {
        const std::size_t m = a->uniform ? 1 : count;
        if (a->general) {
          for (std::size_t j = 0; j < m; ++j) out.num[j] = view_is_unknown(a->views[j]);
        } else {
          const std::uint64_t* ok = ok_of(*a);
          for (std::size_t j = 0; j < m; ++j) out.num[j] = ok[j] ^ 1;
        }
        break;
      }
      case ExprKind::CountOnes:
      case ExprKind::OneHot:
      case ExprKind::OneHot0:
      case ExprKind::Lsb: bit_count(s.node->kind, *a, count, out); break;
      default: break;
    }
  }
}

const std::uint64_t* BlockEvaluator::truth() {
  const Lanes& r = *slots_[program_.result_slot];
  return truth_of(r, r.uniform ? 1 : n_, scratch_[2].ok);
}


ValueView BlockEvaluator::result_lane(std::size_t j) const { return lane_view(*slots_[program_.result_slot], j); }

SignalValue BlockEvaluator::first_value() const { return to_value(lane_view(*slots_[program_.result_slot], 0)); }

}  // namespace quarn
