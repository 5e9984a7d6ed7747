"""Batch benchmark: one expression search over 200 small traces through
`quarn.batch` on a local Dask cluster of 1 and of 2 worker processes, beside
a plain in-process loop, all in one run.

The traces are copies of the small realistic input (two DES lanes, made by
gen_realistic.py into bench/out/). Cluster start-up is timed apart from the
batch itself. Every batch's counts are checked against the loop's first.
Prints the speed-up of 2 workers over 1 and the per-trace overhead of a
batch against the loop. See bench/README.md.
"""

from __future__ import annotations

import argparse
import os
import shutil
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

# Every side runs one pool thread per process, as the workers of a cluster
# that quarn.batch starts do (one worker per core): the loop is then the
# same work as one worker, without Dask.
os.environ.setdefault("RAYON_NUM_THREADS", "1")

import vcd_load  # noqa: E402  (generator and cache of the bench inputs)

import quarn  # noqa: E402
from quarn.batch import worker_env  # noqa: E402


def make_farm(count: int) -> tuple[list[str], str]:
    inp = vcd_load.prepare("realistic", small=True)
    farm = vcd_load.OUT_DIR / f"batch-{count}"
    farm.mkdir(exist_ok=True)
    paths = []
    for i in range(count):
        p = farm / f"run{i:04d}.vcd"
        if not p.exists() or p.stat().st_size != inp.vcd.stat().st_size:
            shutil.copyfile(inp.vcd, p)
        paths.append(str(p))
    trace = quarn.open(paths[0])
    clock = next(n for n in trace.signal_names() if n.endswith(".clk") and trace.signal_width(n) == 1)
    return paths, f"{clock} == 1"


def loop(paths: list[str], expr: str) -> list[int]:
    return [len(quarn.open(p).find(expr)) for p in paths]


def timed_batch(paths: list[str], expr: str, workers: int, expected: list[int], repeat: int) -> tuple[float, float]:
    from dask.distributed import Client, LocalCluster

    t0 = time.perf_counter()
    cluster = LocalCluster(
        n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None, env=worker_env()
    )
    client = Client(cluster)
    client.wait_for_workers(workers)
    start_up = time.perf_counter() - t0
    try:
        best = float("inf")
        for _ in range(repeat):
            t0 = time.perf_counter()
            frame = quarn.batch(paths, expr, client=client, progress=False)
            best = min(best, time.perf_counter() - t0)
            if list(frame["matches"]) != expected or frame["error"].notna().any():
                raise SystemExit(f"batch on {workers} workers disagrees with the loop")
    finally:
        client.close()
        cluster.close()
    return best, start_up


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--traces", type=int, default=200)
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()

    paths, expr = make_farm(args.traces)
    size_mb = sum(os.path.getsize(p) for p in paths) / 1e6
    print(f"{len(paths)} traces, {size_mb:.0f} MB in all, query {expr!r}; RAYON_NUM_THREADS={os.environ['RAYON_NUM_THREADS']}; load average {os.getloadavg()[0]:.1f}")
    expected = loop(paths, expr)
    loop_best = float("inf")
    for _ in range(args.repeat):
        t0 = time.perf_counter()
        loop(paths, expr)
        loop_best = min(loop_best, time.perf_counter() - t0)
    one, start1 = timed_batch(paths, expr, 1, expected, args.repeat)
    two, start2 = timed_batch(paths, expr, 2, expected, args.repeat)
    n = len(paths)
    print(f"plain loop:          {loop_best:7.3f} s  ({loop_best / n * 1e3:.2f} ms per trace)")
    print(f"batch, 1 worker:     {one:7.3f} s  (cluster start {start1:.2f} s)")
    print(f"batch, 2 workers:    {two:7.3f} s  (cluster start {start2:.2f} s)")
    print(f"speed-up 2 vs 1 worker: {one / two:.2f}x (target >= 1.8x)")
    print(f"batch overhead per trace (1 worker vs loop): {(one - loop_best) / n * 1e3:.2f} ms")
    print(f"load average after: {os.getloadavg()[0]:.1f}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
