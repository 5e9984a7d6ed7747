#!/usr/bin/env python3
"""VCD load benchmark: MB/s and peak RSS of quarn.PyTrace.from_vcd.

Makes its inputs deterministically under bench/out/ (cached by parameters),
then loads each one in a fresh interpreter per run, checks the loaded trace
against answers computed independently of quarn, and prints the best time
of N runs, throughput and peak RSS. See bench/README.md.
"""

from __future__ import annotations

import argparse
import json
import os
import platform
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH_DIR))

import gen_realistic  # noqa: E402
import gen_wide  # noqa: E402

OUT_DIR = BENCH_DIR / "out"
MB = 1e6  # figures are in decimal megabytes
TARGET_MB_PER_S = 250.0  # realistic trace, one thread


@dataclass
class Input:
    kind: str  # "realistic" or "wide"
    label: str
    vcd: Path
    expect: Path
    generated_seconds: float | None  # None when taken from the cache


def prepare(kind: str, small: bool) -> Input:
    """The input's VCD and expected answers, generated unless cached."""
    OUT_DIR.mkdir(parents=True, exist_ok=True)
    gen = gen_realistic if kind == "realistic" else gen_wide
    params = gen.SMALL if small else gen.FULL
    vcd, _ = gen.target(params, OUT_DIR)
    expect = vcd.with_suffix(".expect.json")
    if vcd.exists() and expect.exists():
        return Input(kind, params.label, vcd, expect, None)
    # Stale files of earlier parameters or generator versions go first: each is large.
    for old in OUT_DIR.glob(f"{params.label}-*"):
        old.unlink()
    print(f"generating {vcd.name} ...", flush=True)
    t0 = time.perf_counter()
    answers = gen.generate(params, OUT_DIR, vcd)
    seconds = time.perf_counter() - t0
    tmp = expect.with_suffix(".tmp")
    tmp.write_text(json.dumps(answers), encoding="utf-8")
    tmp.replace(expect)
    print(f"  {vcd.stat().st_size / MB:.1f} MB in {seconds:.1f} s", flush=True)
    return Input(kind, params.label, vcd, expect, seconds)


def load_once(inp: Input) -> dict:
    child = BENCH_DIR / "load_child.py"
    proc = subprocess.run(
        [sys.executable, str(child), str(inp.vcd), str(inp.expect)],
        capture_output=True, text=True, check=False,
    )
    if proc.returncode != 0:
        raise SystemExit(f"load of {inp.vcd.name} failed (exit {proc.returncode}):\n{proc.stderr.strip()}")
    return json.loads(proc.stdout.strip().splitlines()[-1])


@dataclass
class Result:
    inp: Input
    size_mb: float
    best_seconds: float
    best_cpu_seconds: float
    baseline_mb: float
    peak_mb: float

    @property
    def mb_per_s(self) -> float:
        return self.size_mb / self.best_seconds

    @property
    def cpu_mb_per_s(self) -> float:
        return self.size_mb / self.best_cpu_seconds

    @property
    def peak_ratio(self) -> float:
        return self.peak_mb / self.size_mb


def measure(inp: Input, repeat: int) -> Result:
    runs = []
    for _ in range(repeat):
        run = load_once(inp)
        if run["errors"]:
            shown = "\n  ".join(run["errors"][:20])
            more = len(run["errors"]) - 20
            tail = f"\n  ... and {more} more" if more > 0 else ""
            raise SystemExit(f"wrong answers after loading {inp.vcd.name}; no figures reported:\n  {shown}{tail}")
        runs.append(run)
    return Result(
        inp=inp,
        size_mb=inp.vcd.stat().st_size / MB,
        best_seconds=min(r["seconds"] for r in runs),
        best_cpu_seconds=min(r["cpu_seconds"] for r in runs),
        baseline_mb=max(r["baseline_rss"] for r in runs) / MB,
        peak_mb=max(r["peak_rss"] for r in runs) / MB,
    )


def print_report(results: list[Result], repeat: int, small: bool, load_before: float, load_after: float) -> None:
    cpus = os.cpu_count() or 1
    print()
    print(f"quarn VCD load: best of {repeat}, one fresh process per load; MB = 10^6 bytes")
    print(f"python {platform.python_version()}, {platform.machine()}, {cpus} CPUs, "
          f"load average {load_before:.2f} before, {load_after:.2f} after")
    head = (f"{'input':<26} {'size MB':>8} {'best s':>8} {'MB/s':>8} {'cpu s':>8} {'cpu MB/s':>9} "
            f"{'base RSS MB':>12} {'peak RSS MB':>12} {'peak/size':>10}")
    print(head)
    print("-" * len(head))
    for r in results:
        print(
            f"{r.inp.label:<26} {r.size_mb:8.1f} {r.best_seconds:8.3f} {r.mb_per_s:8.1f} "
            f"{r.best_cpu_seconds:8.3f} {r.cpu_mb_per_s:9.1f} "
            f"{r.baseline_mb:12.1f} {r.peak_mb:12.1f} {r.peak_ratio:10.2f}"
        )
    print("(best s: wall clock; cpu s: user + system time of the loading process)")
    if max(load_before, load_after) > 0.5 * cpus:
        print("warning: the machine was busy with other work; wall-clock figures are inflated "
              "and the cpu column is closer to what an idle machine gives")
    print()
    if small:
        print("targets are judged on the full-size inputs only (the interpreter alone outweighs a small file)")
        return
    for r in results:
        if r.inp.kind == "realistic":
            verdict = "met" if r.mb_per_s >= TARGET_MB_PER_S else "NOT met"
            print(f"target {r.inp.label}: >= {TARGET_MB_PER_S:.0f} MB/s: {verdict} ({r.mb_per_s:.1f} MB/s)")
        verdict = "met" if r.peak_ratio < 1.0 else "NOT met"
        print(f"target {r.inp.label}: peak RSS < file size: {verdict} ({r.peak_mb:.1f} MB vs {r.size_mb:.1f} MB)")


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--only", choices=("realistic", "wide"), help="run one input only")
    ap.add_argument("--small", action="store_true", help="small inputs, for a quick smoke run")
    ap.add_argument("--repeat", type=int, default=3, metavar="N", help="loads per input; the best counts (default 3)")
    ap.add_argument("--generate-only", action="store_true", help="make the inputs and stop")
    args = ap.parse_args()
    if args.repeat < 1:
        ap.error("--repeat must be at least 1")

    kinds = [args.only] if args.only else ["realistic", "wide"]
    inputs = [prepare(kind, args.small) for kind in kinds]
    for inp in inputs:
        state = "cached" if inp.generated_seconds is None else f"generated in {inp.generated_seconds:.1f} s"
        print(f"{inp.kind}: {inp.vcd.relative_to(BENCH_DIR.parent)} ({inp.vcd.stat().st_size / MB:.1f} MB, {state})")
    if args.generate_only:
        return 0

    probe = subprocess.run([sys.executable, "-c", "import quarn"], capture_output=True, text=True, check=False)
    if probe.returncode != 0:
        print("quarn is not importable; install it first (bash scripts/setup.sh)", file=sys.stderr)
        print(probe.stderr.strip(), file=sys.stderr)
        return 1

    load_before = os.getloadavg()[0]
    results = [measure(inp, args.repeat) for inp in inputs]
    print_report(results, args.repeat, args.small, load_before, os.getloadavg()[0])
    return 0


if __name__ == "__main__":
    sys.exit(main())
