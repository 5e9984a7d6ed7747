"""Clock cycles: sampling before/after the edge, temporal functions, and
sequences/properties against the plain model of cycle_reference.py."""

import random
import re

import numpy as np
import pytest

from cycle_reference import Model, prop_text, seq_text
from quarn import PyTrace

NAMES = ["a", "b", "c", "d"]


def cycle_vcd(values: dict[str, list[int]], widths: dict[str, int] | None = None) -> str:
    """Signals that hold values[name][k] at posedge k: rising edges at 10k+10,
    values set at 0 and at the falling edges 10k+5, so none changes at an edge."""
    widths = widths or {}
    n = len(next(iter(values.values())))
    codes = {name: chr(34 + i) for i, name in enumerate(values)}
    out = ["$timescale 1ns $end", "$scope module top $end", "$var wire 1 ! clk $end"]
    out += [f"$var wire {widths.get(k, 1)} {codes[k]} {k} $end" for k in values]
    out += ["$upscope $end", "$enddefinitions $end"]

    def put(k):
        for name, col in values.items():
            out.append(f"b{col[k]:b} {codes[name]}" if widths.get(name, 1) > 1 else f"{col[k]}{codes[name]}")

    out += ["#0", "0!"]
    put(0)
    for k in range(n):
        out += [f"#{10 * k + 5}", "0!"]
        if k > 0:
            put(k)
        out += [f"#{10 * k + 10}", "1!"]
    return "\n".join(out) + "\n"


def cycles_of(values, **kw):
    return PyTrace.from_vcd_string(cycle_vcd(values, kw.pop("widths", None))).cycles("top.clk", **kw)


def test_value_written_at_the_edge_is_seen_only_when_sampling_after():
    # q changes in the same time step as each rising edge (the sampling rule
    # itself: CycleTrace in tests/core/cycle_test.cpp).
    trace = PyTrace.from_vcd_string("$var wire 1 ! clk $end\n$var wire 1 # q $end\n"
                                    "#0\n0!\n0#\n#10\n1!\n1#\n#15\n0!\n#20\n1!\n0#\n")
    assert trace.cycles("clk").values("q").tolist() == [0, 1]
    assert trace.cycles("clk", sample="after").values("q").tolist() == [1, 0]


def test_edges_windows_and_times():
    c = cycles_of({"a": [0, 1, 0, 1, 1, 0]})
    assert len(c) == 6
    assert c.times().tolist() == [10, 20, 30, 40, 50, 60]
    assert len(PyTrace.from_vcd_string(cycle_vcd({"a": [0] * 6})).cycles("top.clk", edge="both")) == 12
    trace = PyTrace.from_vcd_string(cycle_vcd({"a": [0] * 6}))
    assert trace.cycles("top.clk", start=20, end=40).times().tolist() == [20, 30, 40]
    assert trace.cycles("top.clk", start="0.02us", end="45ns").times().tolist() == [20, 30, 40]
    with pytest.raises(KeyError):
        PyTrace.from_vcd_string(cycle_vcd({"a": [0]})).cycles("top.nope")


@pytest.mark.parametrize(
    ("expr", "expected"),
    [
        ("$rose(top.a)", lambda a, v: [int(a[k] == 1 and (k == 0 or a[k - 1] != 1)) for k in range(len(a))]),
        ("$fell(top.a)", lambda a, v: [int(a[k] == 0 and (k == 0 or a[k - 1] != 0)) for k in range(len(a))]),
        ("$stable(top.v)", lambda a, v: [int(k > 0 and v[k] == v[k - 1]) for k in range(len(v))]),
        ("changed(top.v)", lambda a, v: [int(not (k > 0 and v[k] == v[k - 1])) for k in range(len(v))]),
        ("$past(top.v, 2) == 3", lambda a, v: [int(k >= 2 and v[k - 2] == 3) for k in range(len(v))]),
        ("$countones(top.v)", lambda a, v: [bin(x).count("1") for x in v]),
        ("$onehot(top.v)", lambda a, v: [int(bin(x).count("1") == 1) for x in v]),
        ("$onehot0(top.v)", lambda a, v: [int(bin(x).count("1") <= 1) for x in v]),
        ("$isunknown(top.v) || top.v[1:0] == 2'b11", lambda a, v: [int(x & 3 == 3) for x in v]),
    ],
)
def test_temporal_functions(expr, expected):
    rng = random.Random(7)
    a = [rng.randint(0, 1) for _ in range(40)]
    v = [rng.randint(0, 7) for _ in range(40)]
    c = cycles_of({"a": a, "v": v}, widths={"v": 3})
    want = expected(a, v)
    assert c.eval(expr).tolist() == want
    assert c.find(expr).tolist() == [k for k, x in enumerate(want) if x]
    assert c.count(expr) == sum(1 for x in want if x)


def random_seq(rng, depth, in_first_match=False):
    leaf = ("leaf", rng.choice(NAMES[:3]), rng.random() < 0.8)
    if depth == 0 or rng.random() < 0.3:
        return leaf
    kind = rng.choice(["cat", "cat", "rep", "goto", "and", "or", "isect", "thru", "fm"])
    sub = lambda: random_seq(rng, depth - 1, in_first_match or kind == "fm")  # noqa: E731
    lo = rng.randint(0, 2)
    hi = None if rng.random() < 0.2 else lo + rng.randint(0, 2)
    if kind == "cat":
        return ("cat", None if rng.random() < 0.2 else sub(), lo, hi, sub())
    if kind == "rep":
        return ("rep", sub(), max(lo, 1), hi if hi is None else max(hi, 1))
    if kind == "goto":
        # Goto's waiting literal could contradict a sibling inside first_match's
        # determinised automaton, where the model keeps wildcards apart.
        if in_first_match:
            return leaf
        return ("goto", rng.choice(NAMES[:3]), max(lo, 1), max(lo, 1) + rng.randint(0, 1))
    if kind == "thru":
        return ("thru", rng.choice(NAMES[:3]), sub())
    if kind == "fm":
        return ("fm", sub())
    return (kind, sub(), sub())


def random_prop(rng):
    p = rng.choice(["seq", "imp", "imp", "not"])
    if p == "seq":
        prop = ("seq", random_seq(rng, 2))
    elif p == "not":
        prop = ("not", ("seq", random_seq(rng, 2)))
    else:
        cons = ("seq", random_seq(rng, 2))
        if rng.random() < 0.2:
            cons = ("not", cons)
        prop = ("imp", random_seq(rng, 2), rng.random() < 0.5, cons)
    return ("dis", "d", prop) if rng.random() < 0.2 else prop


@pytest.mark.parametrize("seed", range(300))
def test_check_and_matches_agree_with_model(seed):
    rng = random.Random(seed)
    n = rng.randint(4, 12)
    values = {k: [int(rng.random() < (0.15 if k == "d" else 0.5)) for _ in range(n)] for k in NAMES}
    c = cycles_of(values)
    model = Model(values, n)
    prop = random_prop(rng)
    text = scoped(prop_text(prop))
    verdicts = [model.verdict(prop, s) for s in range(n)]
    for parallel in (False, True):
        r = c.check(text, parallel=parallel)
        counts = {o: sum(1 for v, _ in verdicts if v == o) for o in ("passed", "failed", "vacuous", "pending", "disabled")}
        assert {k: v for k, v in r.counts().items() if k != "attempts"} == counts, text
        assert r.attempts == n
        fails = [(s, cyc) for s, (o, cyc) in enumerate(verdicts) if o == "failed"]
        assert list(zip(r.failure_start.tolist(), r.failure_cycle.tolist())) == fails, text
    seq = random_seq(rng, 3)
    seq_src = scoped(seq_text(seq))
    start, end = c.matches(seq_src)
    want = [(s, model.first_match(seq, s)) for s in range(n) if model.first_match(seq, s) is not None]
    assert list(zip(start.tolist(), end.tolist())) == want, seq_src


def scoped(text):
    """Puts the one-letter signal names of the models under top."""
    return re.sub(r"\b([abcd])\b", r"top.\1", text)


# Chunked checks against sequential ones: SeqRun in tests/core/cycle_test.cpp.
def test_chunked_parallel_matches_equal_sequential():
    rng = random.Random(3)
    n = 150_000  # several chunks of starts, attempts running past their chunk
    req = [int(rng.random() < 0.1) for _ in range(n)]
    ack = [int(rng.random() < 0.2) for _ in range(n)]
    c = cycles_of({"req": req, "ack": ack})
    s1, e1 = c.matches("$rose(top.req) ##[1:$] $rose(top.ack)", parallel=False)
    s2, e2 = c.matches("$rose(top.req) ##[1:$] $rose(top.ack)", parallel=True)
    assert np.array_equal(s1, s2) and np.array_equal(e1, e2) and len(s1) > 1000


# Examples in the manner of IEEE 1800 section 16, each checked against the
# match ends the text gives (start cycle -> earliest end).
@pytest.mark.parametrize(
    ("seq", "a", "b", "c", "expected"),
    [
        # 16.7: a ##1 b ##1 c matches when b follows a and c follows b.
        ("a ##1 b ##1 c", "1100", "0110", "0011", {0: 2, 1: 3}),
        # ##[1:3]: b one to three cycles after a.
        ("a ##[1:3] b", "10000", "00010", "00000", {0: 3}),
        # 16.9.2: a ##1 b[*2] ##1 c needs two consecutive b.
        ("a ##1 b[*2] ##1 c", "100000", "011000", "000100", {0: 3}),
        # goto: the second b after a, then c at once.
        ("a ##1 b[->2] ##1 c", "1000000", "0101000", "0000100", {0: 4}),
        # 16.9.8 intersect: both end together; here lengths differ by one cycle.
        ("(a ##[1:2] b) intersect (c[*3])", "1000", "0011", "1110", {0: 2}),
        # 16.9.9 throughout: c must hold from start to end.
        ("c throughout (a ##2 b)", "1100", "0011", "1110", {0: 2}),
        # and: ends at the later end.
        ("(a ##1 b) and (c)", "1000", "0100", "1000", {0: 1}),
        # ##0 fuses: a and b in the same cycle.
        ("a ##0 b", "0110", "0101", "0000", {1: 1}),
    ],
)
def test_standard_examples(seq, a, b, c, expected):
    values = {k: [int(ch) for ch in v] for k, v in (("a", a), ("b", b), ("c", c))}
    cyc = cycles_of(values)
    src = scoped(seq)
    start, end = cyc.matches(src)
    assert dict(zip(start.tolist(), end.tolist())) == expected


@pytest.mark.parametrize(
    ("text", "message"),
    [
        ("top.a ##", "expected a number but found '' at column 9"),
        ("top.a[*0]", "a repetition count of 0 is not supported at column 8"),
        ("top.a |-> ##[3:1] top.b", "range ends before it starts at column 16"),
        ("top.a |-> disable iff (top.b) top.a", "disable iff must come first in a property"),
        ("(top.a ##1 top.b", "expected ')' at the end at column 17"),
        ("top.nope |-> top.a", "unknown signal 'top.nope' at column 1"),
    ],
)
def test_property_errors(text, message):
    c = cycles_of({"a": [0, 1], "b": [1, 0]})
    with pytest.raises(ValueError) as e:
        c.check(text)
    assert str(e.value) == message


def test_to_pandas_rows_per_cycle():
    pd = pytest.importorskip("pandas")
    c = cycles_of({"a": [0, 1, 1], "v": [3, 0, 2]}, widths={"v": 2})
    df = c.to_pandas(["top.a", "top.v"])
    assert list(df.columns) == ["time", "top.a", "top.v"]
    assert df["time"].tolist() == [10, 20, 30] and df["top.v"].tolist() == [3, 0, 2]
    assert isinstance(df, pd.DataFrame)


VARIANTS = ["{}", "{} == 1", "{} != 0", "!!{}", "{} > 0", "{} >= 1", "({} & 1)", "({} | 0)", "{} + 0"]


@pytest.mark.parametrize("seed", range(40))
def test_many_distinct_conditions_give_the_same_verdicts(seed):
    # Over 8 distinct conditions the automaton keys its table by the whole
    # letter instead of indexing it; spelling one signal nine ways must not
    # change a single verdict.
    rng = random.Random(1000 + seed)
    n = 40
    values = {k: [int(rng.random() < 0.5) for _ in range(n)] for k in NAMES}
    c = cycles_of(values)
    seqs = [random_seq(rng, 2) for _ in range(4)]
    plain = scoped(prop_text(("imp", ("or", ("or", seqs[0], seqs[1]), seqs[2]), rng.random() < 0.5, ("seq", seqs[3]))))
    turn = iter(range(10**6))
    spelled = re.sub(r"top\.[abc]\b", lambda m: VARIANTS[next(turn) % len(VARIANTS)].format(m.group(0)), plain)
    a, b = c.check(plain), c.check(spelled)
    assert a.counts() == b.counts(), spelled
    assert a.failure_cycle.tolist() == b.failure_cycle.tolist()
