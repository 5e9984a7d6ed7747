"""Times the change, snapshot, statistics and name-search queries of quarn on
the wide and sparse trace (20,000 signals, 200,000 indices).

Before timing, the answers are checked: snapshots against the generator's
recorded values, `changed_at` against comparing two snapshots, the
transitions field of `signal_stats` against `transitions`, and the name
searches against plain Python filters. A wrong answer stops the run.

Each query kind runs over its whole set of calls `--repeat` times; the best
round counts, and the figure printed is that round's time per call.
"""

from __future__ import annotations

import argparse
import fnmatch
import json
import os
import random
import sys
import time
from pathlib import Path
from typing import Callable

BENCH_DIR = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH_DIR))

import vcd_load  # noqa: E402

TARGET_MS = 10.0
SNAPSHOT_TARGET_MS = 50.0


def fail(message: str) -> None:
    print(f"wrong answer: {message}", file=sys.stderr)
    sys.exit(1)


def check(trace, expect: dict, names: list[str], rng: random.Random) -> None:
    max_index = trace.max_index()
    if max_index != expect["max_index"] or len(names) != expect["signal_count"]:
        fail("trace shape differs from the generator's")
    by_index: dict[int, dict] = {}
    for name, t, value in expect["values"]:
        snap = by_index.setdefault(t, trace.snapshot(t))
        if snap[name] != value:
            fail(f"snapshot({t})[{name!r}] = {snap[name]!r}, expected {value!r}")

    for i in rng.sample(range(1, max_index + 1), 20):
        before, after = trace.snapshot(i - 1), trace.snapshot(i)
        changed = trace.changed_at(i)
        reported = [n for n, _, _ in changed]
        differing = [n for n in names if before[n] != after[n]]
        # Two X values both read as None, so the snapshots cannot show every change.
        if [n for n in reported if not (before[n] is None and after[n] is None)] != differing:
            fail(f"changed_at({i}) disagrees with its two snapshots")
        if any(old != before[n] or new != after[n] for n, old, new in changed):
            fail(f"changed_at({i}) reports wrong values")

    for name in names[::1000]:
        ts = trace.transitions(name)
        if trace.signal_stats(name)[4] != len(ts):
            fail(f"signal_stats({name!r}) counts another number of transitions than transitions()")
        if [i for i, _, _ in ts] != sorted({i for i, _, _ in ts}):
            fail(f"transitions({name!r}) not strictly ascending")

    for pattern in ("top.core1.exec.*", "*s1?3"):
        if trace.find_signals_glob(pattern) != [n for n in names if fnmatch.fnmatchcase(n, pattern)]:
            fail(f"find_signals_glob({pattern!r})")
    for text in ("EXEC", "S12"):
        if trace.find_signals_containing(text) != [n for n in names if text.lower() in n.lower()]:
            fail(f"find_signals_containing({text!r})")


def best_per_call(calls: list[Callable[[], object]], repeat: int) -> tuple[float, float]:
    """Best wall-clock and best CPU time (all threads of this process) per call, in seconds."""
    best_wall = best_cpu = float("inf")
    for _ in range(repeat):
        w0, c0 = time.perf_counter(), time.process_time()
        for call in calls:
            call()
        best_wall = min(best_wall, time.perf_counter() - w0)
        best_cpu = min(best_cpu, time.process_time() - c0)
    return best_wall / len(calls), best_cpu / len(calls)


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--small", action="store_true", help="the small wide trace, for a quick smoke run")
    ap.add_argument("--repeat", type=int, default=3, metavar="N", help="rounds per query kind; the best counts")
    args = ap.parse_args()
    if args.repeat < 1:
        ap.error("--repeat must be at least 1")

    import quarn

    inp = vcd_load.prepare("wide", args.small)
    expect = json.loads(inp.expect.read_text(encoding="utf-8"))
    t0 = time.perf_counter()
    trace = quarn.PyTrace.from_vcd(str(inp.vcd))
    load_s = time.perf_counter() - t0
    names = trace.signal_names()
    max_index = trace.max_index()
    print(f"{inp.label}: {len(names)} signals, {max_index + 1} indices, loaded in {load_s:.1f} s")

    rng = random.Random(4)
    check(trace, expect, names, rng)
    print("answers checked")

    every_100th = names[::100]
    indices_1000 = [rng.randrange(1, max_index + 1) for _ in range(1000)]
    indices_100 = [rng.randrange(0, max_index + 1) for _ in range(100)]
    globs = ["top.core1.exec.*", "*s1?3", "top.*.mem.s*9", "*", "nothing*"]
    texts = ["EXEC", "s12", "CORE3.MEM", "", "absent"]
    cases = [
        ("changed_at", "1,000 random indices", [lambda i=i: trace.changed_at(i) for i in indices_1000], TARGET_MS),
        ("changed_at_scope", "1,000 random indices, top.core2",
         [lambda i=i: trace.changed_at_scope(i, "top.core2") for i in indices_1000], TARGET_MS),
        ("transitions", f"every 100th signal ({len(every_100th)})",
         [lambda n=n: trace.transitions(n) for n in every_100th], TARGET_MS),
        ("signal_stats", f"every 100th signal ({len(every_100th)})",
         [lambda n=n: trace.signal_stats(n) for n in every_100th], TARGET_MS),
        ("snapshot", "100 random indices", [lambda i=i: trace.snapshot(i) for i in indices_100], SNAPSHOT_TARGET_MS),
        ("snapshot_scope", "100 random indices, top.core2",
         [lambda i=i: trace.snapshot_scope(i, "top.core2") for i in indices_100], SNAPSHOT_TARGET_MS),
        ("find_signals_glob", f"{len(globs)} patterns over all names",
         [lambda p=p: trace.find_signals_glob(p) for p in globs], TARGET_MS),
        ("find_signals_containing", f"{len(texts)} texts over all names",
         [lambda s=s: trace.find_signals_containing(s) for s in texts], TARGET_MS),
    ]
    load_before = os.getloadavg()[0]
    figures = [(name, what, *best_per_call(calls, args.repeat), target) for name, what, calls, target in cases]
    load_after = os.getloadavg()[0]
    cpus = os.cpu_count() or 1
    print(f"best of {args.repeat} rounds, per call; {cpus} CPUs, "
          f"load average {load_before:.2f} before, {load_after:.2f} after")
    print(f"  {'query':<24} {'calls':<36} {'wall ms':>9} {'cpu ms':>9}  target (wall)")
    for name, what, wall, cpu, target in figures:
        verdict = "met" if wall * 1e3 < target else "MISSED"
        print(f"  {name:<24} {what:<36} {wall * 1e3:9.3f} {cpu * 1e3:9.3f}  < {target:g} ms {verdict}")
    print("(cpu ms: user + system time of all threads of this process, so a parallel query")
    print(" shows the work of every worker)")
    if max(load_before, load_after) > 0.5 * cpus:
        print("warning: the machine was busy with other work; wall-clock figures are inflated")
    return 0


if __name__ == "__main__":
    sys.exit(main())
