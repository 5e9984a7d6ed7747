"""`quarn check` and `quarn cycles` run as a user would: subprocesses, exit
status, --json parsed, CSV read back."""

import csv
import json
import subprocess
import sys

import pytest

from test_cycles import cycle_vcd

VALUES = {"req": [0, 1, 0, 0, 1, 0, 0, 0], "ack": [0, 0, 1, 0, 0, 0, 0, 1]}


@pytest.fixture
def trace_path(tmp_path):
    path = tmp_path / "hs.vcd"
    path.write_text(cycle_vcd(VALUES))
    return str(path)


def quarn(*args):
    return subprocess.run([sys.executable, "-m", "quarn", *args], capture_output=True, text=True, check=False)


@pytest.mark.parametrize(
    ("prop", "status", "failed_starts"),
    [
        ("top.req |-> ##[1:2] top.ack", 1, [4]),  # the second request waits three cycles
        ("top.req |-> ##[1:3] top.ack", 0, []),
    ],
)
def test_check_json_and_exit_status(trace_path, prop, status, failed_starts):
    run = quarn("check", trace_path, "--clock", "top.clk", prop, "--json")
    assert run.returncode == status, run.stderr
    out = json.loads(run.stdout)
    (p,) = out["properties"]
    assert [f["start_cycle"] for f in p["failures"]] == failed_starts
    assert p["attempts"] == len(VALUES["req"]) == sum(p[k] for k in ("passed", "failed", "vacuous", "pending", "disabled"))
    assert out["passed"] is (status == 0)


def test_check_props_file_and_text(trace_path, tmp_path):
    props = tmp_path / "props.txt"
    props.write_text("# handshake\nfast: top.req |-> ##1 top.ack\nslow: top.req |-> ##[1:$] top.ack\n")
    run = quarn("check", trace_path, "--clock", "top.clk", "--props", str(props))
    assert run.returncode == 1
    assert "FAIL  fast: top.req |-> ##1 top.ack" in run.stdout and "PASS  slow:" in run.stdout
    assert "failed: started cycle 4 (time 50), certain at cycle 5 (time 60)" in run.stdout


def test_check_syntax_error_exits_2(trace_path):
    run = quarn("check", trace_path, "--clock", "top.clk", "top.req |-> ##")
    assert run.returncode == 2 and "at column 15" in run.stderr


def test_cycles_csv(trace_path, tmp_path):
    out = tmp_path / "c.csv"
    run = quarn("cycles", trace_path, "--clock", "top.clk", "top.req", "top.ack", "--csv", str(out))
    assert run.returncode == 0, run.stderr
    rows = list(csv.reader(out.open()))
    assert rows[0] == ["cycle", "time", "top.req", "top.ack"]
    assert [int(r[2]) for r in rows[1:]] == VALUES["req"] and [int(r[3]) for r in rows[1:]] == VALUES["ack"]
