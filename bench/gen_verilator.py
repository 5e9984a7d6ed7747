"""Large Verilator input: the realistic input's DES testbench (gen_realistic.py)
built by Verilator with FST tracing, run for many more cycles. Verilator
writes the FST itself (its own writer, many blocks), and traces its
internal signals too, so the file has more signals than the Icarus dump.

The design is read from Debian's gtkwave package at run time, never copied.
"""

from __future__ import annotations

import hashlib
import shutil
import subprocess
import tempfile
from pathlib import Path

import gen_realistic

GENERATOR_VERSION = 1
LANES = 8
CYCLES = 3600


def verilator_version() -> str:
    exe = shutil.which("verilator")
    if exe is None:
        raise SystemExit("verilator not found: apt-get install verilator")
    return subprocess.run([exe, "--version"], capture_output=True, text=True, check=True).stdout.strip()


def testbench(fmt: str = "fst") -> str:
    return gen_realistic.TESTBENCH.replace('"des_bench.vcd"', f'"des_large.{fmt}"')


def prepare(out_dir: Path, lanes: int = LANES, cycles: int = CYCLES, fmt: str = "fst") -> Path:
    """The cached trace in `fmt` ("fst" or "vcd", both written by Verilator),
    made here when missing or stale."""
    des_text = gen_realistic.read_des(gen_realistic.find_des())
    h = hashlib.sha256()
    for part in (str(GENERATOR_VERSION), str(lanes), str(cycles), testbench(fmt), verilator_version()):
        h.update(part.encode() + b"\0")
    h.update(des_text)
    path = out_dir / f"des_large-{h.hexdigest()[:12]}.verilator.{fmt}"
    if path.exists():
        return path
    for old in out_dir.glob(f"des_large-*.verilator.{fmt}"):
        old.unlink()
    out_dir.mkdir(parents=True, exist_ok=True)
    print(f"building and running the Verilator model for {path.name} ...", flush=True)
    with tempfile.TemporaryDirectory(dir=out_dir, prefix="verilator-") as tmp:
        work = Path(tmp)
        (work / "des.v").write_bytes(des_text)
        (work / "bench_top.v").write_text(testbench(fmt))
        subprocess.run(
            ["verilator", "--binary", "--timing", "--trace-fst" if fmt == "fst" else "--trace",
             "-Wno-fatal", "-Wno-lint", "-Wno-style", "--top-module", "bench_top",
             f"-GLANES={lanes}", f"-GCYCLES={cycles}", "-j", "2", "bench_top.v", "des.v"],
            cwd=work, check=True, capture_output=True,
        )
        subprocess.run([str(work / "obj_dir" / "Vbench_top")], cwd=work, check=True, capture_output=True)
        (work / f"des_large.{fmt}").replace(path)
    return path


if __name__ == "__main__":
    import sys

    print(prepare(Path(__file__).resolve().parent / "out", fmt=sys.argv[1] if len(sys.argv) > 1 else "fst"))
