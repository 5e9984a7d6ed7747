#!/usr/bin/env python3
"""quarn beside pywellen on every generated bench trace, each case in a fresh
interpreter: "load" (open the file; quarn reads a VCD whole, an FST lazily
as quarn.open does, pywellen as its Waveform does) and "load + read all"
(then every signal's changes: quarn's transitions, pywellen's signal
iteration). Prints seconds, MB/s of the file, peak RSS and pywellen's time
over quarn's.

Inputs, made at run time under bench/out/ (see bench/README.md): des_medium
(Icarus, vcd_load.py), des_large (Verilator's own VCD writer,
gen_verilator.py), deep_hier (gen_deep_hier.py), wide_sparse (vcd_load.py),
and the vcd2fst conversion of each. pywellen and vcdvcd are installed from
PyPI when missing (benchmark only).
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH_DIR))

MB = 1e6
TOOLS = ("quarn", "pywellen")
QUESTIONS = ("load", "load + read all")
PEERS = ("pywellen", "vcdvcd")


def quarn_case(question: str, path: str) -> int:
    from quarn import PyTrace

    lazy = path.endswith(".fst")
    trace = PyTrace._from_fst_lazy(path) if lazy else PyTrace.from_vcd(path)
    if question == "load":
        return 0
    if lazy and os.environ.get("PEERS_LOAD_ALL"):
        trace.load("*")  # one parallel pass over all columns first
    # Otherwise each FST column is read when its transitions are first asked
    # for, as pywellen reads each signal when first iterated.
    changes = 0
    for name in trace.signal_names():
        changes += len(trace.transitions(name))
    return changes


def pywellen_case(question: str, path: str) -> int:
    import pywellen

    wave = pywellen.Waveform(path)
    if question == "load":
        return 0
    changes = 0
    for v in wave.all_vars():
        changes += len(list(v.signal))
    return changes


def child(tool: str, question: str, path: str) -> int:
    import load_child

    __import__("pywellen" if tool == "pywellen" else "quarn")
    baseline = load_child.peak_rss_bytes()
    c0 = load_child.cpu_seconds()
    t0 = time.perf_counter()
    changes = (pywellen_case if tool == "pywellen" else quarn_case)(question, path)
    seconds = time.perf_counter() - t0
    cpu = load_child.cpu_seconds() - c0
    print(json.dumps({"seconds": seconds, "cpu": cpu, "baseline": baseline, "peak": load_child.peak_rss_bytes(),
                      "changes": changes}))
    return 0


def run_case(tool: str, question: str, path: Path, repeat: int, timeout: float) -> dict | None:
    """The best of `repeat` runs, or None when a run takes over `timeout` s."""
    runs = []
    for _ in range(repeat):
        try:
            proc = subprocess.run([sys.executable, __file__, "--child", tool, question, str(path)],
                                  capture_output=True, text=True, check=False, timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        if proc.returncode != 0:
            raise SystemExit(f"{tool} / {question} on {path.name} failed:\n{proc.stderr.strip()}")
        runs.append(json.loads(proc.stdout.strip().splitlines()[-1]))
    best = min(runs, key=lambda r: r["seconds"])
    return {**best, "peak": max(r["peak"] for r in runs), "cpu": min(r["cpu"] for r in runs)}


def cell(r: dict | None, what: str, size: int = 0) -> str:
    if r is None:
        return ">limit"
    if what == "s":
        return f"{r['seconds']:.3f}"
    if what == "cpu":
        return f"{r['cpu']:.2f}"
    if what == "mbs":
        return f"{size / MB / r['seconds']:.0f}"
    return f"{r['peak'] / MB:.0f}"


def ratio(p: dict | None, q: dict | None, key: str) -> str:
    if q is None:
        return "?"
    if p is None:
        return "big"
    return f"{p[key] / q[key]:.2f}x" if q[key] > 0 else "-"


def ensure_peers() -> None:
    for name in PEERS:
        try:
            __import__(name)
        except ImportError:
            print(f"installing {name} (benchmark only) ...", flush=True)
            subprocess.run([sys.executable, "-m", "pip", "install", "-q", name], check=True)


def vcd2fst(vcd: Path) -> Path:
    """The vcd2fst conversion of `vcd`, redone when the VCD is newer."""
    fst = vcd.with_suffix(".vcd2fst.fst")
    if fst.exists() and fst.stat().st_mtime >= vcd.stat().st_mtime:
        return fst
    tool = shutil.which("vcd2fst")
    if tool is None:
        raise SystemExit("vcd2fst not found; install Debian's gtkwave")
    print(f"converting {vcd.name} with vcd2fst ...", flush=True)
    tmp = fst.with_suffix(".tmp")
    subprocess.run([tool, str(vcd), str(tmp)], check=True, capture_output=True)
    tmp.replace(fst)
    return fst


def inputs(only: set[str] | None) -> list[tuple[str, Path]]:
    import fst_load
    import gen_deep_hier
    import gen_verilator
    import vcd_load

    out = BENCH_DIR / "out"
    makers = {
        # vcd_load's inputs already have their vcd2fst files, under fst_load's names.
        "des_medium": lambda: (vcd := vcd_load.prepare("realistic", False).vcd, fst_load.to_fst(vcd)[0]),
        "des_large": lambda: (vcd := gen_verilator.prepare(out, fmt="vcd"), vcd2fst(vcd)),
        "deep_hier": lambda: (vcd := gen_deep_hier.prepare(out), vcd2fst(vcd)),
        "wide_sparse": lambda: (vcd := vcd_load.prepare("wide", False).vcd, fst_load.to_fst(vcd)[0]),
    }
    files = []
    for label, make in makers.items():
        if only and label not in only:
            continue
        vcd, fst = make()
        files += [(f"{label}.vcd", vcd), (f"{label}.fst", fst)]
    return files


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--child", nargs=3, metavar=("TOOL", "QUESTION", "PATH"), help=argparse.SUPPRESS)
    ap.add_argument("--only", action="append", help="des_medium, des_large, deep_hier or wide_sparse (repeatable)")
    ap.add_argument("--repeat", type=int, default=1, help="runs per case; the best is printed")
    ap.add_argument("--timeout", type=float, default=300, help="seconds after which a run is given up")
    args = ap.parse_args()
    if args.child:
        return child(*args.child)

    ensure_peers()
    files = inputs(set(args.only) if args.only else None)
    load_before = os.getloadavg()[0]
    rows = []
    for label, path in files:
        size = path.stat().st_size
        for question in QUESTIONS:
            r = {tool: run_case(tool, question, path, args.repeat, args.timeout) for tool in TOOLS}
            rows.append((label, size, question, r))
            print(f"  {label} / {question}: " + ", ".join(f"{t} {cell(r[t], 's')}" for t in TOOLS), flush=True)

    print(f"\nbest of {args.repeat}, fresh process per run, {os.cpu_count()} logical CPUs, "
          f"load average {load_before:.1f} before, {os.getloadavg()[0]:.1f} after; "
          f"'>limit': a run given up after {args.timeout:.0f} s")
    print("quarn reads a VCD whole and opens an FST lazily (as quarn.open), reading each column when first asked"
          + (" (PEERS_LOAD_ALL: all columns in one pass first);" if os.environ.get("PEERS_LOAD_ALL") else ";"))
    print("pywellen's Waveform reads headers only and each signal's body when first iterated.")
    print(f"{'file':16} {'MB':>6} {'question':15} | {'quarn s':>8} {'CPU s':>7} {'MB/s':>6} {'RSS MB':>6} | "
          f"{'pywellen s':>10} {'CPU s':>7} {'MB/s':>6} {'RSS MB':>6} | {'pw/quarn':>8} {'CPU ratio':>9}")
    for label, size, question, r in rows:
        q, p = r["quarn"], r["pywellen"]
        print(f"{label:16} {size / MB:6.1f} {question:15} | {cell(q, 's'):>8} {cell(q, 'cpu'):>7} "
              f"{cell(q, 'mbs', size):>6} {cell(q, 'rss'):>6} | {cell(p, 's'):>10} {cell(p, 'cpu'):>7} "
              f"{cell(p, 'mbs', size):>6} {cell(p, 'rss'):>6} | {ratio(p, q, 'seconds'):>8} {ratio(p, q, 'cpu'):>9}")
    print("RSS: peak of the whole process, interpreter included. Ratios are pywellen's over quarn's: above 1, "
          "quarn is faster. Wall clock on a loaded machine varies; CPU time less so.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
