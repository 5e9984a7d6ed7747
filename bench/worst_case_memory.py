"""Peak memory over input size for each reader's worst known input, each load
in a fresh child process under a 4 GiB address-space cap (the cases of
tests/python/test_hostile_inputs.py, plus random bytes for the vendor readers
and deep VCD scopes).

Usage: python3 bench/worst_case_memory.py [--python PYTHON] [--dir DIR]
(--python picks the interpreter whose quarn is measured, to compare builds.)
"""

from __future__ import annotations

import argparse
import json
import os
import struct
import subprocess
import sys
import textwrap
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "python"))
from test_hostile_inputs import CHILD, fst_counts_inflated, fst_wrapper_claiming, long_vcd_line, shm_toggle_flood  # noqa: E402


def random_file(d: Path, name: str, size: int, head: bytes = b"") -> Path:
    chunk = os.urandom(1 << 20)
    with (d / name).open("wb") as f:
        f.write(head)
        for _ in range(size >> 20):
            f.write(chunk)
    return d / name


def deep_vcd(d: Path, depth: int) -> str:
    text = "".join(f"$scope module m{i} $end\n" for i in range(depth)) + "$var wire 1 ! a $end\n"
    text += "$upscope $end\n" * depth + "$enddefinitions $end\n#0\n1!\n"
    (d / "deep.vcd").write_text(text)
    return f"PyTrace.from_vcd({str(d / 'deep.vcd')!r}).max_index()"


def cases(d: Path) -> dict:
    mb = 64 << 20
    return {
        "shm 16 transition files": lambda s: shm_toggle_flood(s),
        "fst header counts 2^40": lambda s: fst_counts_inflated(s),
        "fst wrapper claims 2^40 B": lambda s: fst_wrapper_claiming(s, 1 << 40),
        "fsdb 64 MB random": lambda s: f"PyTrace.from_fsdb({str(random_file(s, 'r.fsdb', mb, bytes(4) + struct.pack('>I', 0x1C3ED948)))!r})",
        "wlf 64 MB random": lambda s: f"PyTrace.from_wlf({str(random_file(s, 'r.wlf', mb))!r})",
        "vpd 64 MB random": lambda s: f"PyTrace.from_vpd({str(random_file(s, 'r.vpd', mb, struct.pack('<I', 0x12345678) + bytes(124)))!r})",
        "vcd 40,000 nested scopes": lambda s: deep_vcd(s, 40_000),
        "vcd one 1 GiB line": lambda s: long_vcd_line(s, 1 << 30),
    }


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--python", default=sys.executable)
    ap.add_argument("--dir", default="/tmp/quarn-worst")
    args = ap.parse_args()
    root = Path(args.dir)
    for label, make in cases(root).items():
        d = root / label.split()[0] / str(abs(hash(label)))
        d.mkdir(parents=True, exist_ok=True)
        for p in d.iterdir():
            p.unlink()
        call = make(d)
        size = sum(p.stat().st_size for p in d.iterdir() if p.is_file())
        code = CHILD.format(cap=4 << 30, call=call)
        try:
            out = subprocess.run([args.python, "-c", code], capture_output=True, text=True, timeout=120)
            got = json.loads(out.stdout.strip().splitlines()[-1])
            print(f"{label:28} input {size / 2**20:8.3f} MB  peak +{got['grew'] / 2**20:8.1f} MB "
                  f"({got['grew'] / size:9.1f} x input)  {got['seconds']:6.2f} s  -> {got['result'][:60]}")
        except (subprocess.TimeoutExpired, IndexError, json.JSONDecodeError) as e:
            print(f"{label:28} input {size / 2**20:8.3f} MB  failed: {type(e).__name__}")


if __name__ == "__main__":
    main()
