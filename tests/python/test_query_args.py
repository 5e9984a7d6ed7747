"""Binding of the change, snapshot, navigation and statistics methods."""

import re

import pytest

from quarn import PyTrace

SIGNATURES = {
    "changed_at": ("($self, index)", "Get all signals that changed value at a specific index.\n"
                   "Returns list of (name, old_value, new_value) tuples."),
    "changed_at_scope": ("($self, index, scope)", "Get signals that changed at index within a scope."),
    "transitions": ("($self, name)", "Get all transitions for a signal: [(index, old, new), ...]"),
    "snapshot": ("($self, index)", "Snapshot: get all signal values at a specific index as a dict.\n"
                 "Uses signal_value_by_id for O(1) access per signal."),
    "snapshot_scope": ("($self, index, scope)", "Snapshot within a scope.\n"
                       "Uses signal_value_by_id for O(1) access per signal."),
    "signal_stats": ("($self, name)", "Compute stats for a signal: (min, max, sum, count, transitions, num_x, num_z)"),
    "local_scopes": ("($self, scope_name)", None),
    "local_signals": ("($self, scope_name)", None),
    "resolve": ("($self, scope_name, short_name)", None),
    "find_signals_glob": ("($self, pattern)", "Find signals matching a glob pattern."),
    "find_signals_containing": ("($self, substring)", "Find signals containing a substring (case-insensitive)."),
}


@pytest.mark.parametrize(("method", "signature", "doc"), [(m, *sd) for m, sd in SIGNATURES.items()])
def test_signature_and_docstring(method, signature, doc):
    function = getattr(PyTrace, method)
    assert function.__text_signature__ == signature
    # None: a docstring of our own, whatever its wording.
    assert function.__doc__ == doc if doc else function.__doc__


@pytest.mark.parametrize(
    ("method", "args", "kwargs"),
    [
        ("changed_at", (1,), {"index": 1}),
        ("changed_at_scope", (1, "top"), {"scope": "top", "index": 1}),
        ("transitions", ("top.clk",), {"name": "top.clk"}),
        ("snapshot", (1,), {"index": 1}),
        ("snapshot_scope", (1, "top"), {"scope": "top", "index": 1}),
        ("signal_stats", ("top.clk",), {"name": "top.clk"}),
        ("local_scopes", ("",), {"scope_name": ""}),
        ("local_signals", ("top",), {"scope_name": "top"}),
        ("resolve", ("top", "clk"), {"short_name": "clk", "scope_name": "top"}),
        ("find_signals_glob", ("*",), {"pattern": "*"}),
        ("find_signals_containing", ("C",), {"substring": "C"}),
    ],
)
def test_keywords_bind_like_positions(method, args, kwargs):
    trace = PyTrace.from_vcd_string("$scope module top $end\n$var wire 1 ! clk $end\n$upscope $end\n#0\n0!\n#1\n1!\n")
    call = getattr(trace, method)
    expected = call(*args)
    assert expected  # every call here has a non-empty answer, so a mix-up shows
    assert call(**kwargs) == expected


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (lambda t: t.transitions(1), TypeError, "argument 'name': 'int' object is not an instance of 'str'"),
        (lambda t: t.signal_stats(None), TypeError, "argument 'name': 'NoneType' object is not an instance of 'str'"),
        (lambda t: t.changed_at_scope(0, b"top"), TypeError,
         "argument 'scope': 'bytes' object is not an instance of 'str'"),
        (lambda t: t.snapshot_scope(0, 3), TypeError, "argument 'scope': 'int' object is not an instance of 'str'"),
        (lambda t: t.local_scopes(1.0), TypeError,
         "argument 'scope_name': 'float' object is not an instance of 'str'"),
        (lambda t: t.local_signals([]), TypeError, "argument 'scope_name': 'list' object is not an instance of 'str'"),
        (lambda t: t.resolve("top", 3), TypeError, "argument 'short_name': 'int' object is not an instance of 'str'"),
        (lambda t: t.resolve(3, 3), TypeError, "argument 'scope_name': 'int' object is not an instance of 'str'"),
        (lambda t: t.find_signals_glob(None), TypeError,
         "argument 'pattern': 'NoneType' object is not an instance of 'str'"),
        (lambda t: t.find_signals_containing(1), TypeError,
         "argument 'substring': 'int' object is not an instance of 'str'"),
        (lambda t: t.changed_at(1.0), TypeError, "argument 'index': 'float' object cannot be interpreted as an integer"),
        (lambda t: t.snapshot("0"), TypeError, "argument 'index': 'str' object cannot be interpreted as an integer"),
        # The index is converted before the scope, so its error wins.
        (lambda t: t.changed_at_scope("x", 1), TypeError,
         "argument 'index': 'str' object cannot be interpreted as an integer"),
        (lambda t: t.changed_at(-1), OverflowError, "can't convert negative int to unsigned"),
        (lambda t: t.snapshot_scope(2**64, "top"), OverflowError, "int too big to convert"),
        (lambda t: t.changed_at(), TypeError, "changed_at() missing 1 required positional argument: 'index'"),
        (lambda t: t.resolve("top"), TypeError, "resolve() missing 1 required positional argument: 'short_name'"),
        (lambda t: t.snapshot(0, 1), TypeError, "snapshot() takes 1 positional argument but 2 were given"),
        (lambda t: t.signal_stats(name="a", other=1), TypeError,
         "signal_stats() got an unexpected keyword argument 'other'"),
    ],
)
def test_bad_arguments(call, error, message):
    trace = PyTrace.from_vcd_string("$var wire 1 ! a $end\n#0\n0!\n")
    with pytest.raises(error, match=f"^{re.escape(message)}$"):
        call(trace)


@pytest.mark.parametrize("method", sorted(SIGNATURES))
def test_receiver_must_be_a_trace(method):
    with pytest.raises(TypeError, match="PyTrace"):
        getattr(PyTrace, method)(5)
