"""Scope navigation, name resolution and name search."""

import pytest

from quarn import PyTrace

HIER_VCD = """\
$scope module top $end
$var wire 1 ! clk $end
$scope module u1 $end
$var wire 1 " q $end
$var wire 1 # clk $end
$upscope $end
$scope module a $end
$scope module b $end
$var wire 1 $ deep $end
$upscope $end
$upscope $end
$upscope $end
$scope module topx $end
$var wire 1 % d $end
$var wire 1 & Clk_div $end
$upscope $end
$var wire 1 ' bare $end
$var wire 1 ( star*name $end
"""


@pytest.fixture(scope="module")
def trace() -> PyTrace:
    return PyTrace.from_vcd_string(HIER_VCD)


@pytest.mark.parametrize(
    ("method", "args", "expected"),
    [
        ("local_scopes", ("",), ["top", "topx"]),
        ("local_scopes", ("top",), ["top.u1", "top.a"]),
        ("local_scopes", ("top.a",), ["top.a.b"]),
        ("local_scopes", ("to",), []),
        ("local_signals", ("top",), ["top.clk"]),
        ("local_signals", ("top.u1",), ["top.u1.q", "top.u1.clk"]),
        ("local_signals", ("",), ["bare", "star*name"]),
        ("local_signals", ("nowhere",), []),
        ("resolve", ("top", "clk"), "top.clk"),
        ("resolve", ("top", "q"), "top.u1.q"),
        ("resolve", ("top", "deep"), "top.a.b.deep"),
        ("resolve", ("top", "lk"), None),
        ("resolve", ("", "d"), "topx.d"),
        # A plain text prefix: "to" reaches names under "top" and "topx".
        ("resolve", ("to", "Clk_div"), "topx.Clk_div"),
        ("resolve", ("top", "nothing"), None),
        ("find_signals_glob", ("top.*",), ["top.clk", "top.u1.q", "top.u1.clk", "top.a.b.deep"]),
        ("find_signals_glob", ("*",), ["top.clk", "top.u1.q", "top.u1.clk", "top.a.b.deep", "topx.d",
                                       "topx.Clk_div", "bare", "star*name"]),
        ("find_signals_containing", ("CLK",), ["top.clk", "top.u1.clk", "topx.Clk_div"]),
        ("find_signals_containing", ("clk_DIV",), ["topx.Clk_div"]),
        ("find_signals_containing", ("zzz",), []),
    ],
)
def test_navigation_and_search(trace, method, args, expected):
    assert getattr(trace, method)(*args) == expected


# Names whose lower-casing needs more than ASCII: the final-sigma rule on both
# sides of "." and "_", a capital I with dot (one character, two when
# lower-cased), the Kelvin sign, a title-case digraph, Roman numerals.
UNICODE_NAMES = [
    "top.\u039f\u0394\u039f\u03a3",
    "\u0391\u03a3.b",
    "\u0391\u03a3_1",
    "\u03a3\u0391",
    "\u0130stanbul",
    "temp_\u212a",
    "\u01c5x",
    "\u2160\u2161",
    "Stra\u00dfe",
    "CAF\u00c9",
]


@pytest.fixture(scope="module")
def unicode_trace() -> PyTrace:
    lines = []
    for k, name in enumerate(UNICODE_NAMES):
        scope, _, leaf = name.rpartition(".")
        if scope:
            lines.append(f"$scope module {scope} $end")
        lines.append(f"$var wire 1 {chr(33 + k)} {leaf} $end")
        if scope:
            lines.append("$upscope $end")
    return PyTrace.from_vcd_string("\n".join(lines) + "\n")


@pytest.mark.parametrize(
    "query",
    [
        "\u03bf\u03b4\u03bf\u03c2",  # final sigma
        "\u03bf\u03b4\u03bf\u03c3",  # medial sigma: must not find the word-final one
        "\u039f\u0394\u039f\u03a3",
        "\u03c3.b",
        "\u03c2_1",
        "\u03c3\u03b1",
        "\u03a3",
        "i\u0307stanbul",
        "\u0130",
        "k",
        "\u01c6",
        "\u2170",
        "\u00df",
        "caf\u00e9",
        "",
    ],
)
def test_containing_lowercases_like_python(unicode_trace, query):
    assert unicode_trace.signal_names() == UNICODE_NAMES
    expected = [n for n in UNICODE_NAMES if query.lower() in n.lower()]
    assert unicode_trace.find_signals_containing(query) == expected

