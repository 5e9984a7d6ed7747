"""Python operators on PyExpr, sig(name), const_int of any int, repr."""

import operator

import pytest

from quarn import PyExpr, PyTrace

# a: 3, 5, 0; b: 5, 5, 7; w (80 bits): 2**70 + 1, then 5.
TRACE = (
    "$scope module top $end\n$var wire 8 ! a $end\n$var wire 8 \" b $end\n$var wire 80 # w $end\n$upscope $end\n"
    "#0\nb11 !\nb101 \"\nb1" + "0" * 69 + "1 #\n#1\nb101 !\nb101 #\n#2\nb0 !\nb111 \"\n"
)


@pytest.fixture(scope="module")
def trace() -> PyTrace:
    return PyTrace.from_vcd_string(TRACE)


def per_index(trace, expr):
    return [trace.eval_expr(expr, i) for i in range(len(trace))]


OPERATORS = [
    (operator.eq, "eq_"), (operator.ne, "neq"), (operator.lt, "lt_"), (operator.gt, "gt_"), (operator.le, "lte"),
    (operator.ge, "gte"), (operator.and_, "bit_and"), (operator.or_, "bit_or"), (operator.xor, "bit_xor"),
    (operator.add, "add"), (operator.sub, "sub"),
]


@pytest.mark.parametrize(("op", "method"), OPERATORS, ids=[m for _, m in OPERATORS])
def test_operator_equals_builder(trace, op, method):
    a, b = trace.sig("top.a"), trace.sig("top.b")
    assert per_index(trace, op(a, b)) == per_index(trace, getattr(a, method)(b))
    # ints on either side become constants, the receiver staying on the left
    assert per_index(trace, op(a, 5)) == per_index(trace, getattr(a, method)(PyExpr.const_int(5)))
    assert per_index(trace, op(5, a)) == per_index(trace, getattr(PyExpr.const_int(5), method)(a))


def test_invert_and_float_operands(trace):
    a = trace.sig("top.a")
    assert per_index(trace, ~a) == per_index(trace, a.not_())
    assert per_index(trace, a > 2.5) == [1, 1, 0]


def test_conditions_combine_with_and_refuse_truth(trace):
    a, b = trace.sig("top.a"), trace.sig("top.b")
    assert trace.find((a == 5) & (b == 5)) == [1]
    assert trace.find((a == 0) | (b == 3)) == [2]
    for misuse in (lambda: (a == 5) and (b == 5), lambda: bool(a), lambda: 1 if a else 0):
        with pytest.raises(TypeError, match="no truth value"):
            misuse()
    with pytest.raises(TypeError):
        hash(a)
    with pytest.raises(TypeError):
        a + "x"


@pytest.mark.parametrize(
    ("value", "reads_as"),
    [(0, 0), (2**64 - 1, 2**64 - 1), (-1, 2**64 - 1), (-(2**63), 2**63), (2**64, 2**64), (2**70 + 1, 2**70 + 1),
     (-(2**64), 2**128 - 2**64), (-(2**63) - 1, 2**128 - 2**63 - 1)],
)
def test_const_int_takes_any_int(trace, value, reads_as):
    assert trace.eval_expr(PyExpr.const_int(value), 0) == reads_as


def test_wide_constant_compares_exactly(trace):
    w = trace.sig("top.w")
    assert trace.find(w == 2**70 + 1) == [0]
    assert trace.find(w == 5) == [1, 2]


@pytest.mark.parametrize(
    ("build", "text"),
    [
        (lambda t: (t.sig("top.a") == 3) & (t.sig("top.b") > 4), "(top.a == 3) & (top.b > 4)"),
        (lambda t: ~t.sig("top.a").rel_eval(-1), "!prev(top.a)"),
        (lambda t: t.sig("top.w").slice(7, 0).is_x(), "isx(top.w[7:0])"),
        (lambda t: PyExpr.signal(9) + 1.5, "signal(9) + 1.5"),
        (lambda t: PyExpr.const_str('say "hi"').eq_(PyExpr.const_int(2**64)), '"say \\"hi\\"" == 0x10000000000000000'),
    ],
)
def test_repr_is_the_expression_text(trace, build, text):
    assert repr(build(trace)) == f"PyExpr({text})"


def test_sig_of_unknown_name(trace):
    with pytest.raises(KeyError, match=r"no signal named 'top.aa' in this trace; close matches: top.a, top.b"):
        trace.sig("top.aa")
