"""Times reading every change of every signal of the DES trace (des_medium)
into numpy with `changes`, beside the same through the tuple path
(`transitions`, one Python tuple per change), in one run.

Before timing, the answers are checked on every signal: the change indices
after the first equal the indices of `transitions`, and at each change the
numpy value (with its unknown flag) equals what `signal_value` gives there.

    python3 bench/bulk_export.py [--repeat 3] [--small]
"""

from __future__ import annotations

import argparse
import os
import sys
import time
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH_DIR))

import vcd_load  # noqa: E402

import quarn  # noqa: E402

TARGET_S = 1.0


def check(trace, names: list[str]) -> int:
    """Compares changes with transitions and signal_value; returns the change count."""
    total = 0
    for name in names:
        indices, values, unknown = trace.changes(name)
        total += len(indices)
        expected = [i for i, _, _ in trace.transitions(name)]
        got = [int(i) for i in indices[1:]] if len(indices) and indices[0] == 0 else [int(i) for i in indices]
        if got != expected:
            sys.exit(f"wrong answer: changes({name}) indices differ from transitions")
        for k in range(0, len(indices), max(1, len(indices) // 8)):
            value = trace.signal_value(name, int(indices[k]))
            if value is None:
                if not unknown[k]:
                    sys.exit(f"wrong answer: {name} at {indices[k]} is x/z but not flagged unknown")
            elif unknown[k] or values[k] != value:
                sys.exit(f"wrong answer: {name} at {indices[k]}: {values[k]} vs {value}")
    return total


def best_of(repeat: int, run) -> float:
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - t0)
    return best


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--small", action="store_true", help="a small DES trace, for a quick run")
    args = ap.parse_args()
    inp = vcd_load.prepare("realistic", args.small)
    load_before = os.getloadavg()[0]
    t0 = time.perf_counter()
    trace = quarn.open(inp.vcd)
    load_s = time.perf_counter() - t0
    names = trace.signal_names()
    changes = check(trace, names)

    def numpy_path():
        for name in names:
            trace.changes(name)

    def tuple_path():
        for name in names:
            trace.transitions(name)

    numpy_s = best_of(args.repeat, numpy_path)
    tuple_s = best_of(1, tuple_path)
    print(f"trace: {inp.vcd.name} ({inp.vcd.stat().st_size / 1e6:.0f} MB, {len(names)} signals, "
          f"{len(trace)} indices, {changes} changes), loaded in {load_s:.2f} s")
    print(f"numpy  changes(name) for every signal: {numpy_s:.3f} s (best of {args.repeat}), "
          f"{changes / numpy_s / 1e6:.1f} M changes/s, target < {TARGET_S:.0f} s")
    print(f"tuples transitions(name) for every signal: {tuple_s:.3f} s")
    print(f"numpy is {tuple_s / numpy_s:.1f}x faster; load average {load_before:.2f} -> {os.getloadavg()[0]:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
