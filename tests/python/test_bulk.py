"""numpy bulk values against the per-index API, and to_pandas."""

import numpy as np
import pytest

import quarn
from quarn import PyTrace

from conftest import corpus_file
# x/z and 256-bit vectors; reals; 512-bit vectors; FST.
FILES = ["icarus/CPU.vcd", "nvc/manytypes2.vcd", "amaranth/array-names_wellen_issue_36.vcd", "ghdl/idea.vcd.fst"]


def same(value, got, unknown) -> bool:
    if value is None:
        return bool(unknown)
    if isinstance(value, float):
        return not unknown and (got == value or (np.isnan(got) and np.isnan(value)))
    return not unknown and got == value


@pytest.mark.parametrize("path", FILES)
def test_values_and_changes_match_the_per_index_api(path):
    trace = quarn.open(corpus_file(path))
    for name in trace.signal_names():
        expected = trace.signal_values_range(name, 0, len(trace))
        values, unknown = trace.values(name)
        assert len(values) == len(unknown) == len(trace)
        assert all(same(e, g, u) for e, g, u in zip(expected, values, unknown)), name
        indices, changed, changed_unknown = trace.changes(name)
        # The first value (at 0, or where a value first appears), then exactly the transitions.
        starts = indices.tolist()
        assert (starts[1:] if starts[:1] == [0] else starts) == [i for i, _, _ in trace.transitions(name)], name
        for i, v, u in zip(indices, changed, changed_unknown):
            assert same(expected[int(i)], v, u)


@pytest.mark.parametrize(
    ("path", "name", "dtype"),
    [("icarus/CPU.vcd", "ID_EX.MemWrite", np.uint64), ("icarus/CPU.vcd", "testbench.CPU.IF_ID_PC", np.uint64),
     ("icarus/CPU.vcd", "testbench.mem_cpu_data", object),
     ("nvc/manytypes2.vcd", "comprehensive2_tb.real_signal", np.float64)],
)
def test_dtype_follows_the_values(path, name, dtype):
    trace = quarn.open(corpus_file(path))
    assert trace.values(name)[0].dtype == dtype and trace.changes(name)[1].dtype == dtype


def test_wide_values_are_python_ints():
    text = "$var wire 100 ! w $end\n#0\nb1" + "0" * 99 + " !\n#1\nb1x !\n"
    values, unknown = PyTrace.from_vcd_string(text).values("w")
    assert values.dtype == object and values[0] == 2**99 and unknown.tolist() == [False, True]


def test_values_window_and_past_the_end():
    trace = PyTrace.from_vcd_string("$var wire 2 ! a $end\n#0\nb1 !\n#5\nb10 !\n#7\nbx1 !\n")
    values, unknown = trace.values("a", 1, 5)
    assert values.tolist() == [2, 1, 0, 0] and unknown.tolist() == [False, True, True, True]
    assert trace.values("a", 3, 3)[0].tolist() == []


def test_unknown_name_is_a_key_error():
    with pytest.raises(KeyError, match="no signal named 'b'"):
        PyTrace.from_vcd_string("$var wire 1 ! a $end\n#0\n1!\n").changes("b")


def test_to_pandas_rows_by_time_with_missing_values():
    pd = pytest.importorskip("pandas")
    trace = PyTrace.from_vcd_string(
        "$timescale 1ns $end\n$var wire 2 ! a $end\n$var real 64 # r $end\n#0\nb1 !\nr0.5 #\n#5\nbx1 !\n#9\nb11 !\n"
    )
    frame = trace.to_pandas(["a", "r"], start="1ns")
    assert frame.index.tolist() == [0, 5, 9] and frame.index.name == "time"
    assert frame["a"].isna().tolist() == [False, True, False] and frame["a"].dropna().tolist() == [1, 3]
    assert frame["r"].tolist() == [0.5] * 3
    assert trace.to_pandas(["a"], 5, 9, index="index").index.tolist() == [1, 2]
    assert isinstance(frame, pd.DataFrame)
