"""Every corpus VCD with an FST twin (converted from it) reads the same
through both readers: names, times and every signal's changes."""

import math

import pytest
from change_lists import CORPUS, corpus_files, corpus_id, quarn_changes, timestamps

from quarn import PyTrace

TWINS = [p for p in corpus_files(".vcd") if p.with_name(p.name + ".fst").is_file()]

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


@pytest.mark.skipif(not TWINS, reason=f"no corpus at {CORPUS}")
@pytest.mark.parametrize("vcd", TWINS, ids=corpus_id)
def test_twins_agree(vcd):
    from_vcd = PyTrace.from_vcd(str(vcd))
    from_fst = PyTrace.from_fst(str(vcd) + ".fst")
    rewrite = FST_NAME_REWRITES.get(corpus_id(vcd), lambda n: n)
    fst_names = {rewrite(n): n for n in from_fst.signal_names()}
    assert from_vcd.signal_names() == list(fst_names)
    times = timestamps(from_vcd)
    assert times == timestamps(from_fst)
    loss = CONVERTER_LOSSES.get(corpus_id(vcd))
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
    assert excused or not loss, "the rule has nothing left to excuse"
