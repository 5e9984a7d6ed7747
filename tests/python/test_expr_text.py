"""Expressions written as text: the same answers as the builder trees, on
every query method that takes an expression, and ValueErrors with columns."""

import pytest

from quarn import PyExpr, PyTrace
from test_queries import VCD


@pytest.fixture(scope="module")
def trace():
    return PyTrace.from_vcd_string(VCD)


def sig(t, name):
    return PyExpr.signal(t.signal_id(name))


@pytest.mark.parametrize(
    ("text", "build"),
    [
        ("top.clk == 1", lambda t: sig(t, "top.clk").eq_(PyExpr.const_int(1))),
        ("top.en && top.bus > 2", lambda t: sig(t, "top.en").and_(sig(t, "top.bus").gt_(PyExpr.const_int(2)))),
        ("prev(top.clk) && !top.clk", lambda t: sig(t, "top.clk").rel_eval(-1).and_(sig(t, "top.clk").not_())),
        ("top.bus[2:1] == 0b10", lambda t: sig(t, "top.bus").slice(2, 1).eq_(PyExpr.const_int(2))),
        ("isx(top.bus) || next(top.en)", lambda t: sig(t, "top.bus").is_x().or_(sig(t, "top.en").rel_eval(1))),
    ],
)
def test_text_matches_builder(trace, text, build):
    tree = build(trace)
    assert trace.find(text) == trace.find(tree)
    assert trace.parallel_find(text) == trace.find(tree)
    assert trace.parallel_count(text) == len(trace.find(tree))
    assert [trace.eval_expr(text, i) for i in range(5)] == [trace.eval_expr(tree, i) for i in range(5)]
    assert trace.find_with_values(text, ["top.bus"]) == trace.find_with_values(tree, ["top.bus"])


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
