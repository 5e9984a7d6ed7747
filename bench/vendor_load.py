"""Load speed and peak memory of the VPD and WLF readers.

Usage: python3 bench/vendor_load.py [--repeat N] [--mb SIZE]
Makes one VPD and one WLF file of about SIZE MB in bench/out/ (closed formats,
so the files are byte images written by this script), checks the answers of
one load against what was written, then times N loads of each in fresh
interpreters and prints the best wall-clock time, MB/s and peak RSS.
"""

from __future__ import annotations

import argparse
import json
import os
import random
import struct
import subprocess
import sys
import time
from pathlib import Path

import load_child  # bench/ is on sys.path when a script here runs

PAGE = 8192
OUT = Path(__file__).with_name("out")


def make_vpd(path: Path, size: int) -> dict:
    """20 blocks: 4 name blocks (a marker head, then names mixed with binary
    noise, names repeating across blocks as scopes and ports do) and 16 value
    blocks of random bytes, which the reader passes over after their head."""
    rng = random.Random(7)
    block = size // 20
    out = bytearray(struct.pack("<I", 0x12345678)) + bytes(252)  # blocks from 256
    names: list[str] = []
    seen: set[str] = set()
    noise = bytes(rng.randrange(0x80, 0x100) for _ in range(4102))
    k = 0
    for b in range(20):
        out[48 + 4 * b : 52 + 4 * b] = struct.pack("<I", len(out))
        if b % 5:
            out += rng.randbytes(block)
            continue
        body = bytearray(b"FoldedTop\0".ljust(128, b"\0"))
        while len(body) < block:
            name = f"top.core{rng.randrange(16)}.u{rng.randrange(64)}.sig_{rng.randrange(200)}"
            k += 1
            # noise of non-printable bytes, which no name can absorb
            body += name.encode() + b"\0" + noise[k % 4096 : k % 4096 + 6]
            if name not in seen:
                seen.add(name)
                names.append(name)
        out += body
    path.write_bytes(out)
    return {"signals": len(names) + 1, "first": "FoldedTop", "last": names[-1]}


def make_wlf(path: Path, size: int) -> dict:
    """A header page with 250 names and value pages of signal/value pairs
    with a time-step marker after every 20 pairs."""
    rng = random.Random(11)
    names = [f"top.blk{i // 16}.s{i}" for i in range(1, 251)]
    header = bytearray(PAGE)
    header[2:4] = struct.pack(">H", PAGE)
    header[24:26] = struct.pack(">H", 250)
    area = b"".join(n.encode() + b"\0" for n in ["top.blk0.s0"] + names[:-1])
    header[43 : 43 + len(area)] = area
    pages = [bytes(header)]
    last = {}
    index = 0
    for _ in range(size // PAGE - 1):
        records = bytearray()
        while len(records) < PAGE - 16 - 64:
            for _ in range(20):
                sig, val = rng.randrange(1, 250), rng.randrange(256)
                records += bytes([sig, val])
                last[sig] = val
            records.append(0xFF)
            index += 1
        records.append(0)  # the last byte of an area is never read
        page = bytearray(PAGE)
        page[0:4] = b"\xff\xff" + struct.pack(">H", len(records))
        page[16 : 16 + len(records)] = records
        pages.append(bytes(page))
    path.write_bytes(b"".join(pages))
    return {"signals": 250, "max_index": index, "last_values": {str(k): v for k, v in sorted(last.items())[:5]}}


def child(kind: str, path: str) -> None:
    import quarn

    c0 = time.process_time()
    t0 = time.perf_counter()
    t = getattr(quarn.PyTrace, "from_" + kind)(path)
    seconds = time.perf_counter() - t0
    cpu = time.process_time() - c0
    answer = {"signals": len(t.signal_names()), "first": t.signal_names()[0], "last": t.signal_names()[-1]}
    if kind == "wlf":
        names = t.signal_names()
        answer = {
            "signals": len(names),
            "max_index": t.max_index(),
            "last_values": {str(k): t.signal_value(names[k], t.max_index()) for k in sorted(range(1, 250))[:5]},
        }
    rss = load_child.peak_rss_bytes()
    print(json.dumps({"seconds": seconds, "cpu": cpu, "rss": rss, "answer": answer}))


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--mb", type=int, default=64)
    ap.add_argument("--child", nargs=2)
    args = ap.parse_args()
    if args.child:
        child(*args.child)
        return 0
    OUT.mkdir(exist_ok=True)
    size = args.mb << 20
    status = 0
    for kind, make in (("vpd", make_vpd), ("wlf", make_wlf)):
        path = OUT / f"bench_{args.mb}mb.{kind}"
        expect = make(path, size)
        runs = []
        for _ in range(args.repeat):
            r = subprocess.run([sys.executable, __file__, "--child", kind, str(path)], capture_output=True, text=True)
            if r.returncode:
                print(r.stderr)
                return 1
            runs.append(json.loads(r.stdout))
        if runs[0]["answer"] != expect:
            print(f"{kind}: WRONG ANSWER {runs[0]['answer']} != {expect}")
            status = 1
        best = min(r["seconds"] for r in runs)
        cpu = min(r["cpu"] for r in runs)
        mb = path.stat().st_size / 1e6
        # CPU time beside wall clock: on a shared machine the wall clock
        # includes waiting for a core.
        print(f"{kind}: {mb:.1f} MB, {expect['signals']} signals, best of {args.repeat}: {best * 1e3:.1f} ms wall "
              f"= {mb / best:.0f} MB/s, {cpu * 1e3:.1f} ms CPU = {mb / cpu:.0f} MB/s, "
              f"peak RSS {max(r['rss'] for r in runs) / 1e6:.0f} MB (load average {os.getloadavg()[0]:.1f})")
    return status


if __name__ == "__main__":
    sys.exit(main())
