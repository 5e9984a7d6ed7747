#include "eval/seq_nfa.h"

#include <algorithm>
#include <map>

namespace quarn {

namespace {

constexpr std::size_t kMaxStates = 1 << 20;
constexpr unsigned kMaxFirstMatchLeaves = 12;

Guard both(Guard a, Guard b) { return {a.pos | b.pos, a.neg | b.neg}; }

struct Builder {
  std::string error;

  Nfa atom(Guard g) {
    Nfa n;
    n.out = {{{1, g}}, {}};
    n.accept = {0, 1};
    return n;
  }

  // Copies src's states into dst; returns the offset of the copy.
  std::uint32_t append(Nfa& dst, const Nfa& src) {
    const auto off = static_cast<std::uint32_t>(dst.size());
    for (const auto& edges : src.out) {
      dst.out.push_back(edges);
      for (NfaEdge& e : dst.out.back()) e.to += off;
    }
    dst.accept.insert(dst.accept.end(), src.accept.begin(), src.accept.end());
    return off;
  }

  // a ##1 b; with keep, a's own matches stay matches (a or a ##1 b).
  Nfa cat(const Nfa& a, const Nfa& b, bool keep = false) {
    Nfa r = a;
    const std::uint32_t off = append(r, b);
    const std::vector<NfaEdge> entry = r.out[b.init + off];
    for (std::uint32_t s = 0; s < a.size(); ++s) {
      if (!a.accept[s]) continue;
      r.out[s].insert(r.out[s].end(), entry.begin(), entry.end());
      if (!keep) r.accept[s] = 0;
    }
    return r;
  }

  // a ##0 b: b's first cycle is a's last.
  Nfa fuse(const Nfa& a, const Nfa& b) {
    Nfa r = a;
    const std::uint32_t off = append(r, b);
    const std::vector<NfaEdge> entry = r.out[b.init + off];
    for (std::uint32_t s = 0; s < a.size(); ++s) {
      std::vector<NfaEdge> extra;
      for (const NfaEdge& e : a.out[s])
        if (a.accept[e.to])
          for (const NfaEdge& f : entry) extra.push_back({f.to, both(e.guard, f.guard)});
      r.out[s].insert(r.out[s].end(), extra.begin(), extra.end());
    }
    for (std::uint32_t s = 0; s < a.size(); ++s) r.accept[s] = 0;
    return r;
  }

  Nfa alt(const Nfa& a, const Nfa& b) {
    Nfa r;
    r.out.emplace_back();
    r.accept.push_back(0);
    const std::uint32_t oa = append(r, a), ob = append(r, b);
    r.out[0] = r.out[a.init + oa];
    r.out[0].insert(r.out[0].end(), r.out[b.init + ob].begin(), r.out[b.init + ob].end());
    return r;
  }

  // x, where each match may start x again at once: one or more x.
  Nfa plus(const Nfa& x) {
    Nfa r = x;
    const std::vector<NfaEdge> entry = r.out[r.init];
    for (std::uint32_t s = 0; s < r.size(); ++s)
      if (r.accept[s]) r.out[s].insert(r.out[s].end(), entry.begin(), entry.end());
    return r;
  }

  // Words of n..m repetitions of x (n >= 1; m may be unbounded).
  Nfa repeat(const Nfa& x, std::uint64_t n, std::uint64_t m) {
    if (m == kUnbounded) return n == 1 ? plus(x) : cat(repeat(x, n - 1, n - 1), plus(x));
    Nfa r = x;
    for (std::uint64_t k = 1; k < n && ok(r); ++k) r = cat(r, x);
    for (std::uint64_t k = n; k < m && ok(r); ++k) r = cat(r, x, true);
    return r;
  }

  // True for j cycles, j in lo..hi (lo >= 1).
  Nfa gap(std::uint64_t lo, std::uint64_t hi) { return repeat(atom({}), lo, hi); }

  // a ##[lo:hi] b. A leading delay is the same after a true start cycle.
  Nfa delay(const Nfa& a, std::uint64_t lo, std::uint64_t hi, const Nfa& b) {
    const std::uint64_t ghi = hi == kUnbounded ? hi : hi - 1;
    if (lo > 0) return delay_after(a, lo - 1, ghi, b);
    Nfa f = fuse(a, b);
    if (hi == 0) return f;
    return alt(f, delay_after(a, 0, ghi, b));
  }

  // a, then g true cycles with g in glo..ghi, then ##1 b.
  Nfa delay_after(const Nfa& a, std::uint64_t glo, std::uint64_t ghi, const Nfa& b) {
    if (ghi == 0) return cat(a, b);
    Nfa with_gap = cat(cat(a, gap(std::max<std::uint64_t>(glo, 1), ghi)), b);
    if (glo > 0) return with_gap;
    return alt(cat(a, b), with_gap);
  }

  // Both from the same start; with `and`, each may end first and the pair
  // ends at the later end; with `intersect`, they end together.
  Nfa product(const Nfa& a, const Nfa& b, bool is_and) {
    const std::uint32_t done = UINT32_MAX;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> ids;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> todo;
    Nfa r;
    auto id = [&](std::uint32_t p, std::uint32_t q) {
      const auto [it, fresh] = ids.emplace(std::make_pair(p, q), static_cast<std::uint32_t>(r.size()));
      if (fresh) {
        r.out.emplace_back();
        const bool pa = p == done || a.accept[p], qa = q == done || b.accept[q];
        r.accept.push_back(pa && qa && !(p == done && q == done));
        todo.emplace_back(p, q);
      }
      return it->second;
    };
    r.init = id(a.init, b.init);
    while (!todo.empty() && r.size() < kMaxStates) {
      const auto [p, q] = todo.back();
      todo.pop_back();
      const std::uint32_t from = ids[{p, q}];
      std::vector<NfaEdge> edges;
      if (p != done && q != done) {
        for (const NfaEdge& e : a.out[p])
          for (const NfaEdge& f : b.out[q]) {
            const Guard g = both(e.guard, f.guard);
            edges.push_back({id(e.to, f.to), g});
            if (is_and && a.accept[e.to] && !b.accept[f.to]) edges.push_back({id(done, f.to), g});
            if (is_and && b.accept[f.to] && !a.accept[e.to]) edges.push_back({id(e.to, done), g});
          }
      } else if (p == done) {
        for (const NfaEdge& f : b.out[q]) edges.push_back({id(done, f.to), f.guard});
      } else {
        for (const NfaEdge& e : a.out[p]) edges.push_back({id(e.to, done), e.guard});
      }
      r.out[from] = std::move(edges);
    }
    if (r.size() >= kMaxStates) error = "the sequence needs too many automaton states";
    return r;
  }

  // Only the earliest end from each start: the subset automaton, whose
  // accepting subsets lead nowhere.
  Nfa first_match(const Nfa& x) {
    std::uint64_t used = 0;
    for (const auto& edges : x.out)
      for (const NfaEdge& e : edges) used |= e.guard.pos | e.guard.neg;
    std::vector<unsigned> bits;
    for (unsigned b = 0; b < 64; ++b)
      if (used >> b & 1) bits.push_back(b);
    if (bits.size() > kMaxFirstMatchLeaves) {
      error = "first_match over more than 12 distinct conditions";
      return atom({});
    }
    std::map<std::vector<std::uint32_t>, std::uint32_t> ids;
    std::vector<std::vector<std::uint32_t>> sets;
    Nfa r;
    auto id = [&](std::vector<std::uint32_t> s) {
      const auto [it, fresh] = ids.emplace(s, static_cast<std::uint32_t>(sets.size()));
      if (fresh) {
        bool acc = false;
        for (std::uint32_t q : s) acc = acc || x.accept[q];
        r.out.emplace_back();
        r.accept.push_back(acc);
        sets.push_back(std::move(s));
      }
      return it->second;
    };
    r.init = id({x.init});
    for (std::uint32_t k = 0; k < sets.size() && sets.size() < kMaxStates; ++k) {
      if (r.accept[k]) continue;
      for (std::uint64_t v = 0; v < (std::uint64_t{1} << bits.size()); ++v) {
        std::uint64_t letter = 0;
        for (std::size_t i = 0; i < bits.size(); ++i)
          if (v >> i & 1) letter |= std::uint64_t{1} << bits[i];
        std::vector<std::uint32_t> next;
        for (std::uint32_t p : sets[k])
          for (const NfaEdge& e : x.out[p])
            if (e.guard.holds(letter)) next.push_back(e.to);
        if (next.empty()) continue;
        std::sort(next.begin(), next.end());
        next.erase(std::unique(next.begin(), next.end()), next.end());
        const std::uint32_t to = id(std::move(next));
        r.out[k].push_back({to, Guard{letter, used & ~letter}});
      }
    }
    if (sets.size() >= kMaxStates) error = "the sequence needs too many automaton states";
    return r;
  }

  bool ok(const Nfa& n) {
    if (n.size() >= kMaxStates && error.empty()) error = "the sequence needs too many automaton states";
    return error.empty();
  }

  Nfa build(const SeqNode& s) {
    if (!error.empty()) return atom({});
    switch (s.kind) {
      case SeqNode::Kind::Leaf: return atom({std::uint64_t{1} << s.leaf, 0});
      case SeqNode::Kind::Concat: {
        const Nfa b = build(*s.b);
        return delay(s.a ? build(*s.a) : atom({}), s.lo, s.hi, b);
      }
      case SeqNode::Kind::Repeat: return repeat(build(*s.a), s.lo, s.hi);
      case SeqNode::Kind::Goto: {
        // !b[*0:$] ##1 b: wait in `w` while b is false.
        const std::uint64_t bit = std::uint64_t{1} << s.leaf;
        Nfa one;
        one.out = {{{2, {bit, 0}}, {1, {0, bit}}}, {{1, {0, bit}}, {2, {bit, 0}}}, {}};
        one.accept = {0, 0, 1};
        return repeat(one, s.lo, s.hi);
      }
      case SeqNode::Kind::And: return product(build(*s.a), build(*s.b), true);
      case SeqNode::Kind::Intersect: return product(build(*s.a), build(*s.b), false);
      case SeqNode::Kind::Or: return alt(build(*s.a), build(*s.b));
      case SeqNode::Kind::Throughout: {
        Nfa r = build(*s.a);
        for (auto& edges : r.out)
          for (NfaEdge& e : edges) e.guard.pos |= std::uint64_t{1} << s.leaf;
        return r;
      }
      case SeqNode::Kind::FirstMatch: return first_match(build(*s.a));
    }
    return atom({});
  }
};

// Marks the states from which an accepting one can be reached.
void mark_live(Nfa& n) {
  std::vector<std::vector<std::uint32_t>> in(n.size());
  for (std::uint32_t s = 0; s < n.size(); ++s)
    for (const NfaEdge& e : n.out[s]) in[e.to].push_back(s);
  n.live.assign(n.size(), 0);
  std::vector<std::uint32_t> todo;
  for (std::uint32_t s = 0; s < n.size(); ++s)
    if (n.accept[s]) {
      n.live[s] = 1;
      todo.push_back(s);
    }
  while (!todo.empty()) {
    const std::uint32_t s = todo.back();
    todo.pop_back();
    for (std::uint32_t p : in[s])
      if (!n.live[p]) {
        n.live[p] = 1;
        todo.push_back(p);
      }
  }
  // Edges into dead states only cost time.
  for (auto& edges : n.out)
    edges.erase(std::remove_if(edges.begin(), edges.end(), [&](const NfaEdge& e) { return !n.live[e.to]; }),
                edges.end());
}

}  // namespace

bool build_nfa(const SeqNode& seq, Nfa& out, std::string& error) {
  Builder b;
  out = b.build(seq);
  if (!b.error.empty()) {
    error = b.error;
    return false;
  }
  mark_live(out);
  return true;
}

}  // namespace quarn
