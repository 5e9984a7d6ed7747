#!/usr/bin/env python3
"""SHM load benchmark: time and peak RSS of quarn.PyTrace.from_shm.

Writes a synthetic SHM database (one design file, several transition files)
into bench/out/, loads it in a fresh interpreter per run, checks the trace
against answers worked out from the generator's own parameters, and prints
the best time of N runs, decoded events per second and peak RSS.

    python3 bench/shm_load.py            # 50,000 signals, 4 transition files
    python3 bench/shm_load.py --small    # 2,000 signals
"""

from __future__ import annotations

import argparse
import json
import os
import random
import struct
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

OUT_DIR = Path(__file__).resolve().parent / "out"
MAGIC = 0xA19511BF
SCOPE_DEF, SIGNAL = 0x070501, 0x090700
COVER = 64  # signals per block
GENERATOR_VERSION = 1


@dataclass(frozen=True)
class Params:
    signals: int
    files: int
    label: str


FULL = Params(50_000, 4, "shm-full")
SMALL = Params(2_000, 4, "shm-small")


def steps(f: int) -> int:
    return 10 + 5 * f


def end_time(f: int) -> int:
    return 100_000 + 1_000 * f


def names(p: Params) -> list[str]:
    return [f"top.c{i // 1000}.s{i}" for i in range(p.signals)]


def design(p: Params) -> bytes:
    out = bytearray(struct.pack(">I", MAGIC) + bytes(124))
    scopes = ["top"] + [f"top.c{k}" for k in range((p.signals + 999) // 1000)]
    for tag, name in [(SCOPE_DEF, s) for s in scopes] + [(SIGNAL, n) for n in names(p)]:
        at = len(out)
        body = name.encode() + b"\0"
        body += bytes(-len(body) % 4)
        out += struct.pack(">III", tag, at + 12 + len(body), at + 12) + body
    return bytes(out)


def value_bytes(p: Params, f: int) -> list[int]:
    """One byte per signal: blocks alternate level bytes (0x08/0x10) and
    flag bytes (0x00/0x40)."""
    rng = random.Random(1000 + f)
    out = []
    for j in range(p.signals):
        flag_block = (j // COVER) % 2 == 1
        out.append(rng.choice((0x00, 0x40) if flag_block else (0x08, 0x10)))
    return out


def transitions(p: Params, f: int) -> bytes:
    out = bytearray(struct.pack(">IIII", MAGIC, 0, 0, 0) + bytes(8))
    values = value_bytes(p, f)
    for start in range(0, p.signals, COVER):
        chunk = bytes(values[start : start + COVER])
        s = len(out) + 64
        header = bytearray(64)
        header[0:4] = b"\x00\x1b\x22\x00"
        struct.pack_into(">I", header, 28, end_time(f))
        struct.pack_into(">I", header, 40, steps(f))
        struct.pack_into(">III", header, 48, s + len(chunk), s, s + len(chunk))
        out += header + chunk
    return bytes(out)


def events(p: Params, f: int) -> dict[int, list[tuple[int, int]]]:
    """Per signal, (time, bit) in decoding order, as the block layout implies."""
    e, n = end_time(f), steps(f)
    out = {}
    for j, b in enumerate(value_bytes(p, f)):
        level = 1 if (b >> 3) & 3 == 2 else 0
        first = level if b in (0x08, 0x10) else (b >> 6) & 1
        out[j] = [(0, first)] + [(s * e // (n + 1), (s % 2) ^ level) for s in range(1, n + 1)]
    return out


def answers(p: Params, sample: list[int]) -> dict:
    all_events = [events(p, f) for f in range(p.files)]
    times = sorted({0} | {t for ev in all_events for t, _ in ev[0]} | {end_time(f) for f in range(p.files)})
    values = {}
    for j in sample:
        at = {}
        for ev in all_events:  # later files win at equal times
            for t, bit in ev[j]:
                at[t] = bit
        row, current = [], 0
        for t in times:
            current = at.get(t, current)
            row.append(current)
        values[names(p)[j]] = row
    n = names(p)
    return {
        "signal_count": len(n),
        "first_name": n[0],
        "last_name": n[-1],
        "scope_count": 1 + (p.signals + 999) // 1000,
        "timestamps": times,
        "values": values,
        "events": sum(len(v) for ev in all_events for v in ev.values()),
    }


def prepare(p: Params) -> tuple[Path, dict]:
    db = OUT_DIR / f"{p.label}-v{GENERATOR_VERSION}"
    expect_path = db / "expect.json"
    if not expect_path.exists():
        db.mkdir(parents=True, exist_ok=True)
        print(f"generating {db.name} ...", flush=True)
        (db / "run.dsn").write_bytes(design(p))
        for f in range(p.files):
            (db / f"w{f}.trn").write_bytes(transitions(p, f))
        sample = sorted(random.Random(7).sample(range(p.signals), 30))
        expect_path.write_text(json.dumps(answers(p, sample)))
    return db, json.loads(expect_path.read_text())


# VmHWM is this process's own peak; ru_maxrss would include the parent's
# peak from before the exec.
CHILD = r"""
import json, sys, time
import quarn
def hwm():
    for line in open("/proc/self/status"):
        if line.startswith("VmHWM:"):
            return int(line.split()[1]) * 1024
base = hwm()
t0, c0 = time.perf_counter(), time.process_time()
trace = quarn.PyTrace.from_shm(sys.argv[1])
seconds, cpu = time.perf_counter() - t0, time.process_time() - c0
peak = hwm()
expect = json.loads(open(sys.argv[2]).read())
errors = []
def same(what, got, want):
    if got != want:
        errors.append(f"{what}: got {got!r}, expected {want!r}")
names = trace.signal_names()
same("signal count", len(names), expect["signal_count"])
same("first name", names[0], expect["first_name"])
same("last name", names[-1], expect["last_name"])
same("scope count", len(trace.scopes()), expect["scope_count"])
same("timestamps", [trace.timestamp(i) for i in range(trace.max_index() + 1)], expect["timestamps"])
for name, row in expect["values"].items():
    same(name, trace.signal_values_range(name, 0, len(row)), row)
print(json.dumps({"seconds": seconds, "cpu": cpu, "base": base, "peak": peak, "errors": errors[:5]}))
"""


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--small", action="store_true")
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()
    p = SMALL if args.small else FULL
    db, expect = prepare(p)
    size = sum(f.stat().st_size for f in db.iterdir() if f.suffix in (".dsn", ".trn"))
    runs = []
    for _ in range(args.repeat):
        res = subprocess.run([sys.executable, "-c", CHILD, str(db), str(db / "expect.json")],
                             capture_output=True, text=True, check=True)
        run = json.loads(res.stdout)
        if run["errors"]:
            print("wrong answers:", *run["errors"], sep="\n  ")
            return 1
        runs.append(run)
    best = min(r["seconds"] for r in runs)
    best_cpu = min(r["cpu"] for r in runs)
    peak = max(r["peak"] for r in runs)
    print(f"{p.label}: {p.signals} signals, {p.files} transition files, {size / 1e6:.1f} MB on disk, "
          f"{expect['events']:,} events, {len(expect['timestamps'])} indices")
    print(f"  best of {args.repeat}: {best * 1e3:.0f} ms, {expect['events'] / best / 1e6:.1f} M events/s, "
          f"{size / best / 1e6:.1f} MB/s; best CPU time {best_cpu * 1e3:.0f} ms")
    print(f"  load average {os.getloadavg()[0]:.1f} (wall-clock figures are only meaningful when low)")
    print(f"  peak RSS {peak / 1e6:.0f} MB (interpreter baseline {runs[0]['base'] / 1e6:.0f} MB)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
