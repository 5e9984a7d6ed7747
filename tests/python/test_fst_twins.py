"""Every corpus VCD with an FST twin (converted from it) reads the same
through both readers: names, times and every signal's changes."""

import pytest
from change_lists import CORPUS, corpus_files, corpus_id, quarn_changes

from quarn import PyTrace

TWINS = [p for p in corpus_files(".vcd") if p.with_name(p.name + ".fst").is_file()]

# Signals whose twin cannot agree, each with why.
DIFFERENT_SIGNALS = {
    # MyHDL dumps its enum-typed `state` as text ("scount", "sresult") on a
    # variable declared `real`; the converter could not parse the text as a
    # number and wrote NaN in its place, so the FST holds NaN where the VCD
    # holds the state's name.
    "my-hdl/sigmoid_tb.vcd": {
        "sigmoid_tb.sigmoid.state",
        "sigmoid_tb.sigmoid.exponential0.state",
        "sigmoid_tb.sigmoid.exponential0.power0.state",
        "sigmoid_tb.sigmoid.exponential0.factorial0.state",
    },
}


@pytest.mark.skipif(not TWINS, reason=f"no corpus at {CORPUS}")
@pytest.mark.parametrize("vcd", TWINS, ids=corpus_id)
def test_twins_agree(vcd):
    from_vcd = PyTrace.from_vcd(str(vcd))
    from_fst = PyTrace.from_fst(str(vcd) + ".fst")
    assert from_vcd.signal_names() == from_fst.signal_names()
    count = from_vcd.max_index() + 1
    assert [from_vcd.timestamp(i) for i in range(count)] == [from_fst.timestamp(i) for i in range(from_fst.max_index() + 1)]
    exempt = DIFFERENT_SIGNALS.get(corpus_id(vcd), set())
    differ = {n for n in from_vcd.signal_names() if quarn_changes(from_vcd, n) != quarn_changes(from_fst, n)}
    assert differ == exempt
