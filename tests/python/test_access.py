import pytest

from quarn import PyTrace


@pytest.mark.parametrize(
    ("method", "args", "expected"),
    [
        ("timestamp", (2,), 0),
        ("signal_value", ("clk", 7), None),
        ("signal_value", ("clk", 2**64 - 1), None),
        ("signal_value_raw", ("clk", 0), 1),
        ("signal_value_raw", ("clk", 1), 0),
        ("signal_value_raw", ("nope", 0), 0),
        ("signal_width", ("clk",), 1),
        ("signal_width", ("nope",), 0),
        ("signal_id", ("clk",), 0),
        ("signal_id", ("nope",), None),
        ("signal_value", ("nope", 0), None),
        # Ranges stop at the last index (1 here).
        ("signal_values_range", ("clk", 0, 3), [1, None]),
        ("signal_values_range", ("clk", 1, 2**64 - 1), [None]),
        ("signal_values_range", ("clk", 2, 1), []),
        ("signal_values_range", ("clk", 5, 5), []),
        ("signal_values_range", ("nope", 0, 2), [None, None]),
        ("signal_values_range", ("nope", 6, 3), []),
        # Value helpers: bits high..low (its rules: the Slice cases of tests/core/eval_test.cpp), and a
        # width's sign extended.
        ("bit_slice_val", (0xAB, 7, 4), 0xA),
        ("bit_slice_val", (2**64 - 1, 2**32 - 1, 0), 2**64 - 1),
        ("bit_slice_val", (2**63, 63, 63), 1),
        ("sign_extend_val", (0xFF, 8), -1),
        ("sign_extend_val", (0x7F, 8), 127),
        ("sign_extend_val", (0x17F, 8), 383),
        ("sign_extend_val", (0x180, 8), -128),
        ("sign_extend_val", (5, 0), 5),
        ("sign_extend_val", (2**63, 64), -(2**63)),
        ("sign_extend_val", (2**63 + 5, 8), -(2**63) + 5),
        ("sign_extend_val", (2**64 - 1, 100), -1),
        ("sign_extend_val", (1, 1), -1),
    ],
)
def test_clk_trace_answers(clk_trace, method, args, expected):
    assert getattr(clk_trace, method)(*args) == expected


def test_value_types():
    trace = PyTrace.from_vcd_string(
        "$var wire 4 # v $end\n$var real 64 % r $end\n$var wire 8 & b $end\n"
        "#0\nb10z1 #\nr2.5 %\nb11111111 &\n"
    )
    # A four-state vector reads as None even where a number could be formed.
    assert trace.signal_value("v", 0) is None
    assert trace.signal_value_raw("v", 0) == 0
    real = trace.signal_value("r", 0)
    assert type(real) is float and real == 2.5
    assert trace.signal_value_raw("r", 0) == 2
    assert trace.signal_value("b", 0) == 255 and type(trace.signal_value("b", 0)) is int


@pytest.mark.parametrize(
    ("digits", "expected"),
    [
        ("1" + "0" * 100, 2**100),
        ("1" + "0" * 127, 2**127),
        ("1" * 128, 2**128 - 1),
        ("1" + "0" * 63 + "101", 2**66 + 5),
        ("0" * 64 + "1" * 64, 2**64 - 1),  # fits in 64 bits: an ordinary int
    ],
)
def test_wide_vector_reads_as_full_int(digits, expected):
    trace = PyTrace.from_vcd_string(f"$var wire 128 ! w $end\n#0\nb{digits} !\n#1\n")
    assert trace.signal_value("w", 0) == expected
    assert trace.signal_values_range("w", 0, 2) == [expected, expected]
    # The 64-bit reading keeps the low word only.
    assert trace.signal_value_raw("w", 0) == expected & (2**64 - 1)


@pytest.mark.parametrize("spelling", ["t.busy", "t.busy [7:0]", "t.busy[7:0]", "t.nib[3:0]", "t.nib [3:0]"])
def test_names_answer_with_their_bit_range_too(spelling):
    trace = PyTrace.from_vcd_string(
        "$scope module t $end\n$var wire 8 ! busy [7:0] $end\n$var wire 4 \" nib[3:0] $end\n"
        "$upscope $end\n#0\nb101 !\nb101 \"\n"
    )
    canonical = spelling.split("[")[0].rstrip()
    assert trace.signal_names() == ["t.busy", "t.nib"]
    assert trace.signal_id(spelling) == trace.signal_id(canonical) is not None
    assert trace.signal_width(spelling) == trace.signal_width(canonical) > 1
    assert trace.signal_value(spelling, 0) == trace.signal_values_range(spelling, 0, 1)[0] == 5
    # A range that does not span the signal names no signal.
    assert trace.signal_id(canonical + "[8]") is trace.signal_id(canonical + " [1:0]") is None


def test_results_are_fresh_lists(clk_trace):
    names = clk_trace.signal_names()
    names.append("intruder")
    assert clk_trace.signal_names() == ["clk"]


def test_range_spanning_several_core_calls():
    # The binding fetches long ranges in chunks; values must line up across
    # chunk boundaries and past the end of the trace.
    count = 70_000
    body = "".join(f"#{i}\nb{i % 256:b} !\n" for i in range(count))
    trace = PyTrace.from_vcd_string("$var wire 8 ! v $end\n" + body)
    expected = [i % 256 for i in range(count)]
    assert trace.signal_values_range("v", 0, count) == expected
    assert trace.signal_values_range("v", 65_530, 65_545) == expected[65_530:65_545]
    assert trace.signal_values_range("v", count - 2, count + 65_540) == expected[-2:]


@pytest.mark.parametrize(("start", "end"), [(0, 2**32), (0, 2**63), (0, 2**64 - 1), (5, 2**60 + 5)])
@pytest.mark.parametrize("name", ["clk", "nope"])
def test_range_past_the_end_is_clamped_before_allocating(clk_trace, name, start, end):
    expected = clk_trace.signal_values_range(name, start, clk_trace.max_index() + 1)
    assert clk_trace.signal_values_range(name, start, end) == expected
