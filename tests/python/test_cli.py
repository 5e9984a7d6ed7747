import subprocess
import sys

import pytest

from quarn.cli import main, top_level_scopes

TRACE = (
    "$scope module top $end\n$var wire 1 ! clk $end\n$var wire 8 # data [7:0] $end\n"
    "$scope module sub $end\n$var wire 1 ! clk $end\n$upscope $end\n$upscope $end\n"
    "$scope module other $end\n$var real 64 % t $end\n$upscope $end\n"
    "#100\n1!\nbx #\nr1.5 %\n#200\n0!\nb101 #\n"
)


def test_python_m_quarn_info_on_bundled_sample():
    run = subprocess.run([sys.executable, "-m", "quarn", "info"], capture_output=True, text=True, check=False)
    assert run.returncode == 0, run.stderr
    out = run.stdout
    for line in ("signals:    11", "scopes:     3", "indices:    31 (0 .. 30)", "time range: 0 .. 150",
                 "top scopes: top"):
        assert line in out
    # First signals with width and first/last values: the 8-bit counter is
    # unknown at first and 13 at the end.
    assert any(row.split() == ["top.count", "8", "-", "0x0d"] for row in out.splitlines())


def test_info_on_file(tmp_path, capsys):
    path = tmp_path / "small.vcd"
    path.write_text(TRACE)
    assert main(["info", str(path)]) == 0
    out = capsys.readouterr().out
    assert "signals:    4" in out and "indices:    2 (0 .. 1)" in out
    assert "time range: 100 .. 200" in out and "top scopes: top, other" in out
    rows = {row.split()[0]: row.split()[1:] for row in out.splitlines() if row.startswith("  top.") or
            row.startswith("  other.")}
    assert rows == {
        "top.clk": ["1", "1", "0"],
        "top.data": ["8", "-", "0x05"],
        "top.sub.clk": ["1", "1", "0"],
        "other.t": ["64", "1.5", "1.5"],
    }


def exit_code(argv):
    """`main`'s result, whether returned or raised by argparse."""
    try:
        return main(argv)
    except SystemExit as stop:
        return stop.code


@pytest.mark.parametrize(
    ("name", "content", "error"),
    [
        # A binary format's file is explained by its reader; others by what they hold.
        ("trace.fst", b"\x89PNG\r\n\x1a\n" + bytes(64), "FST open: not an FST file"),
        ("trace", b"\x89PNG\r\n\x1a\n" + bytes(64), "holds a PNG image"),
        ("missing.vcd", None, "Failed to open"),
    ],
)
def test_info_failures(tmp_path, capsys, name, content, error):
    path = tmp_path / name
    if content is not None:
        path.write_bytes(content)
    assert exit_code(["info", str(path)]) == 1
    assert error in capsys.readouterr().err


def test_no_command_is_usage_error():
    assert exit_code([]) == 2


@pytest.mark.parametrize(
    ("scopes", "top"),
    [
        (["top", "top.a", "top.a.b", "tb"], ["top", "tb"]),
        # Package names with dots are scopes of their own, not children.
        (["vunit_lib.run_pkg", "vunit_lib.run_pkg.p", "x"], ["vunit_lib.run_pkg", "x"]),
        ([], []),
    ],
)
def test_top_level_scopes(scopes, top):
    assert top_level_scopes(scopes) == top
