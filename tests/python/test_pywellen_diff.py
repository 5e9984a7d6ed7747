"""Every corpus VCD and FST against pywellen, an independent reader: for
every variable pywellen lists, our change list must equal its own."""

import pytest
from change_lists import CORPUS, changes, corpus_files, corpus_id, quarn_changes, same_changes, timestamps

from quarn import PyTrace

pywellen = pytest.importorskip("pywellen", reason="test-only peer; scripts/setup.sh installs it")

# 420,355 variables: pywellen alone takes minutes on it (test_fst loads it).
FILES = [p for p in corpus_files(".vcd", ".fst") if p.name != "tb_sys_clm_lram_m_wellen_issue_77.fst"]

# Files where the two readers legitimately disagree, with what may differ:
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


# Differences not yet resolved, with what is known of each; they run as
# expected failures (not strict: some may already agree) and are listed here
# so the next change to a reader can tick them off.
OPEN: dict[str, str] = {}


def wellen_value(var, value):
    if isinstance(value, str) and not var.is_string:
        return ("bits", value.lower())
    return value


def wellen_changes(var) -> list:
    if var.var_type == "Event":  # pywellen gives each trigger, with no value
        return [t for t, _ in var.tv]
    return settled((time, wellen_value(var, value)) for time, value in var.tv)


def settled(pairs) -> list:
    """Changes of the value each time settles at: pywellen keeps one value
    per time, we keep one per `#` line, and a file may repeat a time."""
    last = {}
    for time, value in pairs:
        last[time] = value
    return changes(last.items())


def event_triggers(trace, name: str, times: list[int]) -> list[int]:
    """Times of an event's triggers: each is a transition of its own."""
    first = [0] if trace.signal_value(name, 0) is not None else []
    return [times[i] for i in first + [t[0] for t in trace.transitions(name)]]


def differences(path) -> tuple[str, list]:
    """The first kind of difference met ("" when none) and examples of it."""
    try:  # pywellen reads values on first use, so its loads may fail late
        wave = pywellen.Waveform(str(path), multi_threaded=False)
        theirs_by_name = {var.full_name: (var.var_type, wellen_changes(var)) for var in wave.all_vars()}
    except BaseException as e:  # a Rust panic is a BaseException
        if isinstance(e, KeyboardInterrupt):
            raise
        return "load", [repr(e)[:200]]
    trace = PyTrace.from_fst(str(path)) if path.suffix == ".fst" else PyTrace.from_vcd(str(path))
    unnamed, differ, times = [], [], timestamps(trace)
    for name, (var_type, theirs) in theirs_by_name.items():
        if trace.signal_id(name) is None:
            unnamed.append(name)
            continue
        if var_type == "Event":
            ours = event_triggers(trace, name, times)
        else:
            ours = settled(quarn_changes(trace, name, times))
        if not (ours == theirs if var_type == "Event" else same_changes(ours, theirs)):
            differ.append((name, ours[:4], theirs[:4]))
    if differ:
        return "values", differ[:5]
    if unnamed:
        return "names", unnamed[:5]
    return "", []


@pytest.mark.skipif(not FILES, reason=f"no corpus at {CORPUS}")
@pytest.mark.parametrize("path", FILES, ids=corpus_id)
def test_agrees_with_pywellen(path, request):
    if corpus_id(path) in OPEN:
        request.applymarker(pytest.mark.xfail(reason=OPEN[corpus_id(path)]))
    kind, examples = differences(path)
    expected = EXEMPT.get(corpus_id(path), ("", ""))[0]
    assert kind == expected, examples
