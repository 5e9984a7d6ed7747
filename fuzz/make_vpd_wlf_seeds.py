"""Writes the seed corpus of the VPD and WLF fuzz targets (fuzz/corpus/).

Both formats are closed, so the seeds are byte images built field by field:
    python3 fuzz/make_vpd_wlf_seeds.py
"""

import struct
from pathlib import Path

PAGE = 8192
OUT = Path(__file__).with_name("corpus")


def c_strings(*texts: str) -> bytes:
    return b"".join(t.encode() + b"\0" for t in texts)


def vpd(blocks: dict[int, bytes]) -> bytes:
    end = max([128] + [at + len(b) for at, b in blocks.items()])
    out = bytearray(end)
    out[0:4] = struct.pack("<I", 0x12345678)
    for slot, at in enumerate(blocks):
        out[48 + 4 * slot : 52 + 4 * slot] = struct.pack("<I", at)
    for at, b in blocks.items():
        out[at : at + len(b)] = b
    return bytes(out)


def vpd_head(*strings: str) -> bytes:
    return c_strings(*strings).ljust(128, b"\0")


def wlf_header(names: bytes, signal_count: int, texts=(b"tool", b"6.1", b"")) -> bytes:
    page = bytearray(PAGE)
    page[2:4] = struct.pack(">H", PAGE)
    page[24:26] = struct.pack(">H", signal_count)
    at = 40
    for t in texts:
        page[at] = len(t)
        page[at + 1 : at + 1 + len(t)] = t
        at += 1 + len(t)
    page[at : at + len(names)] = names
    return bytes(page)


def wlf_value_page(records: bytes) -> bytes:
    page = bytearray(PAGE)
    page[0:4] = b"\xff\xff" + struct.pack(">H", len(records))
    page[4:16] = b"\x11" * 12
    page[16 : 16 + len(records)] = records
    return bytes(page)


def main() -> None:
    seeds = {
        "vpd/marker_blocks.bin": vpd(
            {
                300: vpd_head("FoldedTop") + c_strings("top.u1.clk", "top.u1.rst", "top.data[7]"),
                200: vpd_head("WithMask", " x") + c_strings("top.a", "top.b c"),
            }
        ),
        "vpd/identifier_head.bin": vpd({140: vpd_head("h1", "h2", "h3", "h4") + c_strings("a.b", "a..c", "9x")}),
        "wlf/values.bin": wlf_header(c_strings("top.a", "top.b", "top.c", "x"), 4)
        + wlf_value_page(bytes([1, 7, 2, 9, 0xFF, 3, 1, 0xFF, 0xFF, 1, 255, 0]))
        + wlf_value_page(bytes([0xFF, 2, 4, 0, 3])),
        "wlf/name_pages.bin": wlf_header(c_strings("h.a"), 6)
        + c_strings("p1.a", "p1.b").ljust(PAGE, b"\0")
        + wlf_value_page(bytes([1, 5, 0xFF, 2, 6, 0xFF])),
    }
    for name, data in seeds.items():
        path = OUT / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)


if __name__ == "__main__":
    main()
