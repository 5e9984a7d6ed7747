"""Real VCD files from real simulators and tools (see the corpus README)."""

import re
from pathlib import Path

import pytest

from quarn import PyTrace

CORPUS = Path(__file__).resolve().parents[2].parent / "shared" / "corpus"
VCD_FILES = sorted(CORPUS.rglob("*.vcd")) if CORPUS.is_dir() else []

pytestmark = pytest.mark.skipif(not VCD_FILES, reason=f"no corpus at {CORPUS}")

TIME = re.compile(rb"^[ \t]*#(\d+)(?=\s|$)", re.M)  # at a line's start: "#0" may be an id code elsewhere


def timestamps_kept(path: Path) -> list[int]:
    """The file's readable times (comments aside) that do not go back."""
    data = re.sub(rb"\$comment.*?\$end", b"", path.read_bytes(), flags=re.S)
    kept: list[int] = []
    for match in TIME.finditer(data):
        time = int(match.group(1))
        if time < 2**64 and (not kept or time >= kept[-1]):
            kept.append(time)
    return kept


def event_names(path: Path) -> set[str]:
    return set(re.findall(rb"\$var\s+event\s+\S+\s+\S+\s+(\S+)", path.read_bytes()))


def declares_variables(path: Path) -> bool:
    return any(line.lstrip().startswith(b"$var") for line in path.read_bytes().splitlines())


def corpus_file(relative: str) -> Path:
    path = CORPUS / relative
    if not path.is_file():
        pytest.skip(f"{relative} not in the corpus")
    return path


@pytest.mark.parametrize("path", VCD_FILES, ids=lambda p: str(p.relative_to(CORPUS)))
def test_every_vcd_loads_plausibly(path):
    trace = PyTrace.from_vcd(str(path))
    names, scopes = trace.signal_names(), trace.scopes()
    assert len(set(names)) == len(names) and len(set(scopes)) == len(scopes)
    assert bool(names) == declares_variables(path)

    kept = timestamps_kept(path)
    last = trace.max_index()
    times = [trace.timestamp(i) for i in range(last + 1)]
    assert times == sorted(times)
    # One index per time, and index 0 at time 0 for values written before a later first time.
    assert times[-len(kept):] == kept if kept else last == 0
    assert len(times) - len(kept) in (0, 1) and (len(times) == len(kept) or times[0] == 0)
    assert trace.timestamp(last + 1) == 0
    events = event_names(path)  # events read as trigger counts, not bits

    for name in names:
        width = trace.signal_width(name)
        assert isinstance(trace.signal_id(name), int)
        for index in (0, last):
            value = trace.signal_value(name, index)
            assert value is None or isinstance(value, (int, float, str))
            if isinstance(value, int) and width > 0 and name.rsplit(".", 1)[-1].encode() not in events:
                assert 0 <= value < 2**width, (name, index, value)


def test_icarus_counter_aliases_and_values():
    trace = PyTrace.from_vcd(str(corpus_file("icarus/counter_tb.vcd")))
    assert trace.scopes() == ["counter_tb", "counter_tb.top"]
    assert trace.signal_names()[:4] == ["counter_tb.out", "counter_tb.clock", "counter_tb.enable", "counter_tb.reset"]
    assert trace.max_index() == 26 and trace.timestamp(26) == 26
    assert trace.signal_width("counter_tb.out") == 2
    # clock and top.clock are one code; out and top.out are two.
    assert trace.signal_id("counter_tb.clock") == trace.signal_id("counter_tb.top.clock")
    assert trace.signal_id("counter_tb.out") != trace.signal_id("counter_tb.top.out")
    # 'bx' at #0, 0 from #2, counting every other step once enable rises at #5.
    expected = [None, None, 0, 0] + [(i // 2) % 4 for i in range(22)] + [2]
    assert trace.signal_values_range("counter_tb.out", 0, 27) == expected
    assert trace.signal_values_range("counter_tb.top.out", 0, 27) == expected
    assert trace.signal_values_range("counter_tb.top.clock", 0, 4) == [1, 0, 1, 0]


def test_issue133_minimal_file():
    trace = PyTrace.from_vcd(str(corpus_file("github_issues/issue133.vcd")))
    assert trace.signal_names() == ["top.a"] and trace.scopes() == ["top"]
    assert [trace.timestamp(i) for i in range(3)] == [0, 10, 20]
    assert trace.signal_values_range("top.a", 0, 4) == [0, 1, 0]  # the range ends at the last index


def test_surfer_issue145_unterminated_dumpvars():
    # "$dumpvars" never gets its "$end"; the changes after it still count.
    trace = PyTrace.from_vcd(str(corpus_file("surfer/issue_145.vcd")))
    assert trace.signal_names() == ["logic.data"]
    assert [trace.timestamp(i) for i in range(3)] == [0, 1, 2]
    assert trace.signal_values_range("logic.data", 0, 3) == [0, 0, 0]


def test_myhdl_values_before_first_timestamp_are_time_0():
    # MyHDL writes its $dumpvars block before "#5", the first timestamp.
    trace = PyTrace.from_vcd(str(corpus_file("my-hdl/Simple_Memory.vcd")))
    assert (trace.timestamp(0), trace.timestamp(1)) == (0, 5)
    assert trace.signal_value("Simple_Memory.clk", 1) == 0
    assert trace.signal_value("Simple_Memory.dout", 1) == 0
    assert trace.signal_value("Simple_Memory.en", 1) == 1  # "1%" under #5
    assert trace.signal_values_range("Simple_Memory.clk", 1, 5) == [0, 1, 0, 1]
    assert trace.signal_value("Simple_Memory.addr", 3) == 0b01111


def test_ghdl_128_bit_key_reads_as_full_int():
    trace = PyTrace.from_vcd(str(corpus_file("ghdl/idea.vcd")))
    assert trace.signal_width("tb_idea.key") == 128
    key = 0x8032746083787A34EFDFBEDFAF0793A8
    # "bUUU..." is VHDL's uninitialised: four-state, None as an int.
    assert trace.signal_values_range("tb_idea.key", 0, 6) == [
        None, 0x00010002000300040005000600070008, 0, key, key, key,
    ]
    assert trace.signal_bits("tb_idea.key", 0) == "u" * 128
    assert trace.signal_value_raw("tb_idea.key", 3) == key & (2**64 - 1)
