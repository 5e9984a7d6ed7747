#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_fsdb into fuzz/corpus/fsdb: whole files of
both layouts (mode byte 0), value blocks (mode 1), name regions (mode 2) and
raw blocks that the target compresses into a file (mode 3), shaped like the
images of tests/core/fsdb_*_test.cpp."""

import struct
import zlib
from pathlib import Path

OUT = Path(__file__).with_name("corpus") / "fsdb"
HEADER_MARK = bytes([0x38, 0x43, 0x00, 0x04, 0x00, 0x08])
TRAILER_MARK = bytes([0x44, 0x00, 0x63, 0x00, 0x03, 0x08])
END_MARK = bytes([0xC1, 0x21, 0x00, 0x00])


def c_strings(*names):
    return b"".join(n.encode() + b"\0" for n in names)


def rich(*names):
    return c_strings(*names) + c_strings(*(f"9f{i}" for i in range(11)))


def magic(m, size):
    return (b"\0" * 4 + struct.pack(">I", m)).ljust(size, b"\0")


VALUE_BLOCKS = {
    "unseparated": bytes([1, 2, 3]) + HEADER_MARK + bytes([1, 0x0A, 0x85, 0, 2, 0x0B, 0x41, 0]),
    "separated_clock": bytes([1]) + HEADER_MARK + bytes([8, 1, 5, 1, 7, 8, 2, 1, 0x33, 8, 0x40, 0, 4, 0x31]),
    "trailer": bytes([0, 0, 0, 0, 7, 2]) + HEADER_MARK + bytes([1, 0x0A, 0xFF]) + TRAILER_MARK
    + bytes([1, 5, 0x81, 1, 0x0C, 0x90, 1, 0x27, 0, 0, 0]),
    "no_header_mark": bytes([0x81, 1, 2, 3, 9, 9, 9, 9, 9, 9, 1, 5, 2, 6]) + END_MARK,
}


def newer_file():
    data = bytearray(magic(0x1C3ED948, 400))
    struct.pack_into("<I", data, 40, 84)
    data += zlib.compress(rich("top.clk", "top.cpu.a", "top.cpu.b")) + b"\0\0"
    for block in VALUE_BLOCKS.values():
        data += zlib.compress(block) + b"\0\0"
    table_block = len(data)
    data += zlib.compress(VALUE_BLOCKS["unseparated"])
    table_len = len(data) - table_block
    widths = zlib.compress(bytes([1, 0, ord("x"), 1, 0, ord("C"), 0, 0, 2, 0, 0, 0, 1, 0, ord("j"), 0x21]))
    struct.pack_into("<Q", data, 272, len(data))
    data += struct.pack("<I", len(widths)) + widths
    struct.pack_into("<Q", data, 264, len(data))
    data += bytes(22) + struct.pack("<H", 1) + struct.pack("<III", table_block, 0, table_len)
    return bytes(data)


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    seeds = {
        "file_newer": b"\0" + newer_file(),
        "file_older": b"\0" + magic(0xFDE099C1, 272) + c_strings("top.cpu.clk", "top.mem", "3bad", "a-b"),
        "file_tail": b"\0" + magic(0x1C3ED948, 4200) + b"\x02" + c_strings("top.t1", "top.t2") + b"\x04\x02x\0\1",
        "names": b"\2" + c_strings("top.a", "run.log", "bus[3:0]") + b"\x02top\0\x01\x00C\0\0\x21",
    }
    names = c_strings("top.a", "top.b", "top.c", "top.d", "top.e")
    for key, block in VALUE_BLOCKS.items():
        seeds[f"values_{key}"] = b"\1" + names + b"|||" + block
    seeds["values_two_blocks"] = b"\1" + names + b"|||" + VALUE_BLOCKS["unseparated"] + b"|||" + VALUE_BLOCKS["trailer"]
    header = bytearray(magic(0x1C3ED948, 400))
    struct.pack_into("<I", header, 40, 84)
    seeds["built_file"] = (b"\3" + bytes(header) + b"|||" + rich("top.clk", "top.cpu.a") + b"|||"
                           + VALUE_BLOCKS["trailer"] + b"|||" + VALUE_BLOCKS["separated_clock"])
    for name, content in seeds.items():
        (OUT / name).write_bytes(content)


if __name__ == "__main__":
    main()
