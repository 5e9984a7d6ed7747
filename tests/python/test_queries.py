"""PyTrace expression queries, as trees and as text: results, and agreement with a
small Python model of the value rules on random traces and trees."""

import random

import pytest

from quarn import PyExpr, PyTrace

# clk toggles, bus counts (with an X at #20), en starts late; 5 indices.
VCD = """$scope module top $end
$var wire 1 ! clk $end
$var wire 4 # bus $end
$var wire 1 $ en $end
$upscope $end
#0
1!
b0000 #
#10
0!
b0001 #
#20
1!
b1x10 #
1$
#30
0!
b0011 #
#40
1!
b0100 #
"""


@pytest.fixture(scope="module")
def trace():
    return PyTrace.from_vcd_string(VCD)


def sig(trace, name):
    return PyExpr.signal(trace.signal_id(name))


def one():
    return PyExpr.const_int(1)


# Each tree, and its spelling in the expression language where it has one
# (a text answers exactly as its tree, on every method that takes either).
@pytest.mark.parametrize(
    ("build", "text", "expected"),
    [
        (lambda t: PyExpr.always_true(), None, [0, 1, 2, 3, 4]),
        (lambda t: sig(t, "top.clk").eq_(one()), "top.clk == 1", [0, 2, 4]),
        (lambda t: sig(t, "top.en"), "top.en", [2, 3, 4]),
        (lambda t: sig(t, "top.bus").is_x(), "isx(top.bus)", [2]),
        (lambda t: sig(t, "top.en").and_(sig(t, "top.bus").gt_(PyExpr.const_int(2))), "top.en && top.bus > 2", [3, 4]),
        (lambda t: sig(t, "top.bus").eq_(PyExpr.const_int(4)), "top.bus == 4", [4]),  # the upper end is inclusive
        (lambda t: sig(t, "top.clk").rel_eval(-1).and_(sig(t, "top.clk").not_()), "prev(top.clk) && !top.clk", [1, 3]),
        (lambda t: sig(t, "top.bus").slice(2, 1).eq_(PyExpr.const_int(2)), "top.bus[2:1] == 0b10", [4]),
        (lambda t: sig(t, "top.bus").is_x().or_(sig(t, "top.en").rel_eval(1)), "isx(top.bus) || next(top.en)",
         [1, 2, 3]),
        (lambda t: PyExpr.signal(999).not_(), None, [0, 1, 2, 3, 4]),
        (lambda t: PyExpr.signal(999), None, []),
        (lambda t: sig(t, "top.clk").and_(sig(t, "top.clk").not_()), "top.clk && !top.clk", []),
    ],
)
def test_searches_agree(trace, build, text, expected):
    tree = build(trace)
    for e in [tree] + ([text] if text else []):
        assert trace.find(e) == expected
        assert trace.parallel_find(e) == expected
        assert trace.find_array(e).tolist() == expected
        assert trace.parallel_count(e) == len(expected)
        assert trace.find_with_values(e, ["top.bus"]) == [(i, [trace.signal_value("top.bus", i)]) for i in expected]
        assert [trace.eval_expr(e, i) for i in range(5)] == [trace.eval_expr(tree, i) for i in range(5)]


@pytest.mark.parametrize(
    ("text", "message"),
    [
        ("top.clk && top.nope", "unknown signal 'top.nope' at column 12"),
        ("top.bus[3:", "bad bit index '' at column 11"),
        ("(top.clk", "expected ')' at the end at column 9"),
    ],
)
def test_parse_errors(trace, text, message):
    for method in (trace.find, trace.parallel_find, trace.parallel_count):
        with pytest.raises(ValueError) as e:
            method(text)
        assert str(e.value) == message


def test_trace_without_timestamps_tests_index_zero():
    t = PyTrace.from_vcd_string("$var wire 1 ! a $end\n$enddefinitions $end\n")
    assert t.find(PyExpr.always_true()) == [0]
    assert t.parallel_count(PyExpr.always_true()) == 1
    assert t.find(PyExpr.signal(0)) == []


@pytest.mark.parametrize(
    ("build", "index", "value", "truth"),
    [
        (lambda t: sig(t, "top.bus"), 2, None, True),  # Logic '1x10': no number, but a 1 bit
        (lambda t: sig(t, "top.bus"), 3, 3, True),
        (lambda t: sig(t, "top.bus").eq_(PyExpr.const_int(3)), 3, 1, True),
        (lambda t: sig(t, "top.bus").eq_(PyExpr.const_int(3)), 1, 0, False),
        (lambda t: sig(t, "top.bus").add(one()), 2, None, False),
        (lambda t: sig(t, "top.bus"), 5, None, False),  # beyond max_index
        (lambda t: sig(t, "top.bus"), 2**64 - 1, None, False),
        (lambda t: sig(t, "top.bus").rel_eval(1), 2**64 - 1, None, False),
        (lambda t: PyExpr.const_float(0.5), 0, 0.5, True),
        (lambda t: PyExpr.const_str(""), 0, "", False),
    ],
)
def test_eval_expr(trace, build, index, value, truth):
    e = build(trace)
    got = trace.eval_expr(e, index)
    assert got == value and type(got) is type(value)
    assert trace.eval_expr_bool(e, index) is truth


def test_find_with_values(trace):
    e = sig(trace, "top.clk")
    names = ["top.bus", "no.such", "top.en"]
    expected = [(0, [0, None, None]), (2, [None, None, 1]), (4, [4, None, 1])]
    assert trace.find_with_values(e, names) == expected
    assert trace.find_with_values(e, tuple(names)) == expected
    assert trace.find_with_values(e, []) == [(0, []), (2, []), (4, [])]


# A small model of the value rules over what the binding shows: ints (Bits),
# floats (Real) and None (Empty; these traces hold no four-state values).
MASK = 2**64 - 1


def reading(v):
    if v is None:
        return None
    if isinstance(v, float):
        if v != v or v <= 0:
            return 0
        return MASK if v >= 2.0**64 else int(v)
    return v


def truthy(v):
    return v is not None and v != 0


def model(t, node, i, max_index):
    kind = node[0]
    if kind == "sig":
        return t.signal_value(node[1], i) if node[1] else None
    if kind == "int":
        return node[1]
    if kind == "float":
        return node[1]
    if kind == "rel":
        j = i + node[2]
        return model(t, node[1], j, max_index) if 0 <= j <= max_index else None
    if kind == "not":
        return int(not truthy(model(t, node[1], i, max_index)))
    if kind in ("slice", "signed", "is_x"):
        v = model(t, node[1], i, max_index)
        if kind == "is_x":
            return int(v is None)
        r = reading(v)
        if r is None or kind == "signed":
            return r
        high, low = node[2], node[3]
        if high < low or low >= 64:
            return 0
        return (r >> low) & ((1 << (high - low + 1)) - 1)
    a = model(t, node[1], i, max_index)
    b = model(t, node[2], i, max_index)
    if kind == "and":
        return int(truthy(a) and truthy(b))
    if kind == "or":
        return int(truthy(a) or truthy(b))
    if kind in ("eq", "neq"):
        same = (a is None and b is None) or (
            a is not None and b is not None and (type(a) is type(b) and a == b or reading(a) == reading(b))
        )
        return int(same if kind == "eq" else not same)
    x, y = reading(a), reading(b)
    if x is None or y is None:
        return None
    return {
        "add": lambda: (x + y) & MASK,
        "sub": lambda: (x - y) & MASK,
        "band": lambda: x & y,
        "bxor": lambda: x ^ y,
        "gt": lambda: int(x > y),
        "lte": lambda: int(x <= y),
    }[kind]()


BUILD_BINARY = {"and": "and_", "or": "or_", "eq": "eq_", "neq": "neq", "add": "add", "sub": "sub",
                "band": "bit_and", "bxor": "bit_xor", "gt": "gt_", "lte": "lte"}


def random_tree(rng, t, names, depth):
    """A (model node, PyExpr) pair."""
    pick = rng.randrange(3 if depth == 0 else 10)
    if pick == 0:
        name = rng.choice(names + [None])
        return ("sig", name), PyExpr.signal(t.signal_id(name) if name else 12345)
    if pick == 1:
        n = rng.choice([0, 1, 2, 3, MASK])
        return ("int", n), PyExpr.const_int(n)
    if pick == 2:
        f = rng.choice([0.0, 1.5, -2.0, 3.0])
        return ("float", f), PyExpr.const_float(f)
    if pick == 3:
        off = rng.choice([-2, -1, 1, 3])
        node, e = random_tree(rng, t, names, depth - 1)
        return ("rel", node, off), e.rel_eval(off)
    if pick == 4:
        kind = rng.choice(["not", "signed", "is_x"])
        node, e = random_tree(rng, t, names, depth - 1)
        return (kind, node), getattr(e, {"not": "not_", "signed": "signed", "is_x": "is_x"}[kind])()
    if pick == 5:
        high, low = rng.choice([(1, 0), (0, 1), (63, 0), (70, 2)])
        node, e = random_tree(rng, t, names, depth - 1)
        return ("slice", node, high, low), e.slice(high, low)
    kind = rng.choice(list(BUILD_BINARY))
    (na, ea), (nb, eb) = random_tree(rng, t, names, depth - 1), random_tree(rng, t, names, depth - 1)
    return (kind, na, nb), getattr(ea, BUILD_BINARY[kind])(eb)


def random_vcd(rng, steps):
    lines = ["$var wire 4 ! a $end", "$var wire 4 # b $end", "$var real 64 % r $end", "$var wire 1 & c $end"]
    for i in range(steps):
        lines.append(f"#{i * 5}")
        if rng.random() < 0.6:
            lines.append(f"b{rng.randrange(16):b} !")
        if rng.random() < 0.3:
            lines.append(f"b{rng.randrange(4):b} #")
        if rng.random() < 0.2 and i > 2:
            lines.append(f"r{rng.choice([0.0, 1.5, 2.0, 7.9])} %")
        if rng.random() < 0.1 and i > 5:
            lines.append(f"{rng.randrange(2)}&")
    return "\n".join(lines) + "\n"


@pytest.mark.parametrize("seed", range(12))
def test_random_trees_match_model(seed):
    rng = random.Random(seed)
    t = PyTrace.from_vcd_string(random_vcd(rng, rng.choice([0, 1, 7, 40])))
    names = ["a", "b", "r", "c"]
    last = t.max_index()
    for _ in range(25):
        node, e = random_tree(rng, t, names, rng.randrange(1, 5))
        values = [model(t, node, i, last) for i in range(last + 1)]
        expected = [i for i, v in enumerate(values) if truthy(v)]
        assert t.find(e) == expected, node
        assert t.parallel_find(e) == expected
        assert t.parallel_count(e) == len(expected)
        assert t.find_with_values(e, ["a", "r"]) == [(i, [t.signal_value("a", i), t.signal_value("r", i)]) for i in expected]
        assert [t.eval_expr(e, i) for i in range(last + 1)] == values


LONG_STEPS = 150_000  # past one search piece and many handed-over parts


@pytest.fixture(scope="module")
def long_trace():
    """clk toggles at every index, cnt steps on each rising edge, en holds
    long stretches; returns the trace and each signal's value per index."""
    rng = random.Random(7)
    lines = ["$var wire 1 ! clk $end", "$var wire 8 # cnt $end", "$var wire 1 $ en $end", "$enddefinitions $end"]
    values = {"clk": [], "cnt": [], "en": []}
    en = 0
    for i in range(LONG_STEPS):
        lines.append(f"#{i}")
        clk, cnt = (i + 1) % 2, ((i + 1) // 2) % 256
        if i % 20_000 == 0 and i:
            en = rng.randrange(2)
        lines += [f"{clk}!", f"b{cnt:b} #", f"{en}$"]
        for name, v in (("clk", clk), ("cnt", cnt), ("en", en)):
            values[name].append(v)
    return PyTrace.from_vcd_string("\n".join(lines) + "\n"), values


@pytest.mark.parametrize(
    ("build", "want"),
    [
        (lambda s: PyExpr.always_true(), lambda v, i: True),
        (lambda s: s("en"), lambda v, i: v["en"][i] == 1),
        (lambda s: s("clk").and_(s("cnt").bit_and(PyExpr.const_int(7)).gt_(PyExpr.const_int(4))).and_(s("en")),
         lambda v, i: v["clk"][i] and (v["cnt"][i] & 7) > 4 and v["en"][i]),
        (lambda s: s("en").and_(s("en").not_()), lambda v, i: False),
    ],
    ids=["everything", "long_stretches", "dense", "nothing"],
)
def test_long_searches_agree(long_trace, build, want):
    t, values = long_trace
    e = build(lambda name: PyExpr.signal(t.signal_id(name)))
    expected = [i for i in range(LONG_STEPS) if want(values, i)]
    found = t.find(e)
    assert found == expected
    assert t.parallel_find(e) == found
    assert t.parallel_count(e) == len(expected)
    array = t.find_array(e)
    assert array.dtype == "uint64" and array.tolist() == expected
