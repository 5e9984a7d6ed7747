import inspect

import pytest

import quarn
import quarn._core as core
from quarn import PyExpr, PyTrace


def test_module_exports_both_classes_in_order():
    assert core.__all__ == ["PyTrace", "PyExpr"]
    assert quarn.__all__[:2] == ["PyTrace", "PyExpr"]
    assert quarn.PyTrace is core.PyTrace and quarn.PyExpr is core.PyExpr
    assert core.__doc__ == ""


@pytest.mark.parametrize("cls", [PyTrace, PyExpr])
def test_class_cannot_be_instantiated(cls):
    with pytest.raises(TypeError):
        cls()


@pytest.mark.parametrize("cls", [PyTrace, PyExpr])
def test_class_cannot_be_subclassed(cls):
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@pytest.mark.parametrize(
    ("method", "signature"),
    [
        ("from_vcd", "(path, *, strict=False)"),
        ("from_vcd_string", "(data, *, strict=False)"),
        ("signal_names", "($self)"),
        ("scopes", "($self)"),
        ("max_index", "($self)"),
        ("timestamp", "($self, index)"),
        ("signal_value", "($self, name, index)"),
        ("signal_value_raw", "($self, name, index)"),
        ("signal_width", "($self, name)"),
        ("signal_id", "($self, name)"),
        ("signal_values_range", "($self, name, start, end)"),
        ("bit_slice_val", "($self, val, high, low)"),
        ("sign_extend_val", "($self, val, width)"),
    ],
)
def test_text_signature_and_docstring(method, signature):
    func = inspect.getattr_static(PyTrace, method)
    assert func.__text_signature__ == signature
    assert func.__doc__

