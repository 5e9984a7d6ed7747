#!/usr/bin/env python3
"""FST load benchmark: time, peak RSS and VCD-equivalent MB/s of
quarn.PyTrace.from_fst, beside loading the same trace's VCD.

The inputs are the VCD benchmark's (made at run time under bench/out/, see
bench/README.md), converted with GTKWave's vcd2fst into FST files cached
beside them. Each load runs in a fresh interpreter, is checked against the
VCD generator's independent answers, and the best of N runs is reported.
"VCD-equivalent MB/s" is the VCD file's size over the FST load time.
"""

from __future__ import annotations

import argparse
import json
import os
import platform
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH_DIR))

import vcd_load  # noqa: E402

MB = 1e6
TARGET_MB_PER_S = 500.0  # VCD-equivalent, one thread


def child(fmt: str, path: str, expect_path: str) -> int:
    """One timed load in this fresh process; prints a JSON line."""
    import load_child
    import quarn

    baseline = load_child.peak_rss_bytes()
    c0 = load_child.cpu_seconds()
    t0 = time.perf_counter()
    trace = (quarn.PyTrace.from_fst if fmt == "fst" else quarn.PyTrace.from_vcd)(path)
    seconds = time.perf_counter() - t0
    cpu = load_child.cpu_seconds() - c0
    peak = load_child.peak_rss_bytes()
    with open(expect_path, encoding="utf-8") as f:
        expect = json.load(f)
    if fmt == "fst":
        # FST names keep "name [7:0]"; look the answers up under those.
        spelled = {re.sub(r" ?\[[^\]]*\]$", "", n): n for n in trace.signal_names()}
        for key in ("widths", "values", "ranges"):
            expect[key] = [[spelled.get(row[0], row[0]), *row[1:]] for row in expect[key]]
        for key in ("first_name", "last_name"):
            expect[key] = spelled.get(expect[key], expect[key])
    errors = load_child.check(trace, expect)
    print(json.dumps({"seconds": seconds, "cpu_seconds": cpu, "baseline_rss": baseline,
                      "peak_rss": peak, "errors": errors}))
    return 0


def to_fst(vcd: Path) -> tuple[Path, float | None]:
    fst = vcd.with_suffix(".fst")
    if fst.exists() and fst.stat().st_mtime >= vcd.stat().st_mtime:
        return fst, None
    tool = shutil.which("vcd2fst")
    if tool is None:
        raise SystemExit("vcd2fst not found; install Debian's gtkwave")
    print(f"converting {vcd.name} with vcd2fst ...", flush=True)
    t0 = time.perf_counter()
    tmp = fst.with_suffix(".fst.tmp")
    subprocess.run([tool, str(vcd), str(tmp)], check=True, capture_output=True)
    tmp.replace(fst)
    return fst, time.perf_counter() - t0


def load_best(fmt: str, path: Path, expect: Path, repeat: int) -> dict:
    runs = []
    for _ in range(repeat):
        proc = subprocess.run([sys.executable, __file__, "--child", fmt, str(path), str(expect)],
                              capture_output=True, text=True, check=False)
        if proc.returncode != 0:
            raise SystemExit(f"{fmt} load of {path.name} failed:\n{proc.stderr.strip()}")
        run = json.loads(proc.stdout.strip().splitlines()[-1])
        if run["errors"]:
            raise SystemExit(f"wrong answers from {path.name}; no figures reported:\n  " + "\n  ".join(run["errors"][:20]))
        runs.append(run)
    return {
        "seconds": min(r["seconds"] for r in runs),
        "cpu_seconds": min(r["cpu_seconds"] for r in runs),
        "peak_mb": max(r["peak_rss"] for r in runs) / MB,
        "baseline_mb": max(r["baseline_rss"] for r in runs) / MB,
    }


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--only", choices=("realistic", "wide"), help="run one input only")
    ap.add_argument("--small", action="store_true", help="small inputs, for a quick smoke run")
    ap.add_argument("--repeat", type=int, default=3, metavar="N", help="loads per input and format (default 3)")
    ap.add_argument("--child", nargs=3, metavar=("FMT", "PATH", "EXPECT"), help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child:
        return child(*args.child)

    kinds = [args.only] if args.only else ["wide", "realistic"]
    rows = []
    load_before = os.getloadavg()[0]
    for kind in kinds:
        inp = vcd_load.prepare(kind, args.small)
        fst, converted = to_fst(inp.vcd)
        note = "cached" if converted is None else f"converted in {converted:.1f} s"
        vcd_mb = inp.vcd.stat().st_size / MB
        print(f"{kind}: {inp.vcd.name} {vcd_mb:.1f} MB -> {fst.name} {fst.stat().st_size / MB:.1f} MB ({note})",
              flush=True)
        f = load_best("fst", fst, inp.expect, args.repeat)
        v = load_best("vcd", inp.vcd, inp.expect, args.repeat)
        rows.append((inp.label, vcd_mb, fst.stat().st_size / MB, f, v))

    cpus = os.cpu_count() or 1
    load_after = os.getloadavg()[0]
    print()
    print(f"quarn FST load vs VCD load: best of {args.repeat}, fresh process per load; MB = 10^6 bytes")
    print(f"python {platform.python_version()}, {platform.machine()}, {cpus} CPUs, "
          f"load average {load_before:.2f} before, {load_after:.2f} after")
    head = (f"{'input':<26} {'VCD MB':>7} {'FST MB':>7} {'fst s':>7} {'fst cpu s':>9} {'VCD-eq MB/s':>11} "
            f"{'cpu MB/s':>9} {'fst peak MB':>11} {'vcd s':>7} {'vcd peak MB':>11}")
    print(head)
    print("-" * len(head))
    for label, vcd_mb, fst_mb, f, v in rows:
        print(f"{label:<26} {vcd_mb:7.1f} {fst_mb:7.1f} {f['seconds']:7.3f} {f['cpu_seconds']:9.3f} "
              f"{vcd_mb / f['seconds']:11.1f} {vcd_mb / f['cpu_seconds']:9.1f} {f['peak_mb']:11.1f} "
              f"{v['seconds']:7.3f} {v['peak_mb']:11.1f}")
    print("(peak MB: peak RSS of the loading process, interpreter included; "
          f"baseline about {rows[0][3]['baseline_mb']:.0f} MB)")
    if max(load_before, load_after) > 0.5 * cpus:
        print("warning: the machine was busy with other work; wall-clock figures are inflated "
              "and the cpu columns are closer to what an idle machine gives")
    print()
    for label, vcd_mb, _, f, v in rows:
        rate = vcd_mb / f["seconds"]
        print(f"target {label}: >= {TARGET_MB_PER_S:.0f} MB/s VCD-equivalent: "
              f"{'met' if rate >= TARGET_MB_PER_S else 'NOT met'} ({rate:.1f} MB/s wall, "
              f"{vcd_mb / f['cpu_seconds']:.1f} MB/s cpu)")
        print(f"target {label}: peak RSS below the VCD load's: "
              f"{'met' if f['peak_mb'] < v['peak_mb'] else 'NOT met'} ({f['peak_mb']:.1f} vs {v['peak_mb']:.1f} MB)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
