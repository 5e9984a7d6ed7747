"""PyTrace.from_shm on SHM databases built byte by byte in a temporary directory."""

import re
import struct

import pytest

from quarn import PyTrace
from quarn.cli import main

MAGIC = 0xA19511BF
SCOPE_DEF = 0x070501
SIGNAL = 0x090700


def dsn(signals, scopes=()):
    """A design file: magic, 124 unread bytes, then one record per name with
    Text pointing at the name and Next at the following record."""
    out = bytearray(struct.pack(">I", MAGIC) + bytes(124))
    for tag, name in [(SCOPE_DEF, s) for s in scopes] + [(SIGNAL, s) for s in signals]:
        at = len(out)
        body = name.encode() + b"\0"
        body += bytes(-len(body) % 4)
        out += struct.pack(">III", tag, at + 12 + len(body), at + 12) + body
    return bytes(out)


def block(at, e, n, values, trailer=b""):
    """A block header at offset `at` followed by its value bytes and trailer."""
    s = at + 64
    v = s + len(values)
    q = v + len(trailer)
    header = bytearray(64)
    header[0:4] = b"\x00\x1b\x22\x00"
    struct.pack_into(">I", header, 28, e)
    struct.pack_into(">I", header, 40, n)
    struct.pack_into(">III", header, 48, q, s, v)
    return bytes(header) + values + trailer


def trn(blocks, unit=0):
    """A transition file: magic, time-unit code at 8, then (E, N, values) blocks."""
    out = bytearray(struct.pack(">IIII", MAGIC, 0, unit, 0) + bytes(8))
    for e, n, values in blocks:
        out += block(len(out), e, n, values)
    return bytes(out)


def values(trace, name):
    return [trace.signal_value(name, i) for i in range(trace.max_index() + 1)]


def times(trace):
    return [trace.timestamp(i) for i in range(trace.max_index() + 1)]


@pytest.fixture
def db(tmp_path):
    (tmp_path / "run.dsn").write_bytes(dsn(["top.a", "top.b", "top.c"], scopes=["top"]))
    (tmp_path / "run.trn").write_bytes(trn([(300, 2, b"\x10\x08\x10")]))
    return tmp_path


@pytest.mark.parametrize("target", ["", "run.dsn", "run.trn"])
def test_loads_from_directory_design_or_transition_file(db, target, capsys):
    path = str(db / target) if target else str(db)
    trace = PyTrace.from_shm(path)
    assert trace.signal_names() == ["top.a", "top.b", "top.c"]
    assert trace.scopes() == ["top"]
    assert times(trace) == [0, 100, 200, 300]
    assert values(trace, "top.a") == [1, 0, 1, 1]
    assert values(trace, "top.b") == [0, 1, 0, 0]
    assert trace.signal_id("top.c") == 2
    assert trace.signal_width("top.c") == 1
    assert trace.signal_width("no.such") == 1
    # quarn.open finds the database from any of the three as well.
    assert main(["info", path]) == 0
    out = capsys.readouterr().out
    assert "signals:    3" in out and "indices:    4 (0 .. 3)" in out and "time range: 0 .. 300" in out


@pytest.mark.parametrize(
    ("setup", "target", "message"),
    [
        (lambda d: (d / "a.txt").write_text("x"), "/", "No .dsn/.trn in {d}/"),
        (lambda d: (d / "w.vcd").write_bytes(b"x" * 200), "w.vcd", "Bad DSN magic: 0x78787878"),
        (lambda d: (d / "z.dsn").write_bytes(bytes(128)), "z.dsn", "Bad DSN magic: 0x00000000"),
        (lambda d: (d / "run.dsn").mkdir(), "run.trn", "DSN: Is a directory"),
    ],
)
def test_failures_raise_value_error_with_the_message(tmp_path, setup, target, message):
    setup(tmp_path)
    path = str(tmp_path) + ("/" + target if target not in ("", "/") else target)
    with pytest.raises(ValueError, match=f"^{re.escape(message.format(d=tmp_path))}$"):
        PyTrace.from_shm(path)
