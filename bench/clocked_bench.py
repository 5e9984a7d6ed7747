"""Clocked questions: property checks and sequence matches on a generated
request/acknowledge trace of 10 million cycles, on 1 and 2 threads; and a
latency question on the DES trace (des_medium) beside wavekit, answers
asserted equal.

    python3 bench/clocked_bench.py [--cycles 10000000] [--repeat 3] [--small] [--skip-wavekit]

Each thread count runs in its own interpreter (RAYON_NUM_THREADS is read when
the pool starts). wavekit is installed into the running environment with pip
when missing (it is a bench-only peer).
"""

from __future__ import annotations

import argparse
import json
import os
import random
import subprocess
import sys
import time
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
OUT_DIR = BENCH_DIR / "out"
sys.path.insert(0, str(BENCH_DIR))

CHECK = "top.req |-> ##[1:8] top.ack"
MATCH = "$rose(top.req) ##[1:$] $rose(top.ack)"
CHECK_TARGET_S = 2.0
WAVEKIT_RATIO_TARGET = 100.0
GENERATOR_VERSION = 2


def generate_reqack(cycles: int, path: Path) -> None:
    """A clock of period 10 and a handshake: req rises after a random idle
    time and holds until ack, which pulses 1 to 10 cycles after the rise (so
    a few requests wait longer than 8) as req falls. Values change on falling
    clock edges, so every rising edge samples them cleanly."""
    rng = random.Random(1)
    req = ack = 0
    wait = rng.randint(0, 6)
    latency = 0
    lines = ["$timescale 1ns $end", "$scope module top $end", "$var wire 1 ! clk $end",
             "$var wire 1 \" req $end", "$var wire 1 # ack $end", "$upscope $end", "$enddefinitions $end",
             "#0", "0!", "0\"", "0#"]
    with path.open("w") as f:
        for k in range(cycles):
            lines.append(f"#{10 * k + 5}\n1!")
            # Next cycle's values, set at the falling edge.
            new_req, new_ack = req, ack
            if ack:
                new_ack, wait = 0, rng.randint(0, 6)
            elif req:
                latency -= 1
                if latency == 0:
                    new_req, new_ack = 0, 1
            elif wait == 0:
                new_req, latency = 1, rng.randint(1, 10)
            else:
                wait -= 1
            lines.append(f"#{10 * k + 10}\n0!")
            if new_req != req:
                lines.append(f"{new_req}\"")
            if new_ack != ack:
                lines.append(f"{new_ack}#")
            req, ack = new_req, new_ack
            if len(lines) > 200_000:
                f.write("\n".join(lines) + "\n")
                lines.clear()
        f.write("\n".join(lines) + "\n")


def reqack_trace(cycles: int) -> Path:
    OUT_DIR.mkdir(parents=True, exist_ok=True)
    path = OUT_DIR / f"reqack-{cycles}-v{GENERATOR_VERSION}.vcd"
    if not path.exists():
        print(f"generating {path.name} ...", flush=True)
        t0 = time.perf_counter()
        tmp = path.with_suffix(".tmp")
        generate_reqack(cycles, tmp)
        tmp.replace(path)
        print(f"  {path.stat().st_size / 1e6:.0f} MB in {time.perf_counter() - t0:.1f} s", flush=True)
    return path


def best_of(repeat: int, run):
    best, result = float("inf"), None
    for _ in range(repeat):
        t0 = time.perf_counter()
        result = run()
        best = min(best, time.perf_counter() - t0)
    return best, result


def child(path: str, repeat: int) -> None:
    """Runs in a fresh interpreter: times the questions, prints figures and answers as JSON."""
    import numpy as np

    import quarn

    t0 = time.perf_counter()
    trace = quarn.PyTrace.from_vcd(path)
    load_s = time.perf_counter() - t0
    cycles_s, cycles = best_of(repeat, lambda: trace.cycles("top.clk"))
    check_s, r = best_of(repeat, lambda: cycles.check(CHECK))
    match_s, (start, end) = best_of(repeat, lambda: cycles.matches(MATCH))
    lat = end - start
    print(json.dumps({
        "load_s": load_s, "cycles_s": cycles_s, "check_s": check_s, "match_s": match_s, "cycles": len(cycles),
        "counts": r.counts(), "failure_sum": int(r.failure_start.sum()) + int(r.failure_cycle.sum()),
        "matches": len(start), "latency_hist": np.bincount(lat.astype(np.int64)).tolist(),
    }))


def run_threads(path: Path, threads: int, repeat: int) -> dict:
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
    out = subprocess.run([sys.executable, __file__, "--child", str(path), "--repeat", str(repeat)], env=env,
                         capture_output=True, text=True, check=True)
    return json.loads(out.stdout.strip().splitlines()[-1])


def des_latency(small: bool, repeat: int, skip_wavekit: bool) -> None:
    """Per DES lane: cycles from a rise of `load` to its next fall."""
    import numpy as np

    import vcd_load

    import quarn

    inp = vcd_load.prepare("realistic", small)
    lanes = 2 if small else 8

    def ours():
        trace = quarn.PyTrace.from_vcd(str(inp.vcd))
        cycles = trace.cycles("bench_top.clk")
        out = {}
        for g in range(lanes):
            start, end = cycles.matches(f"$rose(bench_top.lane[{g}].load) ##[1:$] $fell(bench_top.lane[{g}].load)")
            out[g] = (end - start).tolist()
        return out

    quarn_s, answers = best_of(repeat, ours)
    print(f"des latency ({inp.vcd.name}, {sum(len(v) for v in answers.values())} latencies): "
          f"quarn load + cycles + matches {quarn_s:.3f} s")
    if skip_wavekit:
        return
    try:
        import wavekit  # noqa: F401
    except ImportError:
        subprocess.run([sys.executable, "-m", "pip", "install", "-q", "wavekit==0.8.2"], check=True)
    from wavekit import VcdReader
    from wavekit.pattern import Pattern, match

    def theirs():
        t0 = time.perf_counter()
        with VcdReader(str(inp.vcd)) as r:
            with r.clock_domain(clock="bench_top.clk"):
                loads = {g: r[f"bench_top.lane[{g}].load"].w for g in range(lanes)}
        t1 = time.perf_counter()
        out = {}
        for g, w in loads.items():
            records = match(Pattern().wait(w.rose()).delay(1).wait(w.fell()))
            out[g] = [(rec.start.cycle, rec.end.cycle) for rec in records if type(rec.status).__name__ == "OK"]
        return out, t1 - t0, time.perf_counter() - t1

    wk_s, (wk_answers, wk_load, wk_pattern) = best_of(1, theirs)
    # wavekit samples once more than there are rising edges (its samples sit
    # at 0, 10, ..., the trace's last time; ours at the edges 5, 15, ...),
    # so a row ending on that extra sample has no counterpart here.
    n = len(quarn.PyTrace.from_vcd(str(inp.vcd)).cycles("bench_top.clk"))
    for g in range(lanes):
        theirs = [end - start for start, end in wk_answers[g] if end < n]
        assert theirs == answers[g], f"lane {g}: wavekit {theirs[:8]} vs quarn {answers[g][:8]}"
    cyc = quarn.PyTrace.from_vcd(str(inp.vcd)).cycles("bench_top.clk")
    pattern_s, _ = best_of(repeat, lambda: [
        cyc.matches(f"$rose(bench_top.lane[{g}].load) ##[1:$] $fell(bench_top.lane[{g}].load)") for g in range(lanes)])
    print(f"wavekit 0.8.2: {wk_s:.3f} s (load + sample {wk_load:.3f} s, pattern {wk_pattern:.3f} s); same answers")
    print(f"pattern part: quarn matches {pattern_s * 1e3:.2f} ms vs wavekit {wk_pattern * 1e3:.1f} ms: "
          f"{wk_pattern / pattern_s:.0f}x (target >= {WAVEKIT_RATIO_TARGET:.0f}x)")


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--cycles", type=int, default=10_000_000)
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--small", action="store_true", help="100k cycles and a small DES trace")
    ap.add_argument("--skip-wavekit", action="store_true")
    ap.add_argument("--child", metavar="VCD", help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child:
        child(args.child, args.repeat)
        return 0
    cycles = 100_000 if args.small else args.cycles
    path = reqack_trace(cycles)
    load_before = os.getloadavg()[0]
    results = {t: run_threads(path, t, args.repeat) for t in (1, 2)}
    one, two = results[1], results[2]
    for key in ("cycles", "counts", "failure_sum", "matches", "latency_hist"):
        assert one[key] == two[key], f"{key} differs between 1 and 2 threads"
    print(f"req/ack trace: {path.name} ({path.stat().st_size / 1e6:.0f} MB), {one['cycles']} cycles, "
          f"loaded in {one['load_s']:.2f} s, sampled in {one['cycles_s']:.3f} s")
    print(f"check  '{CHECK}': {one['counts']}")
    print(f"matches '{MATCH}': {one['matches']} rows, latency histogram {one['latency_hist']}")
    for t, r in results.items():
        print(f"  {t} thread{'s' if t > 1 else ' '}: check {r['check_s']:.3f} s, matches {r['match_s']:.3f} s "
              f"(best of {args.repeat}; check target < {CHECK_TARGET_S} s)")
    des_latency(args.small, args.repeat, args.skip_wavekit)
    print(f"load average {load_before:.2f} -> {os.getloadavg()[0]:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
