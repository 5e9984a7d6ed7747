"""from_vpd and from_wlf: names, scopes, values and times of what they load
(refused files and argument errors: test_open).

The files are byte images written field by field (both formats are closed)."""

import struct

from quarn import PyTrace

from conftest import c_strings

PAGE = 8192


def vpd_image(blocks: dict[int, bytes], magic: int = 0x12345678, size: int = 128) -> bytes:
    """Magic, block offsets in the 20 slots at 48..124, blocks at their offsets."""
    end = max([size] + [at + len(b) for at, b in blocks.items()])
    out = bytearray(end)
    out[0:4] = struct.pack("<I", magic)
    for slot, at in enumerate(blocks):
        out[48 + 4 * slot : 52 + 4 * slot] = struct.pack("<I", at)
    for at, b in blocks.items():
        out[at : at + len(b)] = b
    return bytes(out)


def vpd_block(marker: str, *names: str) -> bytes:
    return c_strings(marker).ljust(128, b"\0") + c_strings(*names)


def wlf_header(names: bytes, signal_count: int = 0, size_word: int = PAGE) -> bytes:
    page = bytearray(PAGE)
    page[2:4] = struct.pack(">H", size_word)
    page[24:26] = struct.pack(">H", signal_count)
    # three empty text fields at 40, 41, 42: the name area starts at 43
    page[43 : 43 + len(names)] = names
    return bytes(page)


def wlf_value_page(records: bytes) -> bytes:
    page = bytearray(PAGE)
    page[0:4] = b"\xff\xff" + struct.pack(">H", len(records))
    page[4:16] = b"\x11" * 12
    page[16 : 16 + len(records)] = records
    return bytes(page)


def test_vpd_names_scopes_and_empty_values(write):
    path = write(vpd_image({400: vpd_block("WithMask", "top.b"), 200: vpd_block("FoldedTop", "top.u1.clk")}), "a.vpd")
    t = PyTrace.from_vpd(path)
    assert t.signal_names() == ["FoldedTop", "top.u1.clk", "WithMask", "top.b"]
    assert t.scopes() == ["top", "top.u1"]
    assert t.max_index() == 0
    assert t.timestamp(0) == 0
    assert t.signal_value("top.u1.clk", 0) is None
    assert t.signal_width("top.b") == 1
    assert t.signal_width("no.such") == 1
    assert t.signal_id("top.b") == 3


def test_wlf_names_values_and_timestamps(write):
    header = wlf_header(c_strings("top.a", "top.b", "top.c"))
    records = bytes([1, 7, 0xFF, 2, 9, 0xFF, 0xFF, 1, 255, 0])
    t = PyTrace.from_wlf(write(header + wlf_value_page(records), "a.wlf"))
    assert t.signal_names() == ["top.a", "top.b", "top.c"]
    assert t.scopes() == ["top"]
    assert [t.timestamp(i) for i in range(t.max_index() + 1)] == [0, 1, 2, 3]
    assert t.signal_values_range("top.b", 0, 4) == [7, 7, 7, 255]
    assert t.signal_values_range("top.c", 0, 4) == [None, 9, 9, 9]
    assert t.signal_values_range("top.a", 0, 4) == [None] * 4
    assert t.signal_width("top.c") == 1


def test_minimal_files_load_empty(write):
    for t in (PyTrace.from_vpd(write(vpd_image({}), "m.vpd")), PyTrace.from_wlf(write(bytes(PAGE), "m.wlf"))):
        assert (t.signal_names(), t.scopes(), t.max_index(), t.timestamp(0)) == ([], [], 0, 0)
