"""Ctrl-C latency of a load: a child process starts loading a large generated
input, a timer thread sends it SIGINT after a while, and the child reports
how long after the signal KeyboardInterrupt arrived, then loads a small
trace to show the process is still usable.

Usage: python3 bench/interrupt_latency.py [--mb 675] [--dir /tmp/quarn-interrupt]
Prints one line per reader: input size, whole-load time, latency.
"""

from __future__ import annotations

import argparse
import json
import os
import signal
import struct
import subprocess
import sys
import textwrap
import time
from pathlib import Path

# The signal comes from the parent, as Ctrl-C comes from the terminal: a
# thread of the child could not send it while a load holds the lock.
CHILD = textwrap.dedent(
    """
    import json, sys, time
    from quarn import PyTrace
    reader, path = sys.argv[1], sys.argv[2]
    print("ready", flush=True)
    start = time.monotonic()
    try:
        getattr(PyTrace, reader)(path)
        outcome = "finished"
    except KeyboardInterrupt:
        outcome = "KeyboardInterrupt"
    end = time.monotonic()
    usable = PyTrace.from_vcd_string("$var wire 1 ! a $end\\n#0\\n1!\\n").signal_value("a", 0) == 1
    print(json.dumps({"outcome": outcome, "start": start, "end": end, "usable": usable}), flush=True)
    """
)


def write_vcd(path: Path, size: int) -> None:
    """Many narrow signals changing every step: the VCD reader's common case."""
    head = "$timescale 1ns $end\n$scope module top $end\n"
    head += "".join(f"$var wire 8 s{i} v{i} $end\n" for i in range(1000))
    head += "$upscope $end\n$enddefinitions $end\n"
    step = "".join(f"b{(i * 37) % 256:b} s{i}\n" for i in range(1000))
    with path.open("w") as f:
        f.write(head)
        t = 0
        while f.tell() < size:
            f.write(f"#{t}\n{step}")
            t += 1


def write_pages(path: Path, size: int, magic: bytes = b"") -> None:
    chunk = os.urandom(1 << 20)
    with path.open("wb") as f:
        f.write(magic)
        for _ in range(size >> 20):
            f.write(chunk)


def run(reader: str, path: Path, delay: float | None) -> dict:
    """Loads in a child; with a delay, sends it SIGINT that long after it starts."""
    child = subprocess.Popen([sys.executable, "-c", CHILD, reader, str(path)], stdout=subprocess.PIPE, text=True)
    assert child.stdout.readline().strip() == "ready"
    sent = None
    if delay is not None:
        time.sleep(delay)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
    got = json.loads(child.stdout.readline())
    child.wait()
    got["latency"] = None if sent is None else got["end"] - sent
    got["seconds"] = got["end"] - got["start"]
    return got


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--mb", type=int, default=675)
    ap.add_argument("--dir", default="/tmp/quarn-interrupt")
    args = ap.parse_args()
    d = Path(args.dir)
    d.mkdir(parents=True, exist_ok=True)
    size = args.mb << 20
    inputs = {
        "from_vcd": (d / "big.vcd", lambda p: write_vcd(p, size)),
        "from_wlf": (d / "big.wlf", lambda p: write_pages(p, size)),
        "from_fsdb": (d / "big.fsdb", lambda p: write_pages(p, size, b"\0" * 4 + struct.pack(">I", 0x1C3ED948))),
    }
    for reader, (path, make) in inputs.items():
        if not path.exists() or path.stat().st_size < size:
            make(path)
        whole = run(reader, path, None)["seconds"]
        got = run(reader, path, whole / 3)
        latency = f"{got['latency'] * 1000:.0f} ms"
        print(f"{reader:10} {path.stat().st_size / 2**20:6.0f} MB  load {whole:6.2f} s  Ctrl-C: {got['outcome']:17} "
              f"after {latency:>8}  usable afterwards: {got['usable']}")


if __name__ == "__main__":
    main()
