#!/usr/bin/env python3
"""Lazy FST benchmark: "open, read 3 signals' changes" and "open, read every
signal's changes" with quarn's lazy trace, quarn's eager load (from_fst) and
pywellen, side by side, a fresh process per case.

Inputs (made at run time under bench/out/, see bench/README.md):
  des_large.verilator.fst   Verilator's own FST of the DES testbench (gen_verilator.py)
  wide_sparse.vcd2fst.fst   the wide VCD input converted with vcd2fst
  des_medium.vcd2fst.fst    the realistic (Icarus) VCD input converted with vcd2fst
pywellen is installed from PyPI by this script when missing (benchmark only).
"""

from __future__ import annotations

import argparse
import hashlib
import json
import os
import platform
import random
import re
import subprocess
import sys
import time
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH_DIR))

MB = 1e6
TOOLS = ("quarn lazy", "quarn eager", "pywellen")
QUESTIONS = ("3 signals", "every signal")


def three_names(names: list[str]) -> list[str]:
    return random.Random(1).sample(names, 3)


def quarn_case(tool: str, picked: list[str], path: str):
    from quarn import PyTrace

    trace = PyTrace._from_fst_lazy(path) if tool == "quarn lazy" else PyTrace.from_fst(path)
    names = picked or trace.signal_names()
    if not picked and tool == "quarn lazy":
        trace.load("*")  # one parallel pass instead of one decode per name
    changes = 0
    for name in names:
        changes += len(trace.transitions(name))  # each list dropped at once, as pywellen's below
    return trace, names, changes


def quarn_digest(trace, names: list[str]) -> str:
    """The answers, hashed to compare lazy with eager; asked again after the
    figures are taken, so neither side's time or peak pays for the check."""
    digest = hashlib.sha256()
    for name in names:
        digest.update(repr((name, trace.transitions(name))).encode())
    return digest.hexdigest()


def pywellen_case(picked: list[str], path: str) -> int:
    import pywellen

    wave = pywellen.Waveform(path)
    variables = list(wave.all_vars())
    if picked:
        # quarn's names keep a declared range ("data [7:0]"); pywellen's do not.
        wanted = {re.sub(r" ?\[[^\]]*\]$", "", n) for n in picked}
        variables = [v for v in variables if v.full_name in wanted]
    changes = 0
    for v in variables:
        changes += len(list(v.signal))
    return changes


def child(tool: str, picked_json: str, path: str) -> int:
    import load_child

    if tool == "pywellen":
        import pywellen  # noqa: F401
    else:
        import quarn  # noqa: F401
    picked = json.loads(picked_json)
    baseline = load_child.peak_rss_bytes()
    t0 = time.perf_counter()
    c0 = load_child.cpu_seconds()
    if tool == "pywellen":
        changes = pywellen_case(picked, path)
    else:
        trace, names, changes = quarn_case(tool, picked, path)
    seconds = time.perf_counter() - t0
    cpu = load_child.cpu_seconds() - c0
    peak = load_child.peak_rss_bytes()
    digest, loaded = ("", {}) if tool == "pywellen" else (quarn_digest(trace, names), trace.loaded())
    print(json.dumps({"seconds": seconds, "cpu": cpu, "baseline": baseline, "peak": peak,
                      "digest": digest, "changes": changes, "loaded": loaded}))
    return 0


def run_case(tool: str, picked: list[str], path: Path, repeat: int) -> dict:
    runs = []
    for _ in range(repeat):
        proc = subprocess.run([sys.executable, __file__, "--child", tool, json.dumps(picked), str(path)],
                              capture_output=True, text=True, check=False)
        if proc.returncode != 0:
            raise SystemExit(f"{tool} / {picked or 'every signal'} on {path.name} failed:\n{proc.stderr.strip()}")
        runs.append(json.loads(proc.stdout.strip().splitlines()[-1]))
    best = min(runs, key=lambda r: r["seconds"])
    return {**best, "peak": max(r["peak"] for r in runs), "cpu": min(r["cpu"] for r in runs)}


def lazy_open_cost(path: Path) -> dict:
    """Resident memory a lazy open adds (VmRSS after minus before), nothing
    decoded; the interpreter's own peak at import can hide it in the peak."""
    code = ("import json, sys, quarn\n"
            "def rss(): return int(open('/proc/self/status').read().split('VmRSS:')[1].split()[0]) * 1024\n"
            "before = rss(); t = quarn.PyTrace._from_fst_lazy(sys.argv[1]); after = rss()\n"
            "print(json.dumps({'before': before, 'after': after, 'loaded': t.loaded(), 'names': t.signal_names()}))")
    proc = subprocess.run([sys.executable, "-c", code, str(path)], capture_output=True, text=True, check=True)
    return json.loads(proc.stdout.strip().splitlines()[-1])


def ensure_pywellen() -> None:
    try:
        import pywellen  # noqa: F401
    except ImportError:
        print("installing pywellen (benchmark only) ...", flush=True)
        subprocess.run([sys.executable, "-m", "pip", "install", "-q", "pywellen"], check=True)


def inputs() -> list[tuple[str, Path]]:
    import fst_load
    import gen_verilator
    import vcd_load

    out = BENCH_DIR / "out"
    large = gen_verilator.prepare(out)
    wide, _ = fst_load.to_fst(vcd_load.prepare("wide", False).vcd)
    medium, _ = fst_load.to_fst(vcd_load.prepare("realistic", False).vcd)
    return [("des_large.verilator.fst", large), ("wide_sparse.vcd2fst.fst", wide), ("des_medium.vcd2fst.fst", medium)]


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--repeat", type=int, default=3, metavar="N", help="runs per case, best time reported (default 3)")
    ap.add_argument("--only", help="run the inputs whose label contains this text")
    ap.add_argument("--question", choices=QUESTIONS, help="ask only this question")
    ap.add_argument("--child", nargs=3, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child:
        return child(*args.child)

    ensure_pywellen()
    questions = [args.question] if args.question else list(QUESTIONS)
    rows = []
    load_before = os.getloadavg()[0]
    for label, path in inputs():
        if args.only and args.only not in label:
            continue
        print(f"{label}: {path.name} {path.stat().st_size / MB:.1f} MB", flush=True)
        cost = lazy_open_cost(path)
        picked = three_names(cost["names"])
        print(f"  3 signals: {', '.join(picked)}")
        results = {}
        for question in questions:
            for tool in TOOLS:
                # pywellen reads every signal of a big file for minutes: once.
                n = 1 if (tool == "pywellen" and question == "every signal") else args.repeat
                results[tool, question] = run_case(tool, picked if question == "3 signals" else [], path, n)
                print(f"  {question:<13} {tool:<12} {results[tool, question]['seconds']:8.3f} s "
                      f"{results[tool, question]['peak'] / MB:8.1f} MB", flush=True)
            lazy, eager = results["quarn lazy", question], results["quarn eager", question]
            if (lazy["digest"], lazy["changes"]) != (eager["digest"], eager["changes"]):
                raise SystemExit(f"{label}: lazy and eager answers differ on '{question}'; no figures reported")
        rows.append((label, path, cost, results))

    load_after = os.getloadavg()[0]
    print()
    print(f"open + read changes; best time of {args.repeat} (pywellen every signal: 1 run), fresh process per run; "
          "peak = the process's own peak RSS (VmHWM), interpreter included; "
          "answers hashed after the figures are taken; MB = 10^6 bytes")
    print(f"python {platform.python_version()}, {os.cpu_count()} CPUs, "
          f"load average {load_before:.2f} before, {load_after:.2f} after")
    head = f"{'input':<25} {'question':<13} " + " ".join(f"{t + ' s':>14} {'MB':>7}" for t in TOOLS)
    print(head)
    print("-" * len(head))
    for label, _, _, results in rows:
        for question in questions:
            cells = " ".join(f"{results[t, question]['seconds']:14.3f} {results[t, question]['peak'] / MB:7.1f}"
                             for t in TOOLS)
            print(f"{label:<25} {question:<13} {cells}")
    print()
    for label, _, cost, results in rows:
        if "3 signals" in questions:
            lz, pw = results["quarn lazy", "3 signals"], results["pywellen", "3 signals"]
            ok = lz["seconds"] < pw["seconds"] and lz["peak"] < pw["peak"]
            print(f"target {label}: 3 signals faster and smaller than pywellen: {'met' if ok else 'NOT met'} "
                  f"({lz['seconds']:.3f} vs {pw['seconds']:.3f} s, {lz['peak'] / MB:.1f} vs {pw['peak'] / MB:.1f} MB)")
        if "every signal" in questions:
            la, ea = results["quarn lazy", "every signal"], results["quarn eager", "every signal"]
            print(f"target {label}: every signal no slower than the eager load: "
                  f"{'met' if la['seconds'] <= ea['seconds'] * 1.05 else 'NOT met'} "
                  f"({la['seconds']:.3f} vs {ea['seconds']:.3f} s)")
        print(f"  lazy open alone, nothing decoded: +{(cost['after'] - cost['before']) / MB:.1f} MB resident "
              f"({cost['loaded']['total']} columns)")
    if max(load_before, load_after) > 0.5 * (os.cpu_count() or 1):
        print("warning: the machine was busy with other work; wall-clock figures are inflated")
    return 0


if __name__ == "__main__":
    sys.exit(main())
