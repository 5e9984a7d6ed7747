import json
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
        ("trace", b"\x89PNG\r\n\x1a\n" + bytes(64), "found a PNG image"),
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


def quarn_json(*argv: str) -> object:
    """Runs the installed command as a user would and parses its --json output."""
    run = subprocess.run([sys.executable, "-m", "quarn", *argv, "--json"], capture_output=True, text=True, check=False)
    assert run.returncode == 0, run.stderr
    return json.loads(run.stdout)


@pytest.fixture
def small(tmp_path):
    path = tmp_path / "small.vcd"
    path.write_text("$timescale 1ns $end\n" + TRACE)
    return str(path)


@pytest.mark.parametrize(
    ("argv", "expected"),
    [
        (["info"], {"signals": 4, "scopes": 3, "indices": 2, "time_range": [100, 200], "timescale": [1, "ns"],
                    "top_scopes": ["top", "other"]}),
        (["signals", "top.*"], [{"name": "top.clk", "width": 1, "kind": "bit"},
                                {"name": "top.data", "width": 8, "kind": "vector"},
                                {"name": "top.sub.clk", "width": 1, "kind": "bit"}]),
        (["value", "top.data", "0.2us"], {"name": "top.data", "time": 200, "index": 1, "value": 5}),
        (["value", "top.data", "150"], {"name": "top.data", "time": 150, "index": 0, "value": None}),
        (["changes", "top.clk", "--from", "150ns"], [{"time": 200, "index": 1, "value": 0, "unknown": False}]),
        # The expression language arrives with its own change; until then this case fails.
        (["find", "top.data == 5 && !top.clk"], {"count": 1, "indices": [1], "times": [200]}),
    ],
)
def test_commands_answer_in_json(small, argv, expected):
    got = quarn_json(argv[0], small, *argv[1:])
    if isinstance(expected, dict):
        got = {k: got[k] for k in expected}
    assert got == expected


def test_export_csv_and_parquet(small, tmp_path):
    csv = tmp_path / "out.csv"
    assert quarn_json("export", small, "top.clk", "top.data", "--csv", str(csv))["rows"] == 2
    assert csv.read_text().splitlines() == ["time,top.clk,top.data", "100,1,", "200,0,5"]
    pytest.importorskip("pyarrow")
    pd = pytest.importorskip("pandas")
    parquet = tmp_path / "out.parquet"
    quarn_json("export", small, "top.data", "other.t", "--parquet", str(parquet))
    assert pd.read_parquet(parquet)["other.t"].tolist() == [1.5, 1.5]


def test_plot_writes_an_image_of_the_asked_size(small, tmp_path):
    image = pytest.importorskip("matplotlib.image")
    out = tmp_path / "wave.png"
    got = quarn_json("plot", small, "top.clk", "top.data", "other.t", "-o", str(out), "--dpi", "50")
    pixels = image.imread(out)
    assert pixels.shape[:2] == (got["height"], got["width"]) and got["width"] == 500
    # x/z is drawn in red: some pixel is clearly red.
    red = (pixels[..., 0] > 0.7) & (pixels[..., 1] < 0.5) & (pixels[..., 2] < 0.5)
    assert red.any()


def test_unknown_signal_names_close_matches(small, capsys):
    assert exit_code(["value", small, "top.dta", "0"]) == 1
    assert "close matches: top.data" in capsys.readouterr().err
