"""Change queries, snapshots and statistics on a small hand-written VCD."""

import math

import pytest

from quarn import PyTrace

# Index: 0    1    2    3    4
# time:  0    10   20   30   40
# clk:   0    1    0    1    1
# data:  0    5    5    x1   x1   (4-bit; x1 is Logic xxx1, None in Python)
# q:     x    1    z    z    z
# r:     nan  nan  1.5  1.5  -0.0   (a NaN that holds is no change)
# late:  -    -    -    7    7    (first value at index 3)
# a:     0    0    0    1    1
CHANGES_VCD = """\
$scope module top $end
$var wire 1 ! clk $end
$var wire 4 " data $end
$scope module u1 $end
$var wire 1 # q $end
$var real 64 $ r $end
$upscope $end
$var wire 8 & late $end
$upscope $end
$scope module topx $end
$var wire 1 % a $end
$upscope $end
$enddefinitions $end
#0
0!
b0 "
x#
rnan $
0%
#10
1!
b101 "
1#
#20
0!
z#
r1.5 $
#30
1!
bx1 "
b111 &
1%
#40
r-0.0 $
"""


@pytest.fixture(scope="module")
def trace() -> PyTrace:
    return PyTrace.from_vcd_string(CHANGES_VCD)


def normalise(value):
    """NaN never equals itself; compare it by name. Dicts compare in order."""
    if isinstance(value, dict):
        return [(k, normalise(v)) for k, v in value.items()]
    if isinstance(value, (list, tuple)):
        return type(value)(normalise(v) for v in value)
    return "nan" if isinstance(value, float) and math.isnan(value) else value


@pytest.mark.parametrize(
    ("method", "args", "expected"),
    [
        ("changed_at", (1,), [("top.clk", 0, 1), ("top.data", 0, 5), ("top.u1.q", None, 1)]),
        ("changed_at", (2,), [("top.clk", 1, 0), ("top.u1.q", 1, None), ("top.u1.r", "nan", 1.5)]),
        # Past the last index nothing changes (the rest of the index and scope edges: QueryDiff in
        # tests/core/query_diff_test.cpp, against comparing every signal).
        ("changed_at", (2**64 - 1,), []),
        ("changed_at_scope", (1, "top"), [("top.clk", 0, 1), ("top.data", 0, 5), ("top.u1.q", None, 1)]),
        ("changed_at_scope", (3, "nowhere"), []),
        ("transitions", ("top.clk",), [(1, 0, 1), (2, 1, 0), (3, 0, 1)]),
        ("transitions", ("top.u1.q",), [(1, None, 1), (2, 1, None)]),
        ("transitions", ("top.u1.r",), [(2, "nan", 1.5), (4, 1.5, -0.0)]),
        ("transitions", ("no.such.signal",), []),
        # (min, max, sum, count, transitions, num_x, num_z)
        ("signal_stats", ("top.data",), (0, 5, 10, 3, 2, 6, 0)),  # "bx1" extends to xxx1
        ("signal_stats", ("top.u1.q",), (1, 1, 1, 1, 2, 1, 3)),
        ("signal_stats", ("top.u1.r",), (0, 0, 0, 0, 2, 0, 0)),
        ("signal_stats", ("no.such.signal",), (0, 0, 0, 0, 0, 0, 0)),
        ("snapshot_scope", (1, "top"), {"clk": 1, "data": 5, "u1.q": 1, "u1.r": "nan", "late": None}),
        ("snapshot_scope", (2, "top.u1"), {"q": None, "r": 1.5}),
        ("snapshot_scope", (3, "topx"), {"a": 1}),
    ],
)
def test_answers(trace, method, args, expected):
    got = getattr(trace, method)(*args)
    assert type(got) is type(expected)
    assert normalise(got) == normalise(expected)


def test_snapshot_keeps_name_order(trace):
    snap = trace.snapshot(3)
    assert list(snap) == trace.signal_names()
    assert dict(normalise(snap)) == {
        "top.clk": 1, "top.data": None, "top.u1.q": None, "top.u1.r": 1.5, "top.late": 7, "topx.a": 1,
    }
    assert normalise(trace.snapshot(0)["top.u1.r"]) == "nan"
    assert set(trace.snapshot(99).values()) == {None}


def test_trace_without_signals():
    empty = PyTrace.from_vcd_string("$enddefinitions $end")
    assert empty.signal_names() == [] and empty.scopes() == []
    assert empty.max_index() == 0 and empty.timestamp(0) == 0
    assert empty.snapshot(0) == {}
    assert empty.snapshot_scope(0, "top") == {}
    assert empty.changed_at(1) == []


