"""Hostile inputs, each loaded in a child process under an address-space cap:
the outcome, and that time and peak memory stay within their bounds."""

import gzip
import json
import os
import shutil
import struct
import subprocess
import sys
import textwrap

import pytest

from test_shm import dsn, trn

VCD2FST = shutil.which("vcd2fst")
ADDRESS_CAP = 4 << 30
MB = 1 << 20

# The child reports how the call ended, its peak RSS growth over the load
# and the load's time.
CHILD = textwrap.dedent(
    """
    import json, resource, sys, time
    resource.setrlimit(resource.RLIMIT_AS, ({cap}, {cap}))
    from quarn import PyTrace
    def peak():
        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    before, start = peak(), time.monotonic()
    try:
        result = repr(({call}))[:300]
    except Exception as e:
        result = type(e).__name__ + ": " + str(e)
    print(json.dumps({{"result": result, "seconds": time.monotonic() - start, "grew": peak() - before}}))
    """
)


def run_capped(call, timeout=60):
    code = CHILD.format(cap=ADDRESS_CAP, call=call)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=timeout, check=True)
    return json.loads(out.stdout.strip().splitlines()[-1])


def shm_toggle_flood(d):
    """One small design and 16 copies of a transition file whose one block
    claims millions of steps for its three signals."""
    (d / "run.dsn").write_bytes(dsn(["a", "b", "c"], scopes=["top"]))
    for k in range(16):
        (d / f"run{k:02}.trn").write_bytes(trn([(0xFFFFFFF0, 3_000_000, b"\x10\x08\x10")]))
    return f"PyTrace.from_shm({str(d)!r}).max_index()"


def fifo(d, name, reader):
    if reader == "from_shm":  # a design, so that its transition file is read
        (d / "run.dsn").write_bytes(dsn(["a"]))
    os.mkfifo(d / name)
    target = d if reader == "from_shm" else d / name
    return f"PyTrace.{reader}({str(target)!r})"


def small_fst(d):
    if not VCD2FST:
        pytest.skip("vcd2fst not installed")
    (d / "s.vcd").write_text("$scope module top $end\n$var wire 1 ! clk $end\n$upscope $end\n$enddefinitions $end\n"
                             "#0\n0!\n#5\n1!\n")
    subprocess.run([VCD2FST, str(d / "s.vcd"), str(d / "s.fst")], check=True, capture_output=True)
    (d / "s.vcd").unlink()
    return d / "s.fst"


def fst_wrapper_claiming(d, size):
    """A small FST gzipped into a wrapper block that declares `size` bytes."""
    packed = gzip.compress(small_fst(d).read_bytes())
    (d / "w.fst").write_bytes(bytes([254]) + struct.pack(">QQ", 8 + 8 + len(packed), size) + packed)
    return f"PyTrace.from_fst({str(d / 'w.fst')!r}).signal_names()"


def fst_counts_inflated(d):
    """A small FST with every count of its header set to 2^40."""
    original = small_fst(d)
    data = bytearray(original.read_bytes())
    for field in range(4):  # scopes, variables, handles, value blocks
        struct.pack_into(">Q", data, 9 + 32 + 8 * field, 1 << 40)
    (d / "c.fst").write_bytes(bytes(data))
    return f"PyTrace.from_fst({str(d / 'c.fst')!r}).signal_names() == PyTrace.from_fst({str(original)!r}).signal_names()"


def deep_vcd(d, depth=40_000):
    """One variable inside `depth` nested scopes: names must not grow with
    the square of the depth."""
    text = "".join(f"$scope module m{i} $end\n" for i in range(depth)) + "$var wire 1 ! a $end\n"
    (d / "deep.vcd").write_text(text + "$upscope $end\n" * depth + "$enddefinitions $end\n#0\n1!\n")
    return f"PyTrace.from_vcd({str(d / 'deep.vcd')!r}).max_index()"


def long_vcd_line(d, size=64 * MB):
    """One value change `size` bytes long (leading zeros) on an 8-bit vector:
    the buffer grows to hold the one token, within the bound."""
    with (d / "line.vcd").open("wb") as f:
        f.write(b"$var wire 8 ! v $end $enddefinitions $end\n#0\nb")
        for _ in range(size // MB):
            f.write(b"0" * MB)
        f.write(b"11111111 !\n#1\nb0 !\n")
    return f"PyTrace.from_vcd({str(d / 'line.vcd')!r}).signal_values_range('v', 0, 2)"


def clk(call):
    return lambda d: f'PyTrace.from_vcd_string("$var wire 1 ! clk $end\\n#0\\n1!\\n#5\\n0!\\n").{call}'


NOT_REGULAR = "TraceError: Failed to open {{dir}}/{}: not a regular file"

CASES = {
    "shm_16_transition_files": (shm_toggle_flood, "1", 10),
    **{
        f"fifo_{reader}": (lambda d, n=name, r=reader: fifo(d, n, r), NOT_REGULAR.format(name), 5)
        for reader, name in [("from_vcd", "f.vcd"), ("from_fst", "f.fst"), ("from_fsdb", "f.fsdb"),
                             ("from_vpd", "f.vpd"), ("from_wlf", "f.wlf"), ("from_shm", "run.trn")]
    },
    # A device that never ends: refused before a byte is read.
    "dev_zero_from_vcd": (lambda d: "PyTrace.from_vcd('/dev/zero')",
                          "TraceError: Failed to open /dev/zero: not a regular file", 5),
    "fst_wrapper_length_inflated": (lambda d: fst_wrapper_claiming(d, 1 << 40),
                                    "TraceError: FST open: gzip wrapper declares more than it can hold", 10),
    "fst_header_counts_inflated": (fst_counts_inflated, "True", 10),
    "vcd_40000_nested_scopes": (deep_vcd, "0", 10),
    "vcd_64_mib_line": (long_vcd_line, "[255, 0]", 20),
    "changed_at_past_max_index": (clk("changed_at(2)"), "[]", 5),
    "range_to_2_pow_32": (clk("signal_values_range('clk', 0, 2**32)"), "[1, 0]", 5),
}


@pytest.mark.parametrize("case", CASES, ids=list(CASES))
def test_hostile_input_is_bounded(tmp_path, case):
    make, expected, seconds = CASES[case]
    call = make(tmp_path)
    input_bytes = sum(p.stat().st_size for p in tmp_path.iterdir() if p.is_file())
    got = run_capped(call, timeout=seconds + 30)
    assert got["result"] == expected.replace("{dir}", str(tmp_path))
    assert got["seconds"] < seconds
    assert got["grew"] <= 16 * input_bytes + 64 * MB
