import re

import pytest

from quarn import PyTrace


class Index:
    """Not an int, but usable as one through __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize(
    ("method", "args", "kwargs", "mixed_args", "mixed_kwargs"),
    [
        ("timestamp", (1,), {"index": 1}, (), {"index": 1}),
        ("signal_value", ("clk", 0), {"index": 0, "name": "clk"}, ("clk",), {"index": 0}),
        ("signal_value_raw", ("clk", 0), {"name": "clk", "index": 0}, ("clk",), {"index": 0}),
        ("signal_width", ("clk",), {"name": "clk"}, (), {"name": "clk"}),
        ("signal_id", ("clk",), {"name": "clk"}, (), {"name": "clk"}),
        ("signal_values_range", ("clk", 0, 3), {"end": 3, "start": 0, "name": "clk"}, ("clk", 0), {"end": 3}),
        ("bit_slice_val", (0xAB, 7, 4), {"low": 4, "high": 7, "val": 0xAB}, (0xAB,), {"low": 4, "high": 7}),
        ("sign_extend_val", (0xFF, 8), {"width": 8, "val": 0xFF}, (0xFF,), {"width": 8}),
    ],
)
def test_keywords_bind_like_positions(clk_trace, method, args, kwargs, mixed_args, mixed_kwargs):
    call = getattr(clk_trace, method)
    expected = call(*args)
    assert call(**kwargs) == expected
    assert call(*mixed_args, **mixed_kwargs) == expected


def test_constructors_take_keywords(tmp_path):
    path = tmp_path / "k.vcd"
    path.write_text("$var wire 1 ! a $end\n#0\n1!\n")
    assert PyTrace.from_vcd(path=str(path)).signal_value("a", 0) == 1
    assert PyTrace.from_vcd_string(data="$var wire 1 ! a $end\n").signal_names() == ["a"]


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda t: t.signal_value("clk"), "signal_value() missing 1 required positional argument: 'index'"),
        (lambda t: t.signal_value(), "signal_value() missing 2 required positional arguments: 'name' and 'index'"),
        (
            lambda t: t.signal_values_range(),
            "signal_values_range() missing 3 required positional arguments: 'name', 'start', and 'end'",
        ),
        (lambda t: t.signal_value("clk", 0, 1), "signal_value() takes 2 positional arguments but 3 were given"),
        (lambda t: t.signal_width("a", "b"), "signal_width() takes 1 positional argument but 2 were given"),
        (lambda t: t.max_index(0), "max_index() takes 0 positional arguments but 1 was given"),
        (lambda t: t.signal_value("clk", 0, x=1), "signal_value() got an unexpected keyword argument 'x'"),
        (lambda t: t.scopes(name="a"), "scopes() got an unexpected keyword argument 'name'"),
        (lambda t: t.signal_value("clk", name="clk"), "signal_value() got multiple values for argument 'name'"),
        (lambda t: PyTrace.from_vcd(), "from_vcd() missing 1 required positional argument: 'path'"),
        (lambda t: PyTrace.from_vcd_string("", data=""), "from_vcd_string() got multiple values for argument 'data'"),
    ],
)
def test_bad_binding_raises_interpreter_wording(clk_trace, call, message):
    with pytest.raises(TypeError, match=f"^{re.escape(message)}$"):
        call(clk_trace)


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda t: t.signal_value(1, 0), "argument 'name': 'int' object is not an instance of 'str'"),
        (lambda t: t.signal_id(b"clk"), "argument 'name': 'bytes' object is not an instance of 'str'"),
        (lambda t: t.signal_width(None), "argument 'name': 'NoneType' object is not an instance of 'str'"),
        (lambda t: PyTrace.from_vcd(3), "argument 'path': 'int' object is not an instance of 'str'"),
        (lambda t: PyTrace.from_vcd_string(t), "argument 'data': 'PyTrace' object is not an instance of 'str'"),
        (lambda t: t.timestamp(1.0), "argument 'index': 'float' object cannot be interpreted as an integer"),
        (lambda t: t.signal_value("clk", "0"), "argument 'index': 'str' object cannot be interpreted as an integer"),
        (lambda t: t.signal_values_range("clk", 0, None),
         "argument 'end': 'NoneType' object cannot be interpreted as an integer"),
        (lambda t: t.bit_slice_val(1, 2.0, 0), "argument 'high': 'float' object cannot be interpreted as an integer"),
        # The first argument that fails is the one reported.
        (lambda t: t.signal_value(1, -1), "argument 'name': 'int' object is not an instance of 'str'"),
        (lambda t: t.bit_slice_val(1.5, 2**40, 0), "argument 'val': 'float' object cannot be interpreted as an integer"),
    ],
)
def test_wrong_argument_type(clk_trace, call, message):
    with pytest.raises(TypeError, match=f"^{re.escape(message)}$"):
        call(clk_trace)


U32_RANGE = "out of range integral type conversion attempted"


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda t: t.signal_value("clk", -1), "can't convert negative int to unsigned"),
        (lambda t: t.timestamp(2**64), "int too big to convert"),
        (lambda t: t.bit_slice_val(-1, 1, 0), "can't convert negative int to unsigned"),
        (lambda t: t.bit_slice_val(1, 2**32, 0), U32_RANGE),
        (lambda t: t.bit_slice_val(1, 0, -1), U32_RANGE),
        (lambda t: t.sign_extend_val(1, 2**63 - 1), U32_RANGE),
        (lambda t: t.sign_extend_val(1, -(2**63)), U32_RANGE),
        # Outside the signed 64-bit range the interpreter's own error stands.
        (lambda t: t.sign_extend_val(1, 2**63), "int too big to convert"),
        (lambda t: t.bit_slice_val(1, 0, -(2**63) - 1), "int too big to convert"),
    ],
)
def test_integer_out_of_range(clk_trace, call, message):
    with pytest.raises(OverflowError, match=f"^{re.escape(message)}$"):
        call(clk_trace)


@pytest.mark.parametrize(
    ("call", "expected"),
    [
        (lambda t: t.signal_value("clk", Index(0)), 1),
        (lambda t: t.signal_value("clk", False), 1),
        (lambda t: t.timestamp(Index(1)), 5),
        (lambda t: t.bit_slice_val(Index(2**64 - 1), Index(2**32 - 1), True), 2**63 - 1),
        (lambda t: t.sign_extend_val(2**64 - 1, 2**32 - 1), -1),
    ],
)
def test_integer_like_arguments_accepted(clk_trace, call, expected):
    assert call(clk_trace) == expected


def test_receiver_must_be_a_trace():
    with pytest.raises(TypeError):
        PyTrace.signal_names(5)
    with pytest.raises(TypeError):
        PyTrace.signal_value("clk", "clk", 0)
