#!/usr/bin/env python3
"""FSDB load benchmark: time and peak RSS of quarn.PyTrace.from_fsdb.

Makes a synthetic newer-layout file of about 100 MB under bench/out/ (cached
by parameters): one zlib name block, 19 zlib value blocks and a width section,
with uncompressed filler between the blocks standing in for the data the
reader does not decode. Each load runs in a fresh interpreter; the loaded
trace is checked against answers computed here from the generated events by
a plain dictionary model before any figure is printed.
"""

from __future__ import annotations

import argparse
import hashlib
import inspect
import json
import os
import platform
import random
import struct
import subprocess
import sys
import time
import zlib
from bisect import bisect_left
from dataclasses import dataclass
from pathlib import Path

import load_child  # bench/ is on sys.path when a script here runs

BENCH_DIR = Path(__file__).resolve().parent
OUT_DIR = BENCH_DIR / "out"
MB = 1e6

NEWER_MAGIC = 0x1C3ED948
HEADER_MARK = bytes([0x38, 0x43, 0x00, 0x04, 0x00, 0x08])
TRAILER_MARK = bytes([0x44, 0x00, 0x63, 0x00, 0x03, 0x08])
TARGET_SECONDS = 1.0
TARGET_RSS_RATIO = 3.0


@dataclass(frozen=True)
class Params:
    label: str
    names: int
    value_blocks: int
    pairs_per_block: int
    pairs_per_segment: int
    target_bytes: int


FULL = Params("fsdb-100mb", names=40_000, value_blocks=19, pairs_per_block=131_072, pairs_per_segment=64,
              target_bytes=100_000_000)
SMALL = Params("fsdb-small", names=2_000, value_blocks=19, pairs_per_block=4_096, pairs_per_segment=64,
               target_bytes=5_000_000)
DESCRIPTORS = [(0, 1), (1, 2), (0, 3)]  # (kind, time offset): three derived signals per block
CLOCK_THIRD_BYTE = 10  # period (10 * 5) >> 1 = 25, on block 0 only
GENERATOR_VERSION = "1"


def c_strings(names: list[str]) -> bytes:
    return b"".join(n.encode() + b"\0" for n in names)


def signal_name(i: int) -> str:
    return f"top.core{i // 1000}.blk{(i // 50) % 20}.sig{i}"


def value_block(j: int, p: Params, rng: random.Random, emit, first_id: int, n: int) -> bytes:
    """Block j; emit(id, time, value) is called for each event it stands for, in the reader's order."""
    trailer_values = 4 * j  # gives signals 1..4j a value at time 0 and moves the base events past them
    body = bytearray()
    for kind, offset in DESCRIPTORS:
        body += bytes([(0x80 | offset) if kind == 0 else (0x40 | offset), 0])
    base: list[tuple[int, int]] = []
    last_time = 0
    left = p.pairs_per_block
    while left > 0:
        count = min(p.pairs_per_segment, left)
        left -= count
        running = 0
        for _ in range(count):
            b = rng.randrange(3)
            # Never the separator, and never 0x01, which with a following
            # 0x40..0x7F byte would make the block look like a record table.
            c = rng.randrange(2, 256)
            c = 9 if c == 8 else c
            running += b
            t = last_time if running == 0 else last_time + 10 * (running - 1)
            body += bytes([b, c])
            base.append((t, c))
        last_time = base[-1][0]
        body.append(0x08)
    clock = j == 0
    body += bytes([0x40, 0, CLOCK_THIRD_BYTE, ord("1")]) if clock else bytes([0x11, 0x11])
    trailer = bytes([0x41] * trailer_values) + b"\0\0\0"
    block = bytes([1, 2, 3]) + HEADER_MARK + bytes(body) + TRAILER_MARK + trailer

    for k in range(trailer_values):
        if k + 1 < n:
            emit(k + 1, 0, 0x41)
    current = 0 if trailer_values == 0 else min(trailer_values + 1, n - 1)
    assert current == first_id
    for t, v in base:
        emit(current, t, v)
    for d, (kind, offset) in enumerate(DESCRIPTORS):
        for t, v in base:
            emit(current + 1 + d, t + offset, v if kind == 0 else v & 1)
    if clock:
        period = (CLOCK_THIRD_BYTE * 5) >> 1
        latest = max(t for t, _ in base)
        for k in range((latest + 10) // period + 1):
            emit(0, k * period, 1 - (k & 1))
    return block


class Model:
    """A dictionary model of the store: distinct times plus 0; per signal and
    time the last event wins; named signals hold 0 at time 0; values hold."""

    def __init__(self, sample_ids: set[int]):
        self.times = {0}
        self.per_id: dict[int, dict[int, int]] = {i: {} for i in sample_ids}
        self.count = 0

    def emit(self, i: int, t: int, v: int) -> None:
        self.times.add(t)
        self.count += 1
        changes = self.per_id.get(i)
        if changes is not None:
            changes[t] = v

    def answers(self, n: int) -> dict:
        times = sorted(self.times)
        rng = random.Random(1)
        probe = sorted({0, 1, len(times) // 2, len(times) - 1, *(rng.randrange(len(times)) for _ in range(20))})
        out = {"max_index": len(times) - 1, "timestamps": [[i, times[i]] for i in probe], "ranges": []}
        for i, changes in sorted(self.per_id.items()):
            if i < n:
                changes.setdefault(0, 0)
            keys = sorted(changes)
            start = rng.randrange(max(1, len(times) - 200))
            values = []
            for idx in range(start, min(start + 200, len(times))):
                pos = bisect_left(keys, times[idx] + 1) - 1
                values.append(changes[keys[pos]] if pos >= 0 else None)
            out["ranges"].append([signal_name(i), start, values])
        return out


def generate(p: Params, path: Path) -> dict:
    rng = random.Random(6)
    names = [signal_name(i) for i in range(p.names)]
    first_ids = [0 if j == 0 else 4 * j + 1 for j in range(p.value_blocks)]
    model = Model({0, 1, 2, 3, 4, 5, 9, first_ids[-1], first_ids[-1] + 3, first_ids[7] + 2, p.names - 1})
    blocks = [c_strings(names)]
    for j in range(p.value_blocks):
        blocks.append(value_block(j, p, rng, model.emit, first_ids[j], p.names))
    streams = [zlib.compress(b, 6) for b in blocks]
    filler_total = max(0, p.target_bytes - 400 - sum(len(s) for s in streams) - p.names)
    filler_each = filler_total // len(streams)

    data = bytearray(400)
    struct.pack_into(">I", data, 4, NEWER_MAGIC)
    struct.pack_into("<I", data, 40, 84)
    for s in streams:
        data += s
        data += rng.randbytes(filler_each)
    types = b"xCj}Q"
    records = bytearray()
    widths = {}
    for i in range(p.names):
        t = types[i % len(types)]
        records += bytes([1, 0, t, 0, 0]) if t in b"CD" else bytes([1, 0, t])
        widths[names[i]] = {ord("x"): 16, ord("C"): 8, ord("j"): 2, ord("}"): 32}.get(t, 1)
    section = zlib.compress(bytes(records))
    struct.pack_into("<Q", data, 272, len(data))
    data += struct.pack("<I", len(section)) + section
    tmp = path.with_suffix(".tmp")
    tmp.write_bytes(data)
    tmp.replace(path)

    answers = model.answers(p.names)
    answers.update(signal_count=p.names, first_name=names[0], last_name=names[-1],
                   widths=[[names[i], widths[names[i]]] for i in (0, 1, 2, 3, 4, p.names - 1)],
                   events=model.count)
    return answers


def target(p: Params) -> Path:
    # Keyed by the generator's own code, so edits to the measuring part keep the cache.
    code = "".join(inspect.getsource(f) for f in (c_strings, signal_name, value_block, Model, generate))
    key = hashlib.sha256((repr(p) + GENERATOR_VERSION + code).encode()).hexdigest()[:10]
    return OUT_DIR / f"{p.label}-{key}.fsdb"


def child(path: str, expect_path: str) -> int:
    import quarn

    baseline = load_child.peak_rss_bytes()
    t0, c0 = time.perf_counter(), time.process_time()
    trace = quarn.PyTrace.from_fsdb(path)
    seconds, cpu = time.perf_counter() - t0, time.process_time() - c0
    peak = load_child.peak_rss_bytes()
    expect = json.loads(Path(expect_path).read_text())
    errors = []

    def same(what, got, want):
        if got != want:
            errors.append(f"{what}: got {got!r}, expected {want!r}")

    names = trace.signal_names()
    same("signal count", len(names), expect["signal_count"])
    same("first name", names[0] if names else None, expect["first_name"])
    same("last name", names[-1] if names else None, expect["last_name"])
    same("max_index", trace.max_index(), expect["max_index"])
    for index, t in expect["timestamps"]:
        same(f"timestamp({index})", trace.timestamp(index), t)
    for name, width in expect["widths"]:
        same(f"signal_width({name})", trace.signal_width(name), width)
    for name, start, values in expect["ranges"]:
        got = trace.signal_values_range(name, start, start + len(values))
        same(f"range of {name} from {start}", got, values)
    print(json.dumps({"seconds": seconds, "cpu": cpu, "baseline_rss": baseline, "peak_rss": peak,
                      "errors": errors[:10]}))
    return 0


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--small", action="store_true", help="a ~5 MB file, for a quick smoke run")
    ap.add_argument("--repeat", type=int, default=3, metavar="N", help="loads; the best counts (default 3)")
    ap.add_argument("--child", nargs=2, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child:
        return child(*args.child)

    p = SMALL if args.small else FULL
    OUT_DIR.mkdir(parents=True, exist_ok=True)
    path = target(p)
    expect = path.with_suffix(".expect.json")
    if not (path.exists() and expect.exists()):
        for old in OUT_DIR.glob(f"{p.label}-*"):
            old.unlink()
        print(f"generating {path.name} ...", flush=True)
        t0 = time.perf_counter()
        answers = generate(p, path)
        expect.write_text(json.dumps(answers))
        print(f"  done in {time.perf_counter() - t0:.1f} s", flush=True)
    answers = json.loads(expect.read_text())
    size_mb = path.stat().st_size / MB

    runs = []
    for _ in range(args.repeat):
        proc = subprocess.run([sys.executable, __file__, "--child", str(path), str(expect)],
                              capture_output=True, text=True, check=False)
        if proc.returncode != 0:
            raise SystemExit(f"load failed (exit {proc.returncode}):\n{proc.stderr.strip()}")
        run = json.loads(proc.stdout.strip().splitlines()[-1])
        if run["errors"]:
            raise SystemExit("wrong answers; no figures reported:\n  " + "\n  ".join(run["errors"]))
        runs.append(run)
    best = min(r["seconds"] for r in runs)
    best_cpu = min(r["cpu"] for r in runs)
    peak = max(r["peak_rss"] for r in runs) / MB
    base = max(r["baseline_rss"] for r in runs) / MB
    print()
    print(f"quarn FSDB load: best of {args.repeat}, one fresh process per load; MB = 10^6 bytes")
    print(f"python {platform.python_version()}, {platform.machine()}, {os.cpu_count()} CPUs")
    print(f"file {path.name}: {size_mb:.1f} MB, {p.names} names, {p.value_blocks} value blocks, "
          f"{answers['events']:,} events, {answers['max_index'] + 1:,} time steps")
    print(f"best load {best:.3f} s wall ({size_mb / best:.1f} MB/s), {best_cpu:.3f} s CPU (user + system); "
          f"RSS baseline {base:.1f} MB, peak {peak:.1f} MB ({peak / size_mb:.2f} x file size)")
    if args.small:
        print("targets are judged on the full-size input only")
        return 0
    # On a shared machine the wall time includes waiting for a core; the CPU
    # time is what the load itself costs.
    print(f"target load < {TARGET_SECONDS:.0f} s: wall {'met' if best < TARGET_SECONDS else 'NOT met'}, "
          f"CPU {'met' if best_cpu < TARGET_SECONDS else 'NOT met'}")
    print(f"target peak RSS < {TARGET_RSS_RATIO:.0f} x file size: "
          f"{'met' if peak < TARGET_RSS_RATIO * size_mb else 'NOT met'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
