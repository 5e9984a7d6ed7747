"""A plain model of clocked sequences and properties, for differential
tests: direct recursion over cycles with sets of match ends, no automaton.

Letters at cycles after `w` are wildcards (every condition may hold), which
is how the model asks whether a match is still possible: an attempt is
pending when one is possible past the end of the trace, and a failure is
certain at the first cycle after which none is possible any more.

Sequences are tuples:
  ("leaf", name, positive)  ("cat", a_or_None, lo, hi, b)  ("rep", a, lo, hi)
  ("goto", name, lo, hi)  ("and"|"or"|"isect", a, b)  ("thru", name, a)  ("fm", a)
with hi = None for '$'. Properties: ("seq", s), ("imp", s, overlapping, p),
("not", p), ("dis", name, p).
"""

from __future__ import annotations

from functools import lru_cache

REAL = 10**9  # w for "no wildcards": every letter is real (none past the trace)


def seq_text(s) -> str:
    kind = s[0]
    if kind == "leaf":
        return s[1] if s[2] else f"!{s[1]}"
    if kind == "cat":
        delay = f"##{s[2]}" if s[2] == s[3] else f"##[{s[2]}:{'$' if s[3] is None else s[3]}]"
        left = "" if s[1] is None else seq_text(s[1]) + " "
        return f"({left}{delay} {seq_text(s[4])})"
    if kind == "rep":
        count = f"{s[2]}" if s[2] == s[3] else f"{s[2]}:{'$' if s[3] is None else s[3]}"
        return f"({seq_text(s[1])})[*{count}]"
    if kind == "goto":
        count = f"{s[2]}" if s[2] == s[3] else f"{s[2]}:{s[3]}"
        return f"{s[1]}[->{count}]"
    if kind in ("and", "or", "isect"):
        word = {"and": "and", "or": "or", "isect": "intersect"}[kind]
        return f"({seq_text(s[1])} {word} {seq_text(s[2])})"
    if kind == "thru":
        return f"({s[1]} throughout {seq_text(s[2])})"
    return f"first_match({seq_text(s[1])})"


def prop_text(p) -> str:
    if p[0] == "seq":
        return seq_text(p[1])
    if p[0] == "imp":
        return f"{seq_text(p[1])} {'|->' if p[2] else '|=>'} {prop_text(p[3])}"
    if p[0] == "not":
        return f"not ({prop_text(p[1])})"
    return f"disable iff ({p[1]}) {prop_text(p[2])}"


class Model:
    def __init__(self, values: dict[str, list[int]], n: int, horizon: int = 14):
        self.v = values
        self.n = n
        self.h = n + horizon
        self.ends = lru_cache(maxsize=None)(self._ends)

    def holds(self, name: str, positive: bool, c: int, w: int) -> bool:
        if c > w:
            return True
        if c >= self.n:
            return False
        return bool(self.v[name][c]) == positive

    def _ends(self, s, start: int, w: int) -> frozenset:
        kind = s[0]
        if start > self.h:
            return frozenset()
        if kind == "leaf":
            return frozenset([start]) if self.holds(s[1], s[2], start, w) else frozenset()
        if kind == "cat":
            firsts = [start] if s[1] is None else self.ends(s[1], start, w)
            hi = self.h if s[3] is None else s[3]
            out = set()
            for e in firsts:
                for k in range(s[2], hi + 1):
                    out |= self.ends(s[4], e + k, w)
            return frozenset(out)
        if kind in ("rep", "goto"):
            one = (lambda b: self.ends(s[1], b, w)) if kind == "rep" else (lambda b: self.goto_one(s[1], b, w))
            hi = self.h if s[3] is None else s[3]
            level, out, j = one(start), set(), 1
            while level and j <= hi:
                if j >= s[2]:
                    out |= level
                level = frozenset(x for e in level for x in one(e + 1))
                j += 1
            return frozenset(out)
        if kind == "and":
            a, b = self.ends(s[1], start, w), self.ends(s[2], start, w)
            return frozenset(max(x, y) for x in a for y in b)
        if kind == "or":
            return self.ends(s[1], start, w) | self.ends(s[2], start, w)
        if kind == "isect":
            return self.ends(s[1], start, w) & self.ends(s[2], start, w)
        if kind == "thru":
            return frozenset(
                e for e in self.ends(s[2], start, w) if all(self.holds(s[1], True, c, w) for c in range(start, e + 1))
            )
        inner = self.ends(s[1], start, w)
        return frozenset([min(inner)]) if inner else frozenset()

    def goto_one(self, name: str, start: int, w: int) -> frozenset:
        out = set()
        for c in range(start, self.h + 1):
            if self.holds(name, True, c, w):
                out.add(c)
            if not self.holds(name, False, c, w):
                break
        return frozenset(out)

    def real_ends(self, s, start: int) -> list[int]:
        return sorted(e for e in self.ends(s, start, REAL) if e < self.n)

    def first_match(self, s, start: int):
        real = self.real_ends(s, start)
        return real[0] if real else None

    def open_at_end(self, s, start: int) -> bool:
        return any(e >= self.n for e in self.ends(s, start, self.n - 1))

    def death(self, s, start: int) -> int:
        return next(c for c in range(start, self.n) if all(e <= c for e in self.ends(s, start, c)))

    def verdict(self, p, start: int):
        """(outcome, cycle) with outcome one of passed, failed, vacuous, pending, disabled."""
        if start >= self.n:
            return ("pending", None)
        kind = p[0]
        if kind == "seq":
            real = self.real_ends(p[1], start)
            if real:
                return ("passed", real[0])
            if self.open_at_end(p[1], start):
                return ("pending", None)
            return ("failed", self.death(p[1], start))
        if kind == "not":
            o, c = self.verdict(p[1], start)
            return (o, c) if o == "pending" else ("passed" if o == "failed" else "failed", c)
        if kind == "imp":
            ante = self.real_ends(p[1], start)
            results = [self.verdict(p[3], e if p[2] else e + 1) for e in ante]
            fails = [c for o, c in results if o == "failed"]
            if fails:
                return ("failed", min(fails))
            if self.open_at_end(p[1], start) or any(o == "pending" for o, _ in results):
                return ("pending", None)
            d = self.death(p[1], start)
            if not ante:
                return ("vacuous", d)
            return ("passed", max([d] + [c for _, c in results]))
        o, c = self.verdict(p[2], start)
        last = self.n - 1 if o == "pending" else c
        if any(self.v[p[1]][k] for k in range(start, last + 1)):
            return ("disabled", None)
        return (o, c)
