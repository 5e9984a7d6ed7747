"""Every corpus VCD and FST against pywellen, an independent reader: for
every variable pywellen lists, our change list must equal its own."""

import pytest
from change_lists import CORPUS, changes, corpus_files, corpus_id, quarn_changes, timestamps

from quarn import PyTrace

pywellen = pytest.importorskip("pywellen", reason="test-only peer; scripts/setup.sh installs it")

FILES = corpus_files(".vcd", ".fst")

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
}


def wellen_value(var, value):
    if isinstance(value, str) and not var.is_string:
        return ("bits", value.lower())
    return value


def wellen_changes(var) -> list:
    if var.var_type == "Event":  # pywellen gives each trigger, with no value
        return [t for t, _ in var.tv]
    return changes((time, wellen_value(var, value)) for time, value in var.tv)


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
        if ours != theirs:
            differ.append((name, ours[:4], theirs[:4]))
    if differ:
        return "values", differ[:5]
    if unnamed:
        return "names", unnamed[:5]
    return "", []


@pytest.mark.skipif(not FILES, reason=f"no corpus at {CORPUS}")
@pytest.mark.parametrize("path", FILES, ids=corpus_id)
def test_agrees_with_pywellen(path):
    kind, examples = differences(path)
    expected = EXEMPT.get(corpus_id(path), ("", ""))[0]
    assert kind == expected, examples
