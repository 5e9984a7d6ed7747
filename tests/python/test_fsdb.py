"""PyTrace.from_fsdb on a newer-layout image without a block table, and quarn
info on it (the older layout: tests/core/fsdb_header_test.cpp; refused files
and argument errors: test_open). Files are byte images built with named fields."""

import os
import struct
import zlib

from quarn import PyTrace
from quarn.cli import main

from conftest import c_strings

NEWER_MAGIC = 0x1C3ED948
HEADER_MARK = bytes([0x38, 0x43, 0x00, 0x04, 0x00, 0x08])
TRAILER_MARK = bytes([0x44, 0x00, 0x63, 0x00, 0x03, 0x08])
WIDTH_OFFSET_FIELD = 272


def with_magic(magic: int, size: int = 12) -> bytes:
    return (b"\0" * 4 + struct.pack(">I", magic)).ljust(size, b"\0")


def rich_name_block(*names: str) -> bytes:
    # Eleven strings that are not identifiers make the block a rich name block.
    return c_strings(*names) + c_strings(*(f"9filler{i}" for i in range(11)))


def value_block(header: bytes, body: bytes, trailer: bytes | None = None) -> bytes:
    block = header + HEADER_MARK + body
    return block + TRAILER_MARK + trailer if trailer is not None else block


def newer_file(names: list[str], value_blocks: list[bytes], width_records: bytes = b"") -> bytes:
    data = bytearray(with_magic(NEWER_MAGIC, 400))
    for block in [rich_name_block(*names), *value_blocks]:
        data += zlib.compress(block) + b"\0\0"
    if width_records:
        stream = zlib.compress(width_records)
        struct.pack_into("<Q", data, WIDTH_OFFSET_FIELD, len(data))
        data += struct.pack("<I", len(stream)) + stream
    return bytes(data)


def test_newer_layout_values_and_widths(write):
    trailer = bytes([1, 5, 0, 1, 9, 0, 0, 0, 0])  # values 5 and 9
    blocks = [
        value_block(bytes([1, 2, 3]), bytes([1, 0x0A, 2, 0x0B]), trailer),
        # A later block with an earlier time: earlier blocks keep their times.
        value_block(bytes([1]), bytes([0, 0x0C, 0, 0x0D])),
    ]
    widths = bytes([0x01, 0, ord("x"), 0x01, 0, ord("C"), 0, 0, 0x01, 0, ord("j")])
    t = PyTrace.from_fsdb(write(newer_file(["top.clk", "top.cpu.a", "top.cpu.b"], blocks, widths)))
    assert t.signal_names() == ["top.clk", "top.cpu.a", "top.cpu.b"]
    assert t.scopes() == ["top", "top.cpu"]
    assert [t.signal_width(n) for n in t.signal_names()] == [16, 8, 2]
    assert t.signal_width("no.such") == 1
    assert [t.timestamp(i) for i in range(t.max_index() + 1)] == [0, 5, 10, 30]
    assert t.signal_values_range("top.clk", 0, 5) == [0, 13, 13, 13]
    assert t.signal_values_range("top.cpu.a", 0, 4) == [5, 5, 5, 5]
    assert t.signal_values_range("top.cpu.b", 0, 4) == [9, 9, 10, 11]
    assert t.signal_value_raw("top.cpu.b", 3) == 11


def test_trace_outlives_its_file_and_info_reads_it(write, capsys):
    path = write(newer_file(["top.a", "top.b"], [value_block(bytes([1]), bytes([1, 7]))]))
    assert main(["info", path]) == 0
    out = capsys.readouterr().out
    assert "signals:    2" in out and "indices:    2 (0 .. 1)" in out and "time range: 0 .. 10" in out
    t = PyTrace.from_fsdb(path)
    os.remove(path)
    assert t.signal_value("top.a", t.max_index()) == 7
    assert t.signal_value("top.b", 0) == 0
