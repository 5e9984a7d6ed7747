"""quarn.batch on a LocalCluster of two processes, against a plain loop."""

import shutil
import subprocess
import sys
from pathlib import Path

import pandas as pd
import pytest
from dask.distributed import Client, LocalCluster

import quarn
from quarn.batch import expand_paths

CORPUS = Path(__file__).resolve().parents[2].parent / "shared" / "corpus"

COUNTER = "icarus/counter_tb.vcd"
EXPR = "counter_tb.clock == 1 && counter_tb.enable == 1"


@pytest.fixture(scope="module")
def client():
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with Client(cluster) as c:
            yield c


@pytest.fixture(scope="module")
def farm(tmp_path_factory):
    """Copies of one design as VCD and FST, a second design, and a corrupt file."""
    d = tmp_path_factory.mktemp("farm")
    for i in range(3):
        shutil.copy(CORPUS / COUNTER, d / f"run{i}.vcd")
    shutil.copy(CORPUS / "icarus/test1.vcd.fst", d / "other.fst")
    (d / "broken.fst").write_bytes(b"\x00" * 40 + b"not an fst")
    return d


def loop_count(path):
    trace = quarn.open(path)
    hits = trace.find(EXPR)
    return len(hits), (trace.timestamp(hits[0]) if hits else None)


def test_directory_gives_a_row_per_file_and_an_error_row(client, farm):
    frame = quarn.batch(farm, lambda t: {"signals": len(t.signal_names())}, client=client)
    assert list(frame["path"]) == expand_paths(farm)
    assert list(frame.columns) == ["path", "signals", "error"]
    broken = frame[frame["path"].str.endswith("broken.fst")]
    assert len(broken) == 1 and broken["error"].iloc[0].startswith(("TraceError", "ValueError"))
    good = frame.drop(broken.index)
    assert good["error"].isna().all()
    assert list(good["signals"]) == [len(quarn.open(p).signal_names()) for p in good["path"]]


def test_string_and_function_queries_agree_with_a_plain_loop(client, farm):
    runs = sorted(str(p) for p in farm.glob("run*.vcd"))
    by_string = quarn.batch(str(farm / "run*.vcd"), EXPR, client=client)
    by_function = quarn.batch(runs, lambda t: {"matches": len(t.find(EXPR))}, client=client)
    expected = [loop_count(p) for p in runs]
    assert expected[0][0] > 0
    assert list(by_string["matches"]) == list(by_function["matches"]) == [n for n, _ in expected]
    assert list(by_string["first_time"]) == [t for _, t in expected]


def test_query_that_raises_fails_only_its_rows(client, farm):
    def picky(trace):
        if len(trace.signal_names()) > 50:
            raise RuntimeError("too many signals")
        return [{"k": 1}, {"k": 2}]

    frame = quarn.batch(sorted(farm.iterdir()), picky, client=client, columns=["k"])
    assert list(frame.columns) == ["path", "k", "error"]
    errors = dict(zip(frame["path"].map(lambda p: Path(p).name), frame["error"]))
    assert errors["other.fst"] == "RuntimeError: too many signals"
    assert errors["broken.fst"].split(":")[0] in {"TraceError", "ValueError"}
    ok = frame[frame["error"].isna()]
    assert list(ok["k"]) == [1, 2] * 3


def test_cli_writes_csv(client, farm, tmp_path):
    out = tmp_path / "out.csv"
    proc = subprocess.run(
        [sys.executable, "-m", "quarn", "batch", str(farm / "**" / "*.vcd"), "--find", EXPR,
         "--csv", str(out), "--scheduler", client.scheduler.address, "--quiet"],
        capture_output=True, text=True, timeout=120,
    )
    assert proc.returncode == 0, proc.stderr
    frame = pd.read_csv(out)
    assert len(frame) == 3 and list(frame["matches"]) == [loop_count(p)[0] for p in frame["path"]]


def test_a_worker_that_dies_fails_only_its_trace(client, farm):
    # A reader crash kills the worker process; its trace alone gets the error
    # row, the other results are still gathered.
    def crash_on_big(trace):
        if len(trace.signal_names()) > 50:
            import os

            os._exit(3)
        return {"signals": len(trace.signal_names())}

    frame = quarn.batch(sorted(farm.glob("*.*")), crash_on_big, client=client)
    errors = dict(zip(frame["path"].map(lambda p: Path(p).name), frame["error"]))
    assert errors["other.fst"].startswith("KilledWorker")
    assert all(isinstance(errors[f"run{i}.vcd"], float) for i in range(3))  # NaN: no error
    assert frame.loc[frame["error"].isna(), "signals"].gt(0).all()
