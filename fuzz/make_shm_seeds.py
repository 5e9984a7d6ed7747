"""Writes the seed inputs of fuzz_shm to fuzz/corpus/shm.

An input is: two big-endian 16-bit lengths (design file, first transition
file), then the design file, the first and the second transition file."""

import struct
from pathlib import Path

MAGIC = struct.pack(">I", 0xA19511BF)


def dsn(records):
    out = bytearray(MAGIC + bytes(124))
    for tag, name in records:
        at = len(out)
        body = name.encode() + b"\0"
        body += bytes(-len(body) % 4)
        out += struct.pack(">III", tag, at + 12 + len(body), at + 12) + body
    return bytes(out)


def trn(blocks, unit=0):
    out = bytearray(MAGIC + struct.pack(">III", 0, unit, 0) + bytes(8))
    for e, n, values, trailer in blocks:
        s = len(out) + 64
        header = bytearray(64)
        header[0:4] = b"\x00\x1b\x22\x00"
        struct.pack_into(">I", header, 28, e)
        struct.pack_into(">I", header, 40, n)
        struct.pack_into(">III", header, 48, s + len(values) + len(trailer), s, s + len(values))
        out += header + values + trailer
    return bytes(out)


def seed(design, first, second=b""):
    return struct.pack(">HH", len(design), len(first)) + design + first + second


SHORT_RECORD = bytes([0, 0x13, 0, 0x7C, 0, 0, 0, 0, 0x44, 0x01, 0x8F, 0])
LONG_RECORD = bytes([0, 0x12, 0, 0x7C, 0, 0, 0x01, 0x01, 0x81, 0, 0, 0])

design = dsn(
    [(0x010102, "meta"), (0x070501, "top"), (0x090700, "top.a"), (0x290700, "top.b"),
     (0x070601, "top.u1"), (0x090700, "top.u1.c"), (0x090700, "top.u1.d[0]"), (0x020C07, "bus")]
)
seeds = {
    "levels_and_toggles": seed(design, trn([(300, 2, b"\x10\x08\x10", b"")])),
    "flags": seed(design, trn([(300, 2, b"\x40\x00", b"")], unit=5)),
    "records": seed(design, trn([(200, 1, b"\x10", SHORT_RECORD), (2000, 1, b"\x08", LONG_RECORD)], unit=6)),
    "delta": seed(design, trn([(300, 2, b"\xa0\x80\x60\x00", b""), (0, 1, b"", b"")])),
    "two_files": seed(design, trn([(300, 2, b"\x10", b"")]), trn([(0, 1, b"", b""), (250, 1, b"\x10", b"")])),
}
out = Path(__file__).with_name("corpus") / "shm"
out.mkdir(parents=True, exist_ok=True)
for name, data in seeds.items():
    (out / name).write_bytes(data)
