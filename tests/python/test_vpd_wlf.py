"""from_vpd and from_wlf give a PyTrace (names, scopes and values of the files
they read: tests/core/vpd_reader_test.cpp and wlf_reader_test.cpp; refused
files and argument errors: test_open)."""

import struct

from quarn import PyTrace


def test_minimal_files_load_empty(write):
    vpd = struct.pack("<I", 0x12345678) + bytes(124)
    for t in (PyTrace.from_vpd(write(vpd, "m.vpd")), PyTrace.from_wlf(write(bytes(8192), "m.wlf"))):
        assert (t.signal_names(), t.scopes(), t.max_index(), t.timestamp(0)) == ([], [], 0, 0)
        assert t.signal_value("no.such", 0) is None and t.signal_width("no.such") == 1
