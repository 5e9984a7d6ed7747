import inspect

import pytest

import quarn
import quarn._core as core
from quarn import PyExpr, PyTrace


def test_module_exports_classes_in_order():
    assert core.__all__ == ["PyTrace", "PyExpr", "PyCycles"]
    assert quarn.__all__[:2] == ["PyTrace", "PyExpr"]
    assert quarn.PyTrace is core.PyTrace and quarn.PyExpr is core.PyExpr


@pytest.mark.parametrize("cls", [PyTrace, PyExpr])
def test_class_cannot_be_instantiated_or_subclassed(cls):
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


BINARY = ["and_", "or_", "eq_", "neq", "gt_", "lt_", "gte", "lte", "add", "sub", "bit_and", "bit_or", "bit_xor"]

# Text signatures, and docstrings where their wording is promised (None: a
# docstring of our own, whatever its wording).
SIGNATURES = {
    "PyTrace.from_vcd": ("(path, *, strict=False)", None),
    "PyTrace.from_vcd_string": ("(data, *, strict=False)", None),
    **{f"PyTrace.{m}": ("(path)", None) for m in ("from_fst", "from_fsdb", "from_vpd", "from_wlf", "from_shm")},
    **{f"PyTrace.{m}": ("($self)", None) for m in ("signal_names", "scopes", "max_index")},
    "PyTrace.timestamp": ("($self, index)", None),
    "PyTrace.signal_value": ("($self, name, index)", None),
    "PyTrace.signal_value_raw": ("($self, name, index)", None),
    "PyTrace.signal_width": ("($self, name)", None),
    "PyTrace.signal_id": ("($self, name)", None),
    "PyTrace.signal_values_range": ("($self, name, start, end)", None),
    "PyTrace.bit_slice_val": ("($self, val, high, low)", None),
    "PyTrace.sign_extend_val": ("($self, val, width)", None),
    "PyTrace.changed_at": ("($self, index)", "Get all signals that changed value at a specific index.\n"
                           "Returns list of (name, old_value, new_value) tuples."),
    "PyTrace.changed_at_scope": ("($self, index, scope)", "Get signals that changed at index within a scope."),
    "PyTrace.transitions": ("($self, name)", "Get all transitions for a signal: [(index, old, new), ...]"),
    "PyTrace.snapshot": ("($self, index)", "Snapshot: get all signal values at a specific index as a dict.\n"
                         "Uses signal_value_by_id for O(1) access per signal."),
    "PyTrace.snapshot_scope": ("($self, index, scope)", "Snapshot within a scope.\n"
                               "Uses signal_value_by_id for O(1) access per signal."),
    "PyTrace.signal_stats": ("($self, name)",
                             "Compute stats for a signal: (min, max, sum, count, transitions, num_x, num_z)"),
    "PyTrace.local_scopes": ("($self, scope_name)", None),
    "PyTrace.local_signals": ("($self, scope_name)", None),
    "PyTrace.resolve": ("($self, scope_name, short_name)", None),
    "PyTrace.find_signals_glob": ("($self, pattern)", "Find signals matching a glob pattern."),
    "PyTrace.find_signals_containing": ("($self, substring)",
                                        "Find signals containing a substring (case-insensitive)."),
    "PyTrace.find": ("($self, expr)", None),
    "PyTrace.parallel_find": ("($self, expr)", "Find matching indices using parallel iteration across all CPU cores."),
    "PyTrace.parallel_count": ("($self, expr)", "Count matching indices using parallel iteration."),
    "PyTrace.eval_expr": ("($self, expr, index)", None),
    "PyTrace.eval_expr_bool": ("($self, expr, index)", None),
    "PyTrace.find_with_values": ("($self, expr, signal_names)",
                                 "Find with value extraction in one pass: returns list of (index, [values]) tuples.\n"
                                 "Resolves signal IDs once upfront, uses signal_value_by_id in the hot loop."),
    "PyExpr.signal": ("(id)", None),
    **{f"PyExpr.{m}": ("(val)", None) for m in ("const_int", "const_float", "const_str")},
    "PyExpr.always_true": ("()", None),
    "PyExpr.rel_eval": ("($self, offset)", None),
    "PyExpr.slice": ("($self, high, low)", None),
    **{f"PyExpr.{m}": ("($self)", None) for m in ("not_", "signed", "is_x", "is_z")},
    **{f"PyExpr.{m}": ("($self, other)", None) for m in BINARY},
}


@pytest.mark.parametrize("qualified", SIGNATURES)
def test_text_signature_and_docstring(qualified):
    cls, method = qualified.split(".")
    func = inspect.getattr_static({"PyTrace": PyTrace, "PyExpr": PyExpr}[cls], method)
    signature, doc = SIGNATURES[qualified]
    assert func.__text_signature__ == signature
    assert func.__doc__ == doc if doc else func.__doc__
