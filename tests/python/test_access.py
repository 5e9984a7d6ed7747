import pytest

from quarn import PyTrace


@pytest.mark.parametrize(
    ("method", "args", "expected"),
    [
        ("max_index", (), 1),
        ("timestamp", (0,), 0),
        ("timestamp", (1,), 5),
        ("timestamp", (2,), 0),
        ("signal_names", (), ["clk"]),
        ("scopes", (), []),
        ("signal_value", ("clk", 0), 1),
        ("signal_value", ("clk", 1), None),
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
        ("signal_values_range", ("clk", 0, 3), [1, None, None]),
        ("signal_values_range", ("clk", 2, 1), []),
        ("signal_values_range", ("clk", 5, 5), []),
        ("signal_values_range", ("nope", 0, 2), [None, None]),
        ("signal_values_range", ("nope", 6, 3), []),
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


def test_aliases_share_id_and_values():
    trace = PyTrace.from_vcd_string(
        "$scope module t $end\n$var wire 1 ! p $end\n$var wire 1 ! q $end\n$var wire 1 \" r $end\n"
        "$upscope $end\n#0\n1!\n0\"\n#1\n0!\n"
    )
    assert trace.signal_id("t.p") == trace.signal_id("t.q") != trace.signal_id("t.r")
    assert trace.signal_values_range("t.p", 0, 2) == trace.signal_values_range("t.q", 0, 2) == [1, 0]


def test_text_without_signals_gives_empty_trace():
    trace = PyTrace.from_vcd_string("$enddefinitions $end")
    assert trace.signal_names() == [] and trace.scopes() == []
    assert trace.max_index() == 0 and trace.timestamp(0) == 0


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
    tail = trace.signal_values_range("v", count - 2, count + 65_540)
    assert tail[:2] == expected[-2:] and tail[2:] == [None] * 65_540


@pytest.mark.parametrize(("start", "end"), [(0, 2**63), (0, 2**64 - 1), (5, 2**60 + 5)])
def test_range_too_large_raises_memory_error(clk_trace, start, end):
    with pytest.raises(MemoryError, match=f"^signal_values_range: {end - start} values are too many to allocate$"):
        clk_trace.signal_values_range("clk", start, end)


@pytest.mark.parametrize(
    ("val", "high", "low", "expected"),
    [
        (0xAB, 7, 4, 0xA),
        (0xAB, 3, 4, 0),
        (2**64 - 1, 63, 0, 2**64 - 1),
        (0xFF, 70, 64, 0),
        (0xF0, 100, 4, 0xF),
        (2**64 - 1, 2**32 - 1, 0, 2**64 - 1),
        (2**63, 63, 63, 1),
        (0xAB, 0, 0, 1),
    ],
)
def test_bit_slice_val(clk_trace, val, high, low, expected):
    assert clk_trace.bit_slice_val(val, high, low) == expected


@pytest.mark.parametrize(
    ("val", "width", "expected"),
    [
        (0xFF, 8, -1),
        (0x7F, 8, 127),
        (0x17F, 8, 383),
        (0x180, 8, -128),
        (5, 0, 5),
        (2**63, 64, -(2**63)),
        (2**63 + 5, 8, -(2**63) + 5),
        (2**64 - 1, 100, -1),
        (1, 1, -1),
    ],
)
def test_sign_extend_val(clk_trace, val, width, expected):
    assert clk_trace.sign_extend_val(val, width) == expected


def test_from_vcd_file_matches_string(tmp_path):
    text = "$scope module top $end\n$var wire 1 ! clk $end\n$upscope $end\n#0\n1!\n#10\n0!\n"
    path = tmp_path / "t.vcd"
    path.write_text(text)
    from_file, from_text = PyTrace.from_vcd(str(path)), PyTrace.from_vcd_string(text)
    for trace in (from_file, from_text):
        assert trace.signal_names() == ["top.clk"] and trace.scopes() == ["top"]
        assert [trace.timestamp(i) for i in range(2)] == [0, 10]
        assert trace.signal_values_range("top.clk", 0, 2) == [1, 0]


@pytest.mark.parametrize(
    ("make_path", "message"),
    [
        (lambda tmp: tmp / "missing.vcd", "Failed to open {}: No such file or directory"),
        (lambda tmp: tmp, "Failed to read {}: Is a directory"),
    ],
)
def test_load_failure_is_value_error_with_reader_message(tmp_path, make_path, message):
    path = str(make_path(tmp_path))
    with pytest.raises(ValueError) as info:
        PyTrace.from_vcd(path)
    assert info.value.args == (message.format(path),)
