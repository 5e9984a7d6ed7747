#include "eval/seq_run.h"

#include <algorithm>
#include <limits>
#include <map>
#include <unordered_map>

#include "eval/block_eval.h"
#include "eval/program.h"
#include "eval/thread_pool.h"

namespace quarn {

namespace {

constexpr Index kNever = std::numeric_limits<Index>::max();
// Starts per chunk: enough to amortise a chunk's set-up, few enough to
// balance two to a few dozen threads. Fixed, so results never depend on them.
constexpr std::size_t kChunk = 1 << 16;

bool compile_prop(PropNode& p, CompiledProp& out, bool outermost, std::string& error) {
  out.kind = p.kind;
  out.overlapping = p.overlapping;
  out.leaf = p.leaf;
  if (p.kind == PropNode::Kind::Disable && !outermost) {
    error = "disable iff must come first in a property";
    return false;
  }
  if ((p.kind == PropNode::Kind::Seq || p.kind == PropNode::Kind::Implies) && !build_nfa(*p.seq, out.nfa, error))
    return false;
  if (p.child) {
    out.child = std::make_unique<CompiledProp>();
    return compile_prop(*p.child, *out.child, p.kind == PropNode::Kind::Disable, error);
  }
  return true;
}

struct Verdict {
  Outcome outcome;
  Index cycle;  // where it was decided (Pending: unused)
};

enum class SeqEnd { Stopped, Dead, Open };

// An automaton's subset construction, built as attempts reach new subsets
// and letters: after warm-up a cycle costs one table lookup. One per thread,
// so nothing is shared while it grows.
class LazyDfa {
 public:
  static constexpr std::int32_t kDead = 0;
  static constexpr std::int32_t kUnknown = -1;

  LazyDfa(const Nfa& nfa, std::size_t leaves)
      : nfa_(nfa), dense_bits_(leaves <= kDenseBits ? static_cast<unsigned>(leaves) : 0), stamp_(nfa.size(), 0) {
    intern({});  // kDead
    // Not and Disable nodes have no automaton of their own.
    start_ = nfa.size() > 0 && nfa.live[nfa.init] ? intern({nfa.init}) : kDead;
  }

  std::int32_t start() const { return start_; }

  /// (next subset << 1) | (some thread matched at this letter).
  std::int32_t step(std::int32_t d, std::uint64_t letter) {
    if (dense_bits_ > 0 || letter == 0) {
      const std::size_t at = (static_cast<std::size_t>(d) << dense_bits_) | letter;
      if (dense_[at] == kUnknown) {
        const std::int32_t t = compute(d, letter);  // may grow dense_
        dense_[at] = t;
      }
      return dense_[at];
    }
    const auto it = sparse_.find({d, letter});
    if (it != sparse_.end()) return it->second;
    const std::int32_t t = compute(d, letter);
    sparse_.emplace(std::make_pair(d, letter), t);
    return t;
  }

 private:
  static constexpr unsigned kDenseBits = 8;

  struct KeyHash {
    std::size_t operator()(const std::pair<std::int32_t, std::uint64_t>& k) const {
      return std::hash<std::uint64_t>()(k.second * 0x9e3779b97f4a7c15ULL ^ static_cast<std::uint64_t>(k.first));
    }
  };

  std::int32_t intern(std::vector<std::uint32_t> set) {
    const auto [it, fresh] = ids_.try_emplace(set, static_cast<std::int32_t>(ids_.size()));
    if (fresh) {
      sets_.push_back(std::move(set));
      dense_.resize(dense_.size() + (std::size_t{1} << dense_bits_), kUnknown);
    }
    return it->second;
  }

  std::int32_t compute(std::int32_t d, std::uint64_t letter) {
    if (++gen_ == 0) {
      std::fill(stamp_.begin(), stamp_.end(), 0);
      gen_ = 1;
    }
    std::vector<std::uint32_t> next;
    bool matched = false;
    for (std::uint32_t p : sets_[static_cast<std::size_t>(d)])
      for (const NfaEdge& e : nfa_.out[p]) {
        if (!e.guard.holds(letter) || stamp_[e.to] == gen_) continue;
        stamp_[e.to] = gen_;
        matched = matched || nfa_.accept[e.to];
        // Accepting states without a way on have done their work.
        if (!nfa_.out[e.to].empty()) next.push_back(e.to);
      }
    std::sort(next.begin(), next.end());
    return (intern(std::move(next)) << 1) | static_cast<std::int32_t>(matched);
  }

  const Nfa& nfa_;
  unsigned dense_bits_;
  std::int32_t start_ = kDead;
  std::map<std::vector<std::uint32_t>, std::int32_t> ids_;
  std::vector<std::vector<std::uint32_t>> sets_;
  std::vector<std::int32_t> dense_;
  std::unordered_map<std::pair<std::int32_t, std::uint64_t>, std::int32_t, KeyHash> sparse_;
  std::vector<std::uint32_t> stamp_;
  std::uint32_t gen_ = 0;
};

class Runner {
 public:
  Runner(const CompiledProgram& p, const std::vector<std::vector<std::uint64_t>>& truths, std::size_t n)
      : truths_(truths), n_(n) {
    for (const CompiledProp* q = p.prop.get(); q != nullptr; q = q->child.get())
      dfas_.emplace_back(q->nfa, truths.size());
  }

  std::uint64_t letter(Index c) const {
    std::uint64_t l = 0;
    const std::size_t w = static_cast<std::size_t>(c >> 6), b = static_cast<std::size_t>(c & 63);
    for (std::size_t k = 0; k < truths_.size(); ++k) l |= ((truths_[k][w] >> b) & 1) << k;
    return l;
  }

  // First cycle in s .. last where `leaf` holds, or kNever.
  Index next_true(std::uint32_t leaf, Index s, Index last) const {
    const std::vector<std::uint64_t>& bits = truths_[leaf];
    for (Index w = s >> 6; (w << 6) <= last; ++w) {
      std::uint64_t word = bits[w];
      if (w == (s >> 6)) word &= ~std::uint64_t{0} << (s & 63);
      if (word == 0) continue;
      const Index c = (w << 6) + static_cast<Index>(__builtin_ctzll(word));
      return c <= last ? c : kNever;
    }
    return kNever;
  }

  // Runs an automaton from cycle s; `on_match(c)` for each cycle where a
  // match ends, until it returns false (Stopped). Dead: no thread left after
  // the returned cycle; Open: threads left at the end of the trace.
  template <class F>
  std::pair<SeqEnd, Index> run(LazyDfa& dfa, Index s, F&& on_match) {
    std::int32_t d = dfa.start();
    if (d == LazyDfa::kDead) return {SeqEnd::Dead, s};
    for (Index c = s;; ++c) {
      if (c >= n_) return {SeqEnd::Open, c};
      const std::int32_t t = dfa.step(d, letter(c));
      if ((t & 1) && !on_match(c)) return {SeqEnd::Stopped, c};
      d = t >> 1;
      if (d == LazyDfa::kDead) return {SeqEnd::Dead, c};
    }
  }

  Verdict eval(const CompiledProp& p, std::size_t depth, Index s) {
    if (s >= n_) return {Outcome::Pending, 0};
    switch (p.kind) {
      case PropNode::Kind::Seq: {
        const auto [how, c] = run(dfas_[depth], s, [](Index) { return false; });
        if (how == SeqEnd::Stopped) return {Outcome::Passed, c};
        if (how == SeqEnd::Dead) return {Outcome::Failed, c};
        return {Outcome::Pending, 0};
      }
      case PropNode::Kind::Not: {
        const Verdict r = eval(*p.child, depth + 1, s);
        if (r.outcome == Outcome::Pending) return r;
        return {r.outcome == Outcome::Failed ? Outcome::Passed : Outcome::Failed, r.cycle};
      }
      case PropNode::Kind::Implies: {
        Index first_fail = kNever, decided = s;
        bool matched = false, pending = false;
        const auto [how, c] = run(dfas_[depth], s, [&](Index e) {
          // A consequent starting at e cannot fail before e.
          if (e >= first_fail) return false;
          matched = true;
          const Verdict r = eval(*p.child, depth + 1, p.overlapping ? e : e + 1);
          if (r.outcome == Outcome::Failed) first_fail = std::min(first_fail, r.cycle);
          else if (r.outcome == Outcome::Pending) pending = true;
          else decided = std::max(decided, r.cycle);
          return true;
        });
        if (first_fail != kNever) return {Outcome::Failed, first_fail};
        if (how == SeqEnd::Open || pending) return {Outcome::Pending, 0};
        if (!matched) return {Outcome::Vacuous, c};
        return {Outcome::Passed, std::max(decided, c)};
      }
      case PropNode::Kind::Disable: {
        const Verdict r = eval(*p.child, depth + 1, s);
        const Index last = r.outcome == Outcome::Pending ? n_ - 1 : r.cycle;
        const Index c = next_true(p.leaf, s, last);
        return c == kNever ? r : Verdict{Outcome::Disabled, c};
      }
    }
    return {Outcome::Pending, 0};
  }

  Index first_end(Index s) {
    Index end = kNever;
    run(dfas_[0], s, [&](Index c) {
      end = c;
      return false;
    });
    return end;
  }

 private:
  const std::vector<std::vector<std::uint64_t>>& truths_;
  std::size_t n_;
  std::vector<LazyDfa> dfas_;
};

// Runs body(chunk, lo, hi) over fixed chunks of 0 .. n-1.
template <class F>
void over_chunks(std::size_t n, bool parallel, F&& body) {
  const std::size_t chunks = (n + kChunk - 1) / kChunk;
  auto one = [&](std::size_t k) { body(k, k * kChunk, std::min(n, (k + 1) * kChunk)); };
  if (!parallel || chunks <= 1) {
    for (std::size_t k = 0; k < chunks; ++k) one(k);
    return;
  }
  parallel_for(0, chunks, 1, [&](std::size_t lo, std::size_t hi) {
    for (std::size_t k = lo; k < hi; ++k) one(k);
  });
}

}  // namespace

bool compile_program(SeqProgram program, CompiledProgram& out, std::string& error) {
  out.leaves = std::move(program.leaves);
  out.prop = std::make_unique<CompiledProp>();
  return compile_prop(*program.prop, *out.prop, true, error);
}

std::vector<std::vector<std::uint64_t>> leaf_truths(const Trace& cycles, std::size_t cycle_count,
                                                    const std::vector<ExprPtr>& leaves) {
  const std::size_t words = (cycle_count + 63) / 64;
  std::vector<std::vector<std::uint64_t>> out(leaves.size(), std::vector<std::uint64_t>(words + 1, 0));
  if (cycle_count == 0) return out;
  for (std::size_t k = 0; k < leaves.size(); ++k) {
    const Program program = compile(cycles, *leaves[k]);
    std::uint64_t* bits = out[k].data();
    // Pieces of whole windows, so that no two pieces write one word.
    const std::size_t windows = (cycle_count + kLanes - 1) / kLanes;
    parallel_for(0, windows, 64, [&](std::size_t lo, std::size_t hi) {
      BlockEvaluator ev(program);
      for (std::size_t w = lo; w < hi; ++w) {
        const Index start = w * kLanes;
        const std::size_t n = std::min<std::size_t>(kLanes, cycle_count - start);
        ev.run(start, n);
        const std::uint64_t* t = ev.truth();
        const bool uniform = ev.result_uniform();
        for (std::size_t j = 0; j < n; ++j) {
          const Index c = start + j;
          bits[c >> 6] |= (t[uniform ? 0 : j] & 1) << (c & 63);
        }
      }
    });
  }
  return out;
}

SeqMatches run_matches(const CompiledProgram& program, const std::vector<std::vector<std::uint64_t>>& truths,
                       std::size_t cycle_count, bool parallel) {
  const std::size_t chunks = (cycle_count + kChunk - 1) / kChunk;
  std::vector<SeqMatches> parts(chunks);
  over_chunks(cycle_count, parallel, [&](std::size_t k, std::size_t lo, std::size_t hi) {
    Runner r(program, truths, cycle_count);
    for (std::size_t s = lo; s < hi; ++s) {
      const Index e = r.first_end(s);
      if (e == kNever) continue;
      parts[k].start.push_back(s);
      parts[k].end.push_back(e);
    }
  });
  SeqMatches out;
  for (SeqMatches& p : parts) {
    out.start.insert(out.start.end(), p.start.begin(), p.start.end());
    out.end.insert(out.end.end(), p.end.begin(), p.end.end());
  }
  return out;
}

CheckResult run_check(const CompiledProgram& program, const std::vector<std::vector<std::uint64_t>>& truths,
                      std::size_t cycle_count, bool parallel) {
  const std::size_t chunks = (cycle_count + kChunk - 1) / kChunk;
  std::vector<CheckResult> parts(chunks);
  over_chunks(cycle_count, parallel, [&](std::size_t k, std::size_t lo, std::size_t hi) {
    Runner r(program, truths, cycle_count);
    CheckResult& part = parts[k];
    for (std::size_t s = lo; s < hi; ++s) {
      const Verdict v = r.eval(*program.prop, 0, s);
      switch (v.outcome) {
        case Outcome::Passed: ++part.passed; break;
        case Outcome::Vacuous: ++part.vacuous; break;
        case Outcome::Pending: ++part.pending; break;
        case Outcome::Disabled: ++part.disabled; break;
        case Outcome::Failed:
          ++part.failed;
          part.failure_start.push_back(s);
          part.failure_cycle.push_back(v.cycle);
          break;
      }
    }
  });
  CheckResult out;
  out.attempts = cycle_count;
  for (CheckResult& p : parts) {
    out.passed += p.passed;
    out.failed += p.failed;
    out.vacuous += p.vacuous;
    out.pending += p.pending;
    out.disabled += p.disabled;
    out.failure_start.insert(out.failure_start.end(), p.failure_start.begin(), p.failure_start.end());
    out.failure_cycle.insert(out.failure_cycle.end(), p.failure_cycle.begin(), p.failure_cycle.end());
  }
  return out;
}

}  // namespace quarn
