"""Realistic input: the DES design shipped with Debian's gtkwave package,
simulated by Icarus Verilog under a testbench of ours that runs several DES
instances side by side and dumps every signal.

The design is read from the installed package at run time and never copied
into the repository. The stimulus is deterministic (xorshift64 per lane), so
every run writes the same value changes; only the $date line differs.
"""

from __future__ import annotations

import gzip
import hashlib
import random
import shutil
import subprocess
import tempfile
from dataclasses import dataclass
from pathlib import Path

import vcd_reference

DES_CANDIDATES = (
    Path("/usr/share/doc/gtkwave/examples/des.v"),
    Path("/usr/share/doc/gtkwave/examples/des.v.gz"),
)

# Bump when the testbench or the checked answers change meaning.
GENERATOR_VERSION = 1

TESTBENCH = r"""
// Several DES pipelines fed with pseudo-random plaintexts and keys.
module bench_top;
  parameter LANES = 8;
  parameter CYCLES = 400;

  function [63:0] xorshift(input [63:0] x);
    reg [63:0] t;
    begin
      t = x ^ (x << 13);
      t = t ^ (t >> 7);
      xorshift = t ^ (t << 17);
    end
  endfunction

  reg clk = 1'b0;
  reg [31:0] cycle = 32'd0;
  always #5 clk = ~clk;
  always @(posedge clk) cycle <= cycle + 32'd1;

  genvar g;
  generate
    for (g = 0; g < LANES; g = g + 1) begin : lane
      reg [63:0] state = 64'h9e3779b97f4a7c15 ^ (64'hbf58476d1ce4e5b9 * (g + 1));
      reg [1:64] pt, key;
      reg load;
      wire [1:64] ct;
      des u(pt, key, ct, clk);
      always @(posedge clk) begin
        state <= xorshift(state);
        // A new plaintext on about half of the cycles; a new key every 32.
        load <= state[3] ^ state[40];
        if (state[3] ^ state[40]) pt <= state;
        if (cycle[4:0] == (g * 4) % 32) key <= {state[31:0], state[63:32]};
      end
    end
  endgenerate

  initial begin
    $dumpfile("des_bench.vcd");
    $dumpvars(0, bench_top);
    #(10 * CYCLES) $finish;
  end
endmodule
"""


@dataclass(frozen=True)
class RealisticParams:
    lanes: int
    cycles: int
    seed: int = 1  # picks the signals and indices that are checked

    @property
    def label(self) -> str:
        return f"realistic-{self.lanes}x{self.cycles}"


FULL = RealisticParams(lanes=8, cycles=725)
SMALL = RealisticParams(lanes=2, cycles=60)


def find_des() -> Path:
    for p in DES_CANDIDATES:
        if p.exists():
            return p
    raise SystemExit(
        "des.v not found under /usr/share/doc/gtkwave/examples/: "
        "install Debian's gtkwave package (apt-get install gtkwave)"
    )


def read_des(path: Path) -> bytes:
    if path.suffix == ".gz":
        return gzip.decompress(path.read_bytes())
    return path.read_bytes()


def tool_version(tool: str) -> str:
    exe = shutil.which(tool)
    if exe is None:
        raise SystemExit(f"{tool} not found: install Debian's iverilog package (apt-get install iverilog)")
    out = subprocess.run([exe, "-V"], capture_output=True, text=True, check=False)
    lines = (out.stdout or out.stderr).splitlines()
    return lines[0] if lines else ""


def cache_key(params: RealisticParams, des_text: bytes) -> str:
    h = hashlib.sha256()
    for part in (str(GENERATOR_VERSION), repr(params), TESTBENCH, tool_version("iverilog")):
        h.update(part.encode())
        h.update(b"\0")
    h.update(des_text)
    return h.hexdigest()[:12]


def simulate(params: RealisticParams, des_text: bytes, work: Path) -> Path:
    """Compiles and runs the testbench in `work`; returns the VCD written there."""
    (work / "des.v").write_bytes(des_text)
    (work / "bench_top.v").write_text(TESTBENCH)
    subprocess.run(
        [
            "iverilog", "-o", "bench.vvp", "-s", "bench_top",
            f"-Pbench_top.LANES={params.lanes}", f"-Pbench_top.CYCLES={params.cycles}",
            "bench_top.v", "des.v",
        ],
        cwd=work, check=True,
    )
    subprocess.run(["vvp", "-n", "bench.vvp"], cwd=work, check=True, stdout=subprocess.DEVNULL)
    return work / "des_bench.vcd"


def expected_answers(vcd: Path, params: RealisticParams) -> dict:
    """What quarn must answer for this VCD, from the reference reader."""
    header = vcd_reference.read_header(str(vcd))
    rng = random.Random(params.seed)
    last = params.lanes - 1
    fixed = ["bench_top.clk", "bench_top.cycle", "bench_top.lane[0].u.ct", f"bench_top.lane[{last}].u.key"]
    watched = fixed + rng.sample([n for n in header.names if n not in fixed], 24)
    changes = vcd_reference.record_changes(str(vcd), {header.var_code[n] for n in watched})
    max_index = len(changes.times) - 1
    indices = sorted({0, 1, 2, max_index // 2, max_index - 1, max_index} | {rng.randrange(max_index + 1) for _ in range(10)})

    def value(name: str, index: int) -> int | None:
        return changes.value_at(header.var_code[name], index)

    start = max_index // 3
    window = range(start, min(start + 64, max_index + 1))
    return {
        "signal_count": len(header.names),
        "first_name": header.names[0],
        "last_name": header.names[-1],
        "scope_count": len(header.scopes),
        "max_index": max_index,
        "timestamps": [[i, changes.times[i]] for i in indices],
        "widths": [[n, header.var_width[n]] for n in watched],
        "values": [[n, i, value(n, i)] for n in watched for i in indices],
        "ranges": [[n, window.start, [value(n, i) for i in window]] for n in watched[:6]],
    }


def generate(params: RealisticParams, out_dir: Path, vcd_path: Path) -> dict:
    des_text = read_des(find_des())
    with tempfile.TemporaryDirectory(dir=out_dir, prefix="sim-") as tmp:
        vcd = simulate(params, des_text, Path(tmp))
        expect = expected_answers(vcd, params)
        vcd.replace(vcd_path)
    return expect


def target(params: RealisticParams, out_dir: Path) -> tuple[Path, str]:
    """The cached VCD's path for these parameters (may not exist yet) and its key."""
    key = cache_key(params, read_des(find_des()))
    return out_dir / f"{params.label}-{key}.vcd", key
