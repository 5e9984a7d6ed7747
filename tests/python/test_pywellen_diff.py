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
}


# Differences not yet resolved, with what is known of each; they run as
# expected failures (not strict: some may already agree) and are listed here
# so the next change to a reader can tick them off.
OPEN = {
    "amaranth/array-names_wellen_issue_36.vcd": "pywellen names array elements `o.[0]`, we keep `\\o[0]`",
    "github_issues/issue28.vcd": "zero-width variables: pywellen 0, we read nothing",
    "github_issues/issue42.vcd": "array elements named `delays.[0]` by pywellen",
    "model-sim/CPU_Design.msim.vcd": "Quartus gate-level names with a range inside",
    "nvc/manytypes2.fst": "array elements named `array_signal.[0]` by pywellen",
    "nvc/manytypes2.vcd": "array elements named `array_signal.[0]` by pywellen",
    "nvc/overlay_tb_issue_21.fst": "null ranges `[-1:0]` are names to pywellen",
    "nvc/shortstring.fst": "a string's `[1:50]` is a name to pywellen",
    "nvc/shortstring.vcd": "a string's `[1:50]` is a name to pywellen",
    "nvc/xwb_fofb_shaper_filt_tb_arrays.fst": "array elements named `sp_arr.[0]` by pywellen",
    "nvc/xwb_fofb_shaper_filt_tb_arrays.fst.vcd": "array elements named `sp_arr.[0]` by pywellen",
    "verilator/verilator-pull-7255-t_trace_complex_structs_cc_fst.fst": "pywellen renames unpacked array elements",
}


def wellen_value(var, value):
    if isinstance(value, str) and not var.is_string:
        return ("bits", value.lower())
    return value


def wellen_changes(var) -> list:
    if var.var_type == "Event":  # pywellen gives each trigger, with no value
        return [t for t, _ in var.tv]
    # One value per time step is our model (an index is a time step): of
    # several changes at one time (zero-width glitches) the last holds.
    last = {}
    for time, value in var.tv:
        last[time] = wellen_value(var, value)
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
            ours = quarn_changes(trace, name, times)
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
