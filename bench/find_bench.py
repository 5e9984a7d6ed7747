#!/usr/bin/env python3
"""Search benchmark: PyTrace.find, parallel_find and parallel_count against
numpy evaluating the same expression on dense arrays of the same signals.

The trace is generated once into bench/out/ (cached by its parameters). The
numpy arrays are built once, outside the timing, from the generator's own
values. Every quarn answer is checked against numpy's before anything is
timed. Prints the best of N runs of each and the ratios to numpy. See
bench/README.md.
"""

from __future__ import annotations

import argparse
import hashlib
import os
import sys
import time
from pathlib import Path

try:
    import numpy as np
except ImportError:  # pragma: no cover - a benchmark-only dependency
    sys.exit("find_bench.py needs numpy: python3 -m pip install numpy")

from quarn import PyExpr, PyTrace

OUT_DIR = Path(__file__).resolve().parent / "out"
SEED = 20261206
BUS_CHANGE = 0.25  # share of indices at which the bus takes a new value
EN_TOGGLES = 12  # the enable changes this often over the whole run


def signals(n: int) -> dict[str, np.ndarray]:
    """Dense values per index: clk toggles every index, count steps on each
    rising edge, bus is random with runs, en changes rarely."""
    rng = np.random.default_rng(SEED)
    i = np.arange(n, dtype=np.uint64)
    clk = (i & 1) ^ 1
    count = ((i + 1) // 2) & 0xFFFF
    change = rng.random(n) < BUS_CHANGE
    change[0] = True
    last = np.maximum.accumulate(np.where(change, np.arange(n), 0))
    bus = rng.integers(0, 256, n, dtype=np.uint64)[last]
    toggles = np.zeros(n, dtype=np.uint64)
    toggles[rng.choice(np.arange(1, n), EN_TOGGLES, replace=False)] = 1
    en = np.cumsum(toggles) & 1
    return {"clk": clk, "count": count, "bus": bus, "en": en}


def write_vcd(path: Path, values: dict[str, np.ndarray]) -> None:
    codes = {"clk": "!", "count": "#", "bus": "$", "en": "%"}
    widths = {"clk": 1, "count": 16, "bus": 8, "en": 1}
    n = len(values["clk"])
    changed = {}
    for name, v in values.items():
        c = np.ones(n, dtype=bool)
        c[1:] = v[1:] != v[:-1]
        changed[name] = c
    cols = {name: v.tolist() for name, v in values.items()}
    flags = {name: c.tolist() for name, c in changed.items()}
    tmp = path.with_suffix(".tmp")
    with open(tmp, "w") as f:
        f.write("$timescale 1ns $end\n$scope module top $end\n")
        for name in values:
            f.write(f"$var wire {widths[name]} {codes[name]} {name} $end\n")
        f.write("$upscope $end\n$enddefinitions $end\n")
        out = []
        for k in range(n):
            out.append(f"#{k * 10}\n")
            for name in values:
                if flags[name][k]:
                    v = cols[name][k]
                    out.append(f"{v}{codes[name]}\n" if widths[name] == 1 else f"b{v:b} {codes[name]}\n")
            if len(out) > 100_000:
                f.write("".join(out))
                out.clear()
        f.write("".join(out))
    os.replace(tmp, path)


def trace_path(n: int) -> Path:
    tag = hashlib.sha256(f"{n} {SEED} {BUS_CHANGE} {EN_TOGGLES} v1".encode()).hexdigest()[:10]
    return OUT_DIR / f"find_{n}_{tag}.vcd"


def best_of(repeat: int, fn) -> tuple[float, float]:
    """Best wall-clock time and best CPU time (all threads) of `repeat` runs."""
    wall = cpu = float("inf")
    for _ in range(repeat):
        c0, t0 = time.process_time(), time.perf_counter()
        fn()
        wall = min(wall, time.perf_counter() - t0)
        cpu = min(cpu, time.process_time() - c0)
    return wall, cpu


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--indices", type=int, default=5_000_000)
    ap.add_argument("--repeat", type=int, default=5)
    args = ap.parse_args()

    OUT_DIR.mkdir(parents=True, exist_ok=True)
    values = signals(args.indices)
    path = trace_path(args.indices)
    if not path.exists():
        t0 = time.perf_counter()
        write_vcd(path, values)
        print(f"generated {path.name} ({path.stat().st_size / 1e6:.0f} MB) in {time.perf_counter() - t0:.1f} s")
    t0 = time.perf_counter()
    trace = PyTrace.from_vcd(str(path))
    print(f"loaded {trace.max_index() + 1:,} indices in {time.perf_counter() - t0:.1f} s")

    def sig(name: str) -> PyExpr:
        return PyExpr.signal(trace.signal_id(f"top.{name}"))

    # 9 nodes over 3 signals: clk AND ((bus & 0xF) > 8) AND en
    expr = sig("clk").and_(sig("bus").bit_and(PyExpr.const_int(0xF)).gt_(PyExpr.const_int(8))).and_(sig("en"))
    # The same condition with the enable behind not(not(...)): no longer a
    # signal of the root conjunction, so no window is skipped for it.
    unskipped = sig("clk").and_(sig("bus").bit_and(PyExpr.const_int(0xF)).gt_(PyExpr.const_int(8))).and_(
        sig("en").not_().not_())
    clk, bus, en = values["clk"], values["bus"], values["en"]
    narrow = {"clk": clk.astype(np.uint8), "bus": bus.astype(np.uint8), "en": en.astype(np.uint8)}

    def np_mask(a):
        return (a["clk"] != 0) & ((a["bus"] & 0xF) > 8) & (a["en"] != 0)

    wide = {"clk": clk, "bus": bus, "en": en}
    expected = np.flatnonzero(np_mask(wide))
    # Answers first: nothing is timed unless every form agrees with numpy.
    found = trace.find(expr)
    if (found != expected.tolist() or trace.parallel_find(expr) != found or trace.parallel_count(expr) != len(found)
            or trace.find(unskipped) != found or trace.parallel_count(unskipped) != len(found)
            or not np.array_equal(trace.find_array(expr), expected)):
        print("WRONG ANSWER: quarn and numpy disagree", file=sys.stderr)
        return 1
    names = ["top.clk", "top.bus", "top.en"]

    def np_with_values():
        # numpy's form of find_with_values: (index, [values]) per match.
        at = expected
        return list(zip(at.tolist(), np.stack([clk[at], bus[at], en[at]], axis=1).tolist()))

    if trace.find_with_values(expr, names) != np_with_values():
        print("WRONG ANSWER: find_with_values and numpy disagree", file=sys.stderr)
        return 1
    print(f"{len(found):,} matching indices; answers agree")

    r = args.repeat
    rows = [
        ("numpy flatnonzero, uint64 arrays", best_of(r, lambda: np.flatnonzero(np_mask(wide)))),
        ("numpy count_nonzero, uint64 arrays", best_of(r, lambda: np.count_nonzero(np_mask(wide)))),
        ("numpy flatnonzero, uint8 arrays", best_of(r, lambda: np.flatnonzero(np_mask(narrow)))),
        ("numpy count_nonzero, uint8 arrays", best_of(r, lambda: np.count_nonzero(np_mask(narrow)))),
        ("quarn find", best_of(r, lambda: trace.find(expr))),
        ("quarn parallel_find", best_of(r, lambda: trace.parallel_find(expr))),
        ("quarn parallel_count", best_of(r, lambda: trace.parallel_count(expr))),
        ("quarn find, no window skipped", best_of(r, lambda: trace.find(unskipped))),
        ("quarn parallel_count, no window skipped", best_of(r, lambda: trace.parallel_count(unskipped))),
        # What any list answer costs: as many ints, made and freed.
        ("Python list of as many ints (no search)", best_of(r, lambda: list(range(len(found))))),
        ("quarn find_array (numpy uint64)", best_of(r, lambda: trace.find_array(expr))),
        # numpy giving the answer find gives: a list of Python ints.
        ("numpy flatnonzero + tolist, uint64", best_of(r, lambda: np.flatnonzero(np_mask(wide)).tolist())),
        ("quarn find_with_values, 3 signals", best_of(r, lambda: trace.find_with_values(expr, names))),
        ("numpy the same (index, [values]) list", best_of(r, np_with_values)),
    ]
    np_find, np_count = rows[0][1][0], rows[1][1][0]
    print(f"\nbest of {r}, {args.indices:,} indices, {os.cpu_count()} logical CPUs, "
          f"load average {os.getloadavg()[0]:.1f}")
    print(f"{'':40} {'wall ms':>8} {'ns/index':>9} {'vs numpy':>9} {'CPU ms':>8}")
    for label, (wall, cpu) in rows:
        ref = np_count if "count" in label else np_find
        print(f"{label:40} {wall * 1e3:8.1f} {wall * 1e9 / args.indices:9.2f} {wall / ref:8.2f}x {cpu * 1e3:8.1f}")
    ratio_count = rows[6][1][0] / np_count
    ratio_find = rows[4][1][0] / np_find
    ratio_pfind = rows[5][1][0] / np_find
    print(f"\ntarget parallel_count <= 0.5x numpy count (uint64), wall: {ratio_count:.2f}x "
          f"{'met' if ratio_count <= 0.5 else 'NOT met'}")
    for label, ratio in (("find", ratio_find), ("parallel_find", ratio_pfind)):
        print(f"target {label} <= numpy find (uint64), wall: {ratio:.2f}x {'met' if ratio <= 1 else 'NOT met'}")
    ratio_array = rows[10][1][0] / np_find
    print(f"target find_array <= numpy find (uint64), wall: {ratio_array:.2f}x {'met' if ratio_array <= 1 else 'NOT met'}")
    print(f"the list of ints alone is {rows[9][1][0] / np_find:.2f}x numpy find")
    np_list = rows[11][1][0]
    print(f"as lists on both sides (numpy flatnonzero + tolist): find {ratio_find * np_find / np_list:.2f}x, "
          f"parallel_find {ratio_pfind * np_find / np_list:.2f}x")
    print(f"find_with_values: {rows[12][1][0] / rows[13][1][0]:.2f}x numpy's search, indexing and list of the same")
    print("CPU ms counts every thread (TBB workers included); wall time on a loaded machine varies from run to run.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
