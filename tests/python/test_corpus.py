"""Every corpus VCD and FST in one pass, each file read once: its format
comes from its content, a VCD's times and values are plausible, every
variable's change list equals pywellen's (an independent reader), and a VCD
and its FST twin (converted from it) read the same."""

import math
import re
import shutil
from pathlib import Path

import pytest

import quarn

from conftest import corpus_dir

try:
    import pywellen
except ImportError:  # a test-only peer; scripts/setup.sh installs it
    pywellen = None

CORPUS = corpus_dir()
# 420,355 variables: pywellen alone takes minutes on it (test_fst loads it).
HUGE = "tb_sys_clm_lram_m_wellen_issue_77.fst"
TRACES = sorted(p for p in CORPUS.rglob("*") if p.suffix in (".vcd", ".fst") and p.name != HUGE)


def twin(path: Path) -> Path | None:
    fst = path.with_name(path.name + ".fst")
    return fst if path.suffix == ".vcd" and fst.is_file() else None


# A twin is read with its VCD; every other file on its own.
UNITS = [(p, twin(p)) for p in TRACES if not (p.suffix == ".fst" and p.with_suffix("") in TRACES)]

# Files where pywellen and we legitimately disagree, with what may differ:
#   "load":   pywellen cannot read the file at all;
#   "names":  some variables are named differently, so only the variables
#             found under both names are compared;
#   "values": named signals differ in value.
# Each entry says why; a listed file that no longer differs fails the test,
# so the list cannot outlive its reason.
EXEMPT: dict[str, tuple[str, str]] = {
    # MyHDL declares its enum state `real` and dumps it as text ("scount");
    # pywellen's VCD reader panics ("expected a real, not scount").
    "my-hdl/sigmoid_tb.vcd": ("load", "text values on a real variable"),
    # A value with a space between it and its id (`1 $`): pywellen refuses
    # the file, we read the rest and warn.
    "github_issues/issue18.vcd": ("load", "space inside a scalar change"),
    # An unknown command `$crash` in the header: pywellen refuses the file,
    # we skip to its $end and warn.
    "github_issues/issue40.vcd": ("load", "unknown header command"),
    # nvc writes a string's character range after its name (`s [1:10]`);
    # pywellen names the variable `s.[1:10]`, as if it were an array element.
    # We take the range off as for any vector: the variable is `s`.
    "nvc/manytypes2.fst": ("names", "string character ranges"),
    "nvc/manytypes2.vcd": ("names", "string character ranges"),
    "nvc/shortstring.fst": ("names", "string character ranges"),
    "nvc/shortstring.vcd": ("names", "string character ranges"),
    # VHDL null ranges (`tid [-1:0]`, `tuser [0:-1]`) and nonsense bounds:
    # pywellen turns each into an element name `tid.[-1:0]`; we take the
    # range off as for any vector.
    "nvc/overlay_tb_issue_21.fst": ("names", "null ranges"),
    # Verilator declares an unpacked array of bits as a scope `v_arru` of
    # one-bit variables `v_arru[2]`, `v_arru[1]`; like any bit-blasted bus we
    # join them into `v_arru.v_arru`, pywellen renames each to `v_arru.[2]`.
    "verilator/verilator-pull-7255-t_trace_complex_structs_cc_fst.fst": ("names", "array elements renamed"),
    # Zero-width variables (`$var wire 0 H read_idx $end`, written `b H`)
    # hold no bits: we skip them with a warning, pywellen lists them as 0.
    "github_issues/issue28.vcd": ("names", "zero-width variables"),
}


def _text_became_nan(vcd_changes, fst_changes) -> bool:
    return all(isinstance(v, str) for _, v in vcd_changes) and all(
        isinstance(v, float) and math.isnan(v) for _, v in fst_changes
    )


def _dumpall_dropped(vcd_changes, fst_changes) -> bool:
    return not fst_changes and [t for t, _ in vcd_changes] == [0]


# Twins whose converter lost what the VCD says: file -> the rule that tells
# the loss from a reader fault, signal by signal.
CONVERTER_LOSSES = {
    # MyHDL dumps its enum-typed `state` as text ("scount", "sresult") on a
    # variable declared `real`; the converter cannot parse the text as a
    # number and writes NaN in its place.
    "my-hdl/sigmoid_tb.vcd": _text_became_nan,
    # The parameters' values are only in the `$dumpall` section before #0,
    # which the converter skips: the FST holds no value for them at all.
    "surfer/picorv32.vcd": _dumpall_dropped,
}

# Verilator opens a scope with no name (`$scope module  $end`), which the VCD
# reader leaves out of the path; the converter took the `$end` and the line
# break after it for the name.
FST_NAME_REWRITES = {"surfer/verilator_empty_scope.vcd": lambda n: n.removeprefix("$end\n.")}


def corpus_id(path: Path) -> str:
    return str(path.relative_to(CORPUS))


# Change lists: [(time, value), ...], each entry differing from the one
# before; a value is an int (two-state bits), a float, a str (text), or
# ("bits", "01xz...") for a vector holding other states than 0 and 1.


def same(a, b) -> bool:
    """Equality in which NaN equals NaN: a NaN held on is no change."""
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    return type(a) is type(b) and a == b


def same_changes(a: list, b: list) -> bool:
    return len(a) == len(b) and all(ta == tb and same(va, vb) for (ta, va), (tb, vb) in zip(a, b))


def changes(pairs) -> list:
    """`pairs` of (time, value) with repeats of the previous value dropped and
    a leading None (nothing known yet) left out."""
    out = []
    for time, value in pairs:
        if out and same(out[-1][1], value):
            continue
        if not out and value is None:
            continue
        out.append((time, value))
    return out


def quarn_value(trace, name: str, index: int, value):
    if value is not None:
        return value
    bits = trace.signal_bits(name, index)
    return None if bits is None else ("bits", bits.lower())


def timestamps(trace) -> list[int]:
    return [trace.timestamp(i) for i in range(trace.max_index() + 1)]


def quarn_changes(trace, name: str, times: list[int]) -> list:
    """Changes of `name`, read from the value at index 0 and the transitions,
    so a long trace costs its changes, not its steps."""
    if not times:
        return []
    pairs = [(times[0], quarn_value(trace, name, 0, trace.signal_value(name, 0)))]
    pairs += [(times[i], quarn_value(trace, name, i, new)) for i, _, new in trace.transitions(name)]
    return changes(pairs)


def settled(pairs) -> list:
    """Changes of the value each time settles at: pywellen keeps one value
    per time, we keep one per `#` line, and a file may repeat a time."""
    last = {}
    for time, value in pairs:
        last[time] = value
    return changes(last.items())


def wellen_changes(var) -> list:
    if var.var_type == "Event":  # pywellen gives each trigger, with no value
        return [t for t, _ in var.tv]
    return settled((t, ("bits", v.lower()) if isinstance(v, str) and not var.is_string else v) for t, v in var.tv)


def event_triggers(trace, name: str, times: list[int]) -> list[int]:
    """Times of an event's triggers: each is a transition of its own."""
    first = [0] if trace.signal_value(name, 0) is not None else []
    return [times[i] for i in first + [t[0] for t in trace.transitions(name)]]


def pywellen_differences(path, trace) -> tuple[str, list]:
    """The first kind of difference met ("" when none) and examples of it."""
    try:  # pywellen reads values on first use, so its loads may fail late
        wave = pywellen.Waveform(str(path), multi_threaded=False)
        theirs_by_name = {var.full_name: (var.var_type, wellen_changes(var)) for var in wave.all_vars()}
    except BaseException as e:  # a Rust panic is a BaseException
        if isinstance(e, KeyboardInterrupt):
            raise
        return "load", [repr(e)[:200]]
    unnamed, differ, times = [], [], timestamps(trace)
    for name, (var_type, theirs) in theirs_by_name.items():
        if trace.signal_id(name) is None:
            unnamed.append(name)
        elif var_type == "Event":
            if event_triggers(trace, name, times) != theirs:
                differ.append((name, theirs[:4]))
        elif not same_changes(ours := settled(quarn_changes(trace, name, times)), theirs):
            differ.append((name, ours[:4], theirs[:4]))
    if differ:
        return "values", differ[:5]
    return ("names", unnamed[:5]) if unnamed else ("", [])


TIME = re.compile(rb"^[ \t]*#(\d+)(?=\s|$)", re.M)  # at a line's start: "#0" may be an id code elsewhere


def assert_plausible_vcd(path: Path, trace) -> None:
    """Names unique, one index per readable time, integers within their width."""
    data = path.read_bytes()
    names, scopes = trace.signal_names(), trace.scopes()
    assert len(set(names)) == len(names) and len(set(scopes)) == len(scopes)
    assert bool(names) == any(line.lstrip().startswith(b"$var") for line in data.splitlines())
    kept: list[int] = []  # the file's readable times (comments aside) that do not go back
    for match in TIME.finditer(re.sub(rb"\$comment.*?\$end", b"", data, flags=re.S)):
        time = int(match.group(1))
        if time < 2**64 and (not kept or time >= kept[-1]):
            kept.append(time)
    last = trace.max_index()
    times = timestamps(trace)
    # One index per time, and index 0 at time 0 for values written before a later first time.
    assert times[-len(kept):] == kept if kept else last == 0
    assert len(times) - len(kept) in (0, 1) and (len(times) == len(kept) or times[0] == 0)
    assert trace.timestamp(last + 1) == 0
    events = set(re.findall(rb"\$var\s+event\s+\S+\s+\S+\s+(\S+)", data))  # trigger counts, not bits
    for name in names:
        width = trace.signal_width(name)
        assert isinstance(trace.signal_id(name), int)
        for index in (0, last):
            value = trace.signal_value(name, index)
            assert value is None or isinstance(value, (int, float, str))
            if isinstance(value, int) and width > 0 and name.rsplit(".", 1)[-1].encode() not in events:
                assert 0 <= value < 2**width, (name, index, value)


def assert_twins_agree(from_vcd, from_fst, key: str = "") -> None:
    """The same names, times and changes; `key` names the corpus file, for
    its converter's known losses."""
    rewrite = FST_NAME_REWRITES.get(key, lambda n: n)
    fst_names = {rewrite(n): n for n in from_fst.signal_names()}
    assert from_vcd.signal_names() == list(fst_names)
    times = timestamps(from_vcd)
    assert times == timestamps(from_fst)
    loss = CONVERTER_LOSSES.get(key)
    differ, excused = [], 0
    for name in from_vcd.signal_names():
        ours, theirs = quarn_changes(from_vcd, name, times), quarn_changes(from_fst, fst_names[name], times)
        if ours == theirs:
            continue
        if loss and loss(ours, theirs):
            excused += 1
        else:
            differ.append((name, ours[:3], theirs[:3]))
    assert not differ
    assert excused or not loss, "the twin rule has nothing left to excuse"


def open_hidden(path: Path, hidden: Path):
    """Loads `path` through quarn.open under a name without its extension,
    so that only the content can tell the format; eagerly, as the readers do."""
    shutil.copyfile(path, hidden)
    side = Path(f"{path}.hier")  # an interrupted FST's hierarchy goes by the file's name
    if side.exists():
        shutil.copyfile(side, f"{hidden}.hier")
    assert quarn.detect_format(hidden)[0] == path.suffix[1:]
    return quarn.open(hidden, lazy=False)


@pytest.mark.skipif(not UNITS, reason=f"no corpus at {CORPUS}")
@pytest.mark.parametrize(("path", "fst_twin"), UNITS, ids=[corpus_id(p) for p, _ in UNITS])
def test_corpus_file(path, fst_twin, tmp_path):
    traces = []
    for k, file in enumerate([path] + ([fst_twin] if fst_twin else [])):
        trace = open_hidden(file, tmp_path / f"trace{k}.bin")
        if file.suffix == ".vcd":
            assert_plausible_vcd(file, trace)
        if pywellen is not None:
            kind, examples = pywellen_differences(file, trace)
            assert kind == EXEMPT.get(corpus_id(file), ("", ""))[0], (corpus_id(file), examples)
        traces.append(trace)
    if fst_twin:
        assert_twins_agree(*traces, key=corpus_id(path))
