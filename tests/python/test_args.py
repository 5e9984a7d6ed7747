"""Argument binding and conversion of every method, in the interpreter's
wording: keywords, arity, types, integer ranges, receivers."""

import re

import pytest

import quarn
from quarn import PyExpr, PyTrace

from test_module import SIGNATURES

# top.clk is 1 at index 0 (#0) and X at index 1 (#5).
VCD = "$scope module top $end\n$var wire 1 ! clk $end\n$upscope $end\n#0\n1!\n#5\nx!\n"
E = PyExpr.always_true()


@pytest.fixture(scope="module")
def trace() -> PyTrace:
    return PyTrace.from_vcd_string(VCD)


class Index:
    """Not an int, but usable as one through __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def parameters(qualified: str) -> list[str]:
    """The parameter names of a method taking only required ones, from its text signature."""
    return [p for p in SIGNATURES[qualified][0].strip("()").split(", ") if p and p != "$self"]


KEYWORD_CALLS = {
    "timestamp": (1,), "signal_value": ("top.clk", 0), "signal_value_raw": ("top.clk", 0),
    "signal_width": ("top.clk",), "signal_id": ("top.clk",), "signal_values_range": ("top.clk", 0, 3),
    "bit_slice_val": (0xAB, 7, 4), "sign_extend_val": (0xFF, 8), "changed_at": (1,), "changed_at_scope": (1, "top"),
    "transitions": ("top.clk",), "snapshot": (1,), "snapshot_scope": (1, "top"), "signal_stats": ("top.clk",),
    "local_scopes": ("",), "local_signals": ("top",), "resolve": ("top", "clk"), "find_signals_glob": ("*",),
    "find_signals_containing": ("C",), "find": (E,), "parallel_count": (E,), "eval_expr": (E, 0),
    "find_with_values": (E, ["top.clk"]),
}


@pytest.mark.parametrize("method", KEYWORD_CALLS)
def test_keywords_bind_like_positions(trace, method):
    call, args = getattr(trace, method), KEYWORD_CALLS[method]
    names = parameters(f"PyTrace.{method}")
    expected = call(*args)
    assert expected not in (None, [], {})  # a non-empty answer, so a mix-up shows
    assert call(**dict(reversed(list(zip(names, args))))) == expected
    assert call(*args[:1], **dict(zip(names[1:], args[1:]))) == expected


def plural(count: int, word: str) -> str:
    return f"{count} {word}" + ("" if count == 1 else "s")


def quoted(names: list[str]) -> str:
    q = [f"'{n}'" for n in names]
    return q[0] if len(q) == 1 else " and ".join(q) if len(q) == 2 else ", ".join(q[:-1]) + ", and " + q[-1]


ARITY = [q for q, (signature, _) in SIGNATURES.items() if "=" not in signature and "*" not in signature]


@pytest.mark.parametrize("qualified", ARITY)
def test_missing_and_surplus_arguments(trace, qualified):
    cls, method = qualified.split(".")
    names = parameters(qualified)
    owner = {"PyTrace": trace, "PyExpr": E}[cls] if "$self" in SIGNATURES[qualified][0] else getattr(quarn, cls)
    call = getattr(owner, method)
    for given in range(len(names)):  # binding comes before any conversion
        left = names[given:]
        missing = f"{method}() missing {plural(len(left), 'required positional argument')}: {quoted(left)}"
        with pytest.raises(TypeError, match=f"^{re.escape(missing)}$"):
            call(*range(given))
    given = "1 was" if not names else f"{len(names) + 1} were"
    surplus = f"{method}() takes {plural(len(names), 'positional argument')} but {given} given"
    with pytest.raises(TypeError, match=f"^{re.escape(surplus)}$"):
        call(*range(len(names) + 1))


U32_RANGE = "out of range integral type conversion attempted"
NOT_STR = "object is not an instance of 'str'"
NOT_INT = "object cannot be interpreted as an integer"


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (lambda t: t.signal_value("top.clk", 0, x=1), TypeError,
         "signal_value() got an unexpected keyword argument 'x'"),
        (lambda t: t.scopes(name="a"), TypeError, "scopes() got an unexpected keyword argument 'name'"),
        (lambda t: t.signal_stats(name="a", other=1), TypeError,
         "signal_stats() got an unexpected keyword argument 'other'"),
        (lambda t: t.parallel_count(exp=E), TypeError, "parallel_count() got an unexpected keyword argument 'exp'"),
        (lambda t: PyExpr.signal(ident=1), TypeError, "signal() got an unexpected keyword argument 'ident'"),
        (lambda t: t.signal_value("top.clk", name="top.clk"), TypeError,
         "signal_value() got multiple values for argument 'name'"),
        (lambda t: E.slice(3, high=4), TypeError, "slice() got multiple values for argument 'high'"),
        (lambda t: PyTrace.from_vcd_string("", data=""), TypeError,
         "from_vcd_string() got multiple values for argument 'data'"),
        # Types: str parameters. The one-str and index(+scope) query methods share a binder that names the
        # argument as the keyword table binds it, so one of each stands for them all; likewise one row
        # per integer converter and range.
        (lambda t: t.signal_value(1, 0), TypeError, f"argument 'name': 'int' {NOT_STR}"),
        (lambda t: PyTrace.from_vcd_string(t), TypeError, f"argument 'data': 'PyTrace' {NOT_STR}"),
        (lambda t: t.changed_at_scope(0, b"top"), TypeError, f"argument 'scope': 'bytes' {NOT_STR}"),
        (lambda t: t.local_scopes(1.0), TypeError, f"argument 'scope_name': 'float' {NOT_STR}"),
        (lambda t: t.resolve("top", 3), TypeError, f"argument 'short_name': 'int' {NOT_STR}"),
        (lambda t: t.resolve(3, 3), TypeError, f"argument 'scope_name': 'int' {NOT_STR}"),
        (lambda t: PyExpr.const_str(5), TypeError, f"argument 'val': 'int' {NOT_STR}"),
        # Types: integer parameters.
        (lambda t: t.timestamp(1.0), TypeError, f"argument 'index': 'float' {NOT_INT}"),
        (lambda t: t.signal_value("top.clk", "0"), TypeError, f"argument 'index': 'str' {NOT_INT}"),
        (lambda t: t.signal_values_range("top.clk", 0, None), TypeError, f"argument 'end': 'NoneType' {NOT_INT}"),
        (lambda t: t.bit_slice_val(1, 2.0, 0), TypeError, f"argument 'high': 'float' {NOT_INT}"),
        (lambda t: t.eval_expr_bool(E, 1.0), TypeError, f"argument 'index': 'float' {NOT_INT}"),
        (lambda t: PyExpr.const_int(1.5), TypeError, f"argument 'val': 'float' {NOT_INT}"),
        (lambda t: PyExpr.signal("3"), TypeError, f"argument 'id': 'str' {NOT_INT}"),
        (lambda t: E.slice(1.0, 0), TypeError, f"argument 'high': 'float' {NOT_INT}"),
        (lambda t: E.slice(1, "0"), TypeError, f"argument 'low': 'str' {NOT_INT}"),
        (lambda t: E.rel_eval(1.0), TypeError, f"argument 'offset': 'float' {NOT_INT}"),
        (lambda t: PyExpr.const_float("x"), TypeError, "argument 'val': must be real number, not str"),
        # Types: expressions and name lists.
        (lambda t: t.find(5), TypeError, "argument 'expr': 'int' object is not an instance of 'PyExpr'"),
        (lambda t: t.parallel_find(None), TypeError, "argument 'expr': 'None' is not an instance of 'PyExpr'"),
        (lambda t: E.add(5), TypeError, "argument 'other': 'int' object is not an instance of 'PyExpr'"),
        # A str is an expression in the text language.
        (lambda t: t.eval_expr("e", 0), ValueError, "unknown signal 'e' at column 1"),
        (lambda t: t.find_with_values(E, "top.clk"), TypeError,
         "argument 'signal_names': Can't extract `str` to `Vec`"),
        (lambda t: t.find_with_values(E, 5), TypeError,
         "argument 'signal_names': 'int' object is not an instance of 'Sequence'"),
        (lambda t: t.find_with_values(E, ["top.clk", 5]), TypeError, f"argument 'signal_names': 'int' {NOT_STR}"),
        # The first argument that fails is the one reported.
        (lambda t: t.signal_value(1, -1), TypeError, f"argument 'name': 'int' {NOT_STR}"),
        (lambda t: t.bit_slice_val(1.5, 2**40, 0), TypeError, f"argument 'val': 'float' {NOT_INT}"),
        (lambda t: t.changed_at_scope("x", 1), TypeError, f"argument 'index': 'str' {NOT_INT}"),
        (lambda t: t.find_with_values(5, 5), TypeError, "argument 'expr': 'int' object is not an instance of 'PyExpr'"),
        # Integer ranges: unsigned 64 and 32 bits, signed 64 bits.
        (lambda t: t.signal_value("top.clk", -1), OverflowError, "can't convert negative int to unsigned"),
        (lambda t: t.timestamp(2**64), OverflowError, "int too big to convert"),
        (lambda t: PyExpr.signal(-1), OverflowError, "can't convert negative int to unsigned"),
        (lambda t: t.bit_slice_val(1, 2**32, 0), OverflowError, U32_RANGE),
        (lambda t: t.bit_slice_val(1, 0, -1), OverflowError, U32_RANGE),
        (lambda t: t.sign_extend_val(1, 2**63 - 1), OverflowError, U32_RANGE),
        (lambda t: E.slice(-1, 0), OverflowError, U32_RANGE),
        (lambda t: E.slice(4294967296, 0), OverflowError, U32_RANGE),
        # Outside the signed 64-bit range the interpreter's own error stands.
        (lambda t: t.sign_extend_val(1, 2**63), OverflowError, "int too big to convert"),
        (lambda t: t.bit_slice_val(1, 0, -(2**63) - 1), OverflowError, "int too big to convert"),
        (lambda t: E.slice(2**64, 0), OverflowError, "int too big to convert"),
        (lambda t: E.rel_eval(2**63), OverflowError, "int too big to convert"),
        (lambda t: E.rel_eval(-(2**63) - 1), OverflowError, "int too big to convert"),
    ],
)
def test_bad_argument(trace, call, error, message):
    with pytest.raises(error, match=f"^{re.escape(message)}$"):
        call(trace)


@pytest.mark.parametrize(
    ("call", "expected"),
    [
        (lambda t: t.signal_value("top.clk", Index(0)), 1),
        (lambda t: t.signal_value("top.clk", False), 1),
        (lambda t: t.timestamp(Index(1)), 5),
        (lambda t: t.bit_slice_val(Index(2**64 - 1), Index(2**32 - 1), True), 2**63 - 1),
        (lambda t: t.sign_extend_val(2**64 - 1, 2**32 - 1), -1),
        (lambda t: t.eval_expr(PyExpr.const_int(Index(3)), 0), 3),
        (lambda t: t.eval_expr(PyExpr.const_int(0xF).slice(Index(3), 2), 1), 3),
    ],
)
def test_integer_like_arguments_accepted(trace, call, expected):
    assert call(trace) == expected


@pytest.mark.parametrize("qualified", [q for q, (signature, _) in SIGNATURES.items() if signature.startswith("($self")])
def test_receiver_must_be_an_instance(qualified):
    # Registered as an instance method: the interpreter refuses a foreign receiver.
    cls, method = qualified.split(".")
    with pytest.raises(TypeError, match=cls):
        getattr(getattr(quarn, cls), method)(5)
