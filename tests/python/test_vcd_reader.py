"""What a VCD file means is what the reader gives back, and what it cannot read it says.

One row per case of the reader's fidelity table that the module shows apart
from tests/core/vcd_reader_test.cpp (warnings, strict loads, signal_bits): a
dump, a signal, and the (time, value) pairs at every index (values through
signal_value, or through signal_bits where the row says so); `warns` is the
number of places the load must report in its one TraceWarning.
"""

import math
import os
import re
import warnings

import pytest

from quarn import PyTrace, TraceError, TraceWarning

DEFS = "$enddefinitions $end"

CASES = [
    # values before the first timestamp belong to time 0
    ("four-state vector", f"$var wire 4 ! v $end {DEFS} #0 b10x1 ! #1 bz ! #2 b1 !", "v", "bits",
     [(0, "10x1"), (1, "zzzz"), (2, "0001")], 0),
    ("VHDL levels", f"$var wire 5 ! v $end {DEFS} #0 bUWLH- ! #1 h!", "v", "bits", [(0, "uwlh-"), (1, "0000h")], 0),
    ("NaN holds", f"$var real 64 ! r $end {DEFS} #0 rnan ! #5 rnan ! #6 r1 !", "r", float,
     [(0, "nan"), (5, "nan"), (6, 1.0)], 0),
    ("time going backwards", f"$var wire 1 ! a $end {DEFS} #10 1! #5 0! #20 0!", "a", int, [(10, 1), (20, 0)], 1),
    ("bad value, unknown code, junk", f"$var wire 4 ! v $end {DEFS} #0 b1 ! #1 b102 ! q! 1? junk", "v", int,
     [(0, 1), (1, 1)], 4),
    ("value wider than its variable", f"$var wire 2 ! v $end {DEFS} #0 b0011 ! #1 b101 ! #2 bxx0 ! #3 b1x0 !", "v",
     "bits", [(0, "11"), (1, "11"), (2, "x0"), (3, "x0")], 2),
    ("timestamp too large", f"$var wire 1 ! a $end {DEFS} #1 1! #18446744073709551616 0! #10^30 #2 0!", "a", int,
     [(1, 1), (2, 0)], 2),  # the changes of an unreadable time are skipped with it
    # A variable of no readable width is skipped, so its changes are unknown codes.
    ("bad widths", f"$var wire 0 ! a $end $var wire 2147483648 \" b $end $var wire w # c $end $var wire 1 $ d $end "
     f"{DEFS} #0 1! 1\" 1# 1$", "d", int, [(0, 1)], 6),
    ("change before $enddefinitions", f"$var wire 1 ! a $end 1! {DEFS} #4 0!", "a", int, [(0, 1), (4, 0)], 1),
    ("cut off at the end", f"$var wire 8 ! v $end {DEFS} #0 b1 ! #5 b1010", "v", int, [(0, 1), (5, 1)], 1),
    ("unterminated declaration", "$var wire 1 ! a $var wire 1 \" b $end #0 1!", "a", int, [(0, 1)], 1),
]


def read(trace, name, kind, index):
    if kind == "bits":
        return trace.signal_bits(name, index)
    value = trace.signal_value(name, index)
    return "nan" if isinstance(value, float) and math.isnan(value) else value


@pytest.mark.parametrize(("label", "text", "name", "kind", "expected", "warns"), CASES, ids=[c[0] for c in CASES])
def test_reader_table(label, text, name, kind, expected, warns):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        trace = PyTrace.from_vcd_string(text)
    got = [(trace.timestamp(i), read(trace, name, kind, i)) for i in range(trace.max_index() + 1)]
    assert got == expected
    reported = [w for w in caught if issubclass(w.category, TraceWarning)]
    assert len(reported) == (1 if warns else 0)
    if warns:
        assert f"VCD: {warns} place" in str(reported[0].message)
        with pytest.raises(TraceError, match=r"^Malformed VCD at line 1, column \d+: expected ") as err:
            PyTrace.from_vcd_string(text, strict=True)
        assert err.value.line == 1 and err.value.column > 1 and err.value.path is None


def test_every_trigger_is_a_change():
    trace = PyTrace.from_vcd_string(f"$var event 1 ! ev $end {DEFS} #0 1! #5 1! #9 1!")
    assert [t[0] for t in trace.transitions("ev")] == [1, 2]
    assert [c[0] for c in trace.changed_at(2)] == ["ev"]


def test_signal_bits_neutral_answers():
    trace = PyTrace.from_vcd_string(f"$var real 64 ! r $end $var wire 70 # w $end {DEFS} #0 r1 ! b1{'0' * 69} #")
    assert trace.signal_bits("r", 0) is None and trace.signal_bits("nope", 0) is None
    assert trace.signal_bits("w", 1) is None  # past the end: Empty
    assert trace.signal_bits("w", 0) == "1" + "0" * 69 and trace.signal_value("w", 0) == 1 << 69


@pytest.mark.parametrize(
    ("data", "found"),
    [(b"", "empty input"), (b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 300, "89 50 4e 47 0d 0a 1a 0a"),
     (os.urandom(70000).replace(b"$", b"_").replace(b"#", b"_"), "no $ keyword and no #time")],
    ids=["empty", "png", "random"],
)
def test_not_a_vcd_file(tmp_path, data, found):
    path = tmp_path / "x.vcd"
    path.write_bytes(data)
    with pytest.raises(TraceError, match="^Not a VCD file: .*" + re.escape(found)) as err:
        PyTrace.from_vcd(str(path))
    assert err.value.path == str(path) and err.value.line is None


def test_file_line_and_column_are_located(tmp_path):
    path = tmp_path / "x.vcd"
    path.write_text(f"$var wire 1 ! a $end\n{DEFS}\n#0\n1!\n  q!\n#1 0!")
    with pytest.warns(TraceWarning, match="1 place .* line 5, column 3: .* found 'q!'"):
        trace = PyTrace.from_vcd(str(path))
    assert trace.signal_value("a", 1) == 0
    with pytest.raises(TraceError) as err:
        PyTrace.from_vcd(str(path), strict=True)
    assert (err.value.path, err.value.line, err.value.column) == (str(path), 5, 3)
