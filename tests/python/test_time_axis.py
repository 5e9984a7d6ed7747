"""Time axis: timescale, times, index_at/value_at/window on the edges, time strings."""

import numpy as np
import pytest

import quarn
from quarn import PyTrace

from conftest import corpus_file
# Times 10, 20, 20 (a repeated step), 35; clk 0,1,0,x; bus from index 1.
TRACE = (
    "$timescale\n  100 ps\n$end\n$scope module top $end\n$var wire 1 ! clk $end\n$var wire 8 # bus $end\n"
    "$upscope $end\n$enddefinitions $end\n#10\n0!\n#20\n1!\nb101 #\n#20\n0!\n#35\nx!\n"
)


@pytest.fixture(scope="module")
def trace() -> PyTrace:
    return PyTrace.from_vcd_string(TRACE)


@pytest.mark.parametrize(
    ("text", "scale"),
    [
        ("$timescale 1ns $end", (1, "ns")),
        ("$timescale 10 us $end", (10, "us")),
        ("$timescale\n\t1s\n$end", (1, "s")),
        ("$timescale 244 ns $end", (244, "ns")),
        ("$timescale 1 furlong $end", None),
        ("$var wire 1 ! a $end", None),
    ],
)
def test_vcd_timescale_as_declared(text, scale):
    assert PyTrace.from_vcd_string(text + "\n#0\n").timescale() == scale


@pytest.mark.parametrize(
    ("path", "scale"),
    [("ghdl/alu.vcd.fst", (1, "fs")), ("icarus/rv32_soc_TB.vcd.fst", (1, "ps")), ("gameroy/trace_prefix.vcd", (244, "ns"))],
)
def test_file_timescale(path, scale):
    assert quarn.open(corpus_file(path)).timescale() == scale


def test_times_is_a_zero_copy_view_that_keeps_the_trace(trace):
    times = PyTrace.from_vcd_string(TRACE).times()  # the trace object is gone at once
    assert times.dtype == np.uint64 and times.tolist() == [10, 20, 20, 35]
    assert not times.flags.writeable
    assert len(trace) == 4 and "top.clk" in trace and "top.nope" not in trace and 3 not in trace


# The last of equal timestamps is the one in force.
@pytest.mark.parametrize(
    ("method", "args", "expected"),
    [("index_at", (t,), i) for t, i in [(0, None), (9, None), (10, 0), (15, 0), (20, 2), (34, 2), (35, 3),
                                        (2**64 - 1, 3), ("1ns", 0), ("2ns", 2), ("3.5 ns", 3), ("999ps", None),
                                        ("0.0035us", 3)]]
    + [("window", (t0, t1), w) for t0, t1, w in [(0, 100, (0, 4)), (15, 20, (0, 3)), (20, 20, (2, 3)),
                                                 (21, 34, (2, 3)), (0, 5, (0, 0)), (30, 10, (0, 0)),
                                                 ("2ns", "3ns", (2, 3))]]
    + [("value_at", (n, t), v) for n, t, v in [("top.clk", 5, None), ("top.clk", 12, 0), ("top.clk", 20, 0),
                                               ("top.clk", 40, None), ("top.bus", 25, 5)]],
)
def test_lookups_by_time(trace, method, args, expected):
    assert getattr(trace, method)(*args) == expected


@pytest.mark.parametrize(
    ("text", "message"),
    [("1.5", "must be whole"), ("12 parsecs", "unknown time unit"), ("soon", "not a time"),
     ("99999999999999999999999 s", "out of range")],
)
def test_bad_time_strings(trace, text, message):
    with pytest.raises(ValueError, match=message):
        trace.index_at(text)


def test_time_unit_needs_a_timescale():
    with pytest.raises(ValueError, match="declares no timescale"):
        PyTrace.from_vcd_string("#0\n").index_at("1ns")


def test_unknown_name_suggests_close_ones(trace):
    with pytest.raises(KeyError, match="close matches: top.clk"):
        trace.value_at("top.clck", 10)


def test_repr_names_format_source_and_counts(trace):
    assert repr(trace) == "<PyTrace vcd '<string>': 2 signals, 4 indices, times 10..35 x 100ps>"
