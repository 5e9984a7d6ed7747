"""PyExpr builders: the nodes they build, ownership, deep trees (argument
errors: test_args; signatures: test_module)."""

import pytest

from quarn import PyExpr, PyTrace

# One 8-bit signal: 0x10 at #0, 0x20 at #1, 0x30 at #2 (id 0).
TRACE = PyTrace.from_vcd_string("$var wire 8 ! v $end\n#0\nb10000 !\n#1\nb100000 !\n#2\nb110000 !\n")
V = PyExpr.signal(0)


def values(expr):
    return [TRACE.eval_expr(expr, i) for i in range(3)]


@pytest.mark.parametrize(
    ("build", "expected"),
    [
        (lambda: PyExpr.const_int(2**64 - 1), [2**64 - 1] * 3),
        (lambda: PyExpr.const_float(3), [3.0] * 3),
        (lambda: PyExpr.const_str("abc"), ["abc"] * 3),
        (lambda: PyExpr.signal(id=0), [0x10, 0x20, 0x30]),
        (lambda: PyExpr.signal(2**64 - 1), [None] * 3),
        (lambda: V.slice(high=5, low=4), [1, 2, 3]),
        (lambda: V.slice(3, 7), [0, 0, 0]),
        (lambda: V.rel_eval(offset=-1), [None, 0x10, 0x20]),
        (lambda: V.rel_eval(-(2**63)), [None] * 3),
        (lambda: PyExpr.always_true(), [1] * 3),
        (lambda: V.sub(PyExpr.const_int(0x10)), [0, 0x10, 0x20]),
        (lambda: PyExpr.const_int(0x10).sub(V), [0, 2**64 - 0x10, 2**64 - 0x20]),
        (lambda: V.gt_(other=PyExpr.const_int(0x10)), [0, 1, 1]),
    ],
)
def test_builders_build_the_right_node(build, expected):
    got = values(build())
    assert got == expected
    assert [type(x) for x in got] == [type(x) for x in expected]


def test_operands_are_left_unchanged():
    a = V
    b = PyExpr.const_int(0x20)
    c = a.and_(b)
    before = [values(x) for x in (a, b, c)]
    # Build more from each, and from c with itself, several levels up.
    d = c.and_(c).or_(a.not_()).eq_(b.sub(a))
    for _ in range(3):
        c.add(c)
        a.sub(b)
        d = d.and_(d)
    assert [values(x) for x in (a, b, c)] == before
    assert values(d) == values(d)


def test_self_doubling_tree_stays_small():
    # 2**60 leaves if each level copied its operands.
    e = V.eq_(PyExpr.const_int(0x20))
    for _ in range(60):
        e = e.and_(e)
    assert TRACE.find(e) == [1]
    assert TRACE.parallel_count(e) == 1


DEPTH = 100_000


def test_hundred_thousand_levels():
    e = V
    for _ in range(DEPTH):
        e = e.not_()
    # An even number of negations is the signal's truth.
    assert TRACE.find(e) == [0, 1, 2]
    assert TRACE.parallel_find(e) == [0, 1, 2]
    assert TRACE.eval_expr(e, 0) == 1
    assert TRACE.eval_expr_bool(e.not_(), 0) is False
    del e  # freeing the chain must not overflow the stack either
    # Right-nested and RelEval chains: DeepTrees in tests/core/find_diff_test.cpp.
