"""PyTrace expression queries, as trees and as text, through every search method
(the value rules themselves are compared with a model on random trees in
tests/core/find_diff_test.cpp)."""

import gc
import random

import pytest

from quarn import PyExpr, PyTrace

# clk toggles, bus counts (with an X at #20), en starts late; 5 indices.
VCD = """$scope module top $end
$var wire 1 ! clk $end
$var wire 4 # bus $end
$var wire 1 $ en $end
$upscope $end
#0
1!
b0000 #
#10
0!
b0001 #
#20
1!
b1x10 #
1$
#30
0!
b0011 #
#40
1!
b0100 #
"""


@pytest.fixture(scope="module")
def trace():
    return PyTrace.from_vcd_string(VCD)


def sig(trace, name):
    return PyExpr.signal(trace.signal_id(name))


def one():
    return PyExpr.const_int(1)


# Each tree, and its spelling in the expression language where it has one
# (a text answers exactly as its tree, on every method that takes either).
@pytest.mark.parametrize(
    ("build", "text", "expected"),
    [
        (lambda t: PyExpr.always_true(), None, [0, 1, 2, 3, 4]),
        (lambda t: sig(t, "top.clk").eq_(one()), "top.clk == 1", [0, 2, 4]),
        (lambda t: sig(t, "top.en"), "top.en", [2, 3, 4]),
        (lambda t: sig(t, "top.bus").is_x(), "isx(top.bus)", [2]),
        (lambda t: sig(t, "top.en").and_(sig(t, "top.bus").gt_(PyExpr.const_int(2))), "top.en && top.bus > 2", [3, 4]),
        (lambda t: sig(t, "top.bus").eq_(PyExpr.const_int(4)), "top.bus == 4", [4]),  # the upper end is inclusive
        (lambda t: sig(t, "top.clk").rel_eval(-1).and_(sig(t, "top.clk").not_()), "prev(top.clk) && !top.clk", [1, 3]),
        (lambda t: sig(t, "top.bus").slice(2, 1).eq_(PyExpr.const_int(2)), "top.bus[2:1] == 0b10", [4]),
        (lambda t: sig(t, "top.bus").is_x().or_(sig(t, "top.en").rel_eval(1)), "isx(top.bus) || next(top.en)",
         [1, 2, 3]),
        (lambda t: sig(t, "top.clk").and_(sig(t, "top.clk").not_()), "top.clk && !top.clk", []),
    ],
)
def test_searches_agree(trace, build, text, expected):
    tree = build(trace)
    for e in [tree] + ([text] if text else []):
        assert trace.find(e) == expected
        assert trace.parallel_find(e) == expected
        assert trace.find_array(e).tolist() == expected
        assert trace.parallel_count(e) == len(expected)
        assert trace.find_with_values(e, ["top.bus"]) == [(i, [trace.signal_value("top.bus", i)]) for i in expected]
        assert [trace.eval_expr(e, i) for i in range(5)] == [trace.eval_expr(tree, i) for i in range(5)]


@pytest.mark.parametrize(
    ("text", "message"),
    [
        ("top.clk && top.nope", "unknown signal 'top.nope' at column 12"),
        ("top.bus[3:", "bad bit index '' at column 11"),
        ("(top.clk", "expected ')' at the end at column 9"),
    ],
)
def test_parse_errors(trace, text, message):
    for method in (trace.find, trace.parallel_find, trace.parallel_count):
        with pytest.raises(ValueError) as e:
            method(text)
        assert str(e.value) == message


@pytest.mark.parametrize(
    ("build", "index", "value", "truth"),
    [
        (lambda t: sig(t, "top.bus"), 2, None, True),  # Logic '1x10': no number, but a 1 bit
        (lambda t: sig(t, "top.bus"), 3, 3, True),
        (lambda t: sig(t, "top.bus").eq_(PyExpr.const_int(3)), 3, 1, True),
        (lambda t: sig(t, "top.bus").eq_(PyExpr.const_int(3)), 1, 0, False),
        (lambda t: sig(t, "top.bus").add(one()), 2, None, False),
        (lambda t: sig(t, "top.bus"), 2**64 - 1, None, False),
        (lambda t: PyExpr.const_float(0.5), 0, 0.5, True),
        (lambda t: PyExpr.const_str(""), 0, "", False),
    ],
)
def test_eval_expr(trace, build, index, value, truth):
    e = build(trace)
    got = trace.eval_expr(e, index)
    assert got == value and type(got) is type(value)
    assert trace.eval_expr_bool(e, index) is truth


def test_find_with_values(trace):
    e = sig(trace, "top.clk")
    names = ["top.bus", "no.such", "top.en"]
    expected = [(0, [0, None, None]), (2, [None, None, 1]), (4, [4, None, 1])]
    assert trace.find_with_values(e, names) == expected
    assert trace.find_with_values(e, tuple(names)) == expected
    assert trace.find_with_values(e, []) == [(0, []), (2, []), (4, [])]


@pytest.mark.parametrize("enabled", [True, False])
@pytest.mark.parametrize("call", [lambda t: t.find_with_values(sig(t, "top.clk"), ["top.bus"]),
                                  lambda t: t.transitions("top.bus"), lambda t: t.changed_at(1)])
def test_collector_left_as_found(trace, call, enabled):
    # The collector is held off while a long answer is built; the caller's
    # setting must come back either way.
    was = gc.isenabled()
    (gc.enable if enabled else gc.disable)()
    try:
        assert call(trace)
        assert gc.isenabled() is enabled
    finally:
        (gc.enable if was else gc.disable)()


LONG_STEPS = 150_000  # past one search piece and many handed-over parts


@pytest.fixture(scope="module")
def long_trace():
    """clk toggles at every index, cnt steps on each rising edge, en holds
    long stretches; returns the trace and each signal's value per index."""
    rng = random.Random(7)
    lines = ["$var wire 1 ! clk $end", "$var wire 8 # cnt $end", "$var wire 1 $ en $end", "$enddefinitions $end"]
    values = {"clk": [], "cnt": [], "en": []}
    en = 0
    for i in range(LONG_STEPS):
        lines.append(f"#{i}")
        clk, cnt = (i + 1) % 2, ((i + 1) // 2) % 256
        if i % 20_000 == 0 and i:
            en = rng.randrange(2)
        lines += [f"{clk}!", f"b{cnt:b} #", f"{en}$"]
        for name, v in (("clk", clk), ("cnt", cnt), ("en", en)):
            values[name].append(v)
    return PyTrace.from_vcd_string("\n".join(lines) + "\n"), values


@pytest.mark.parametrize(
    ("build", "want"),
    [
        (lambda s: PyExpr.always_true(), lambda v, i: True),
        (lambda s: s("clk").and_(s("cnt").bit_and(PyExpr.const_int(7)).gt_(PyExpr.const_int(4))).and_(s("en")),
         lambda v, i: v["clk"][i] and (v["cnt"][i] & 7) > 4 and v["en"][i]),
    ],
    ids=["everything", "dense"],
)
def test_long_searches_agree(long_trace, build, want):
    t, values = long_trace
    e = build(lambda name: PyExpr.signal(t.signal_id(name)))
    expected = [i for i in range(LONG_STEPS) if want(values, i)]
    found = t.find(e)
    assert found == expected
    assert t.parallel_find(e) == found
    assert t.parallel_count(e) == len(expected)
    array = t.find_array(e)
    assert array.dtype == "uint64" and array.tolist() == expected
