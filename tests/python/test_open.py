"""quarn.open: packed VCDs, what unknown content is named; every loader's
refusals and path arguments (format detection of every corpus file: test_corpus)."""

import bz2
import gzip
import re
import shutil
import subprocess
from pathlib import Path

import pytest

import quarn
from quarn import PyTrace

from conftest import corpus_file
from test_corpus import assert_twins_agree

SMALL_VCD = "$timescale 1ns $end\n$var wire 4 ! d $end\n$enddefinitions $end\n#0\nb1 !\n#5\nb1x01 !\n#9\nb11 !\n"


def same_trace(a: PyTrace, b: PyTrace) -> None:
    assert_twins_agree(a, b)
    assert a.timescale() == b.timescale()


def zstd_pack(data: bytes) -> bytes:
    zstd = shutil.which("zstd")
    if zstd is None:
        pytest.skip("no zstd command to make the packed file")
    return subprocess.run([zstd, "-q", "-c"], input=data, capture_output=True, check=True).stdout


PACKERS = {
    "gz": gzip.compress,
    "bz2": bz2.compress,
    "zst": zstd_pack,
    # Members one after another (`cat a.gz b.gz`): PackedFile in tests/core/time_and_format_test.cpp.
    # Zero padding after the last member (tape and some writers add it): ignored, as gzip does.
    "gz-padded": lambda d: gzip.compress(d) + bytes(512),
}


@pytest.mark.parametrize("packing", PACKERS)
def test_packed_vcd_reads_like_the_plain_file(packing, tmp_path):
    plain = corpus_file("icarus/CPU.vcd")
    packed = tmp_path / f"CPU.vcd.{packing.split('-')[0]}"
    packed.write_bytes(PACKERS[packing](plain.read_bytes()))
    assert quarn.detect_format(packed) == ("vcd", packing.split("-")[0].replace("gz", "gzip").replace("bz2", "bzip2")
                                           .replace("zst", "zstd"))
    same_trace(quarn.open(packed), PyTrace.from_vcd(str(plain)))
    same_trace(PyTrace.from_vcd(packed), PyTrace.from_vcd(str(plain)))


def test_shm_directory_and_empty_directory(tmp_path):
    assert quarn.detect_format(tmp_path) == ("unknown", "a directory without SHM design (.dsn) or transition (.trn) files")
    (tmp_path / "x.dsn").write_bytes(bytes(8))
    assert quarn.detect_format(tmp_path)[0] == "shm"


# Each loader's messages for a missing file, a directory and a path with a
# NUL byte (whose part before the NUL names a readable directory: it must not
# be read).
UNREADABLE = {
    "from_vcd": ("Failed to open {}: No such file or directory", "Failed to read {}: Is a directory",
                 "Failed to open {}: Invalid argument"),
    "from_fst": ("Failed to open {}: No such file or directory", "Failed to open {}: Is a directory",
                 "Failed to open {}: Invalid argument"),
    **{loader: ("Failed to read {}: No such file or directory", "Failed to read {}: Is a directory",
                "Failed to read {}: Invalid argument") for loader in ("from_fsdb", "from_vpd", "from_wlf")},
    "from_shm": ("DSN: No such file or directory", "No .dsn/.trn in {}", "DSN: Invalid argument"),
}


@pytest.mark.parametrize("loader", UNREADABLE)
@pytest.mark.parametrize("case", range(3), ids=["missing", "directory", "nul"])
def test_unreadable_path_is_a_trace_error_naming_it(tmp_path, loader, case):
    # By keyword and as a pathlib.Path, which every loader takes.
    path = [tmp_path / "missing", tmp_path, Path(f"{tmp_path}\0x.bin")][case]
    with pytest.raises(quarn.TraceError) as err:
        getattr(PyTrace, loader)(path=path)
    assert err.value.args == (UNREADABLE[loader][case].format(path),) and err.value.path == str(path)
    assert isinstance(err.value, ValueError)
    if case == 0 and loader == "from_vcd":  # quarn.open finds a missing file before choosing a reader
        with pytest.raises(quarn.TraceError, match=f"^{re.escape(err.value.args[0])}$"):
            quarn.open(path)


@pytest.mark.parametrize(
    ("loader", "data", "message"),
    [
        ("from_fst", b"$var wire 1 ! a $end\n#0\n1!\n", "FST open: not an FST file"),
        ("from_fst", b"", "FST open: empty file"),
        ("from_fst", b"\xfe" + bytes(16) + b"not gzip", "FST open: corrupt gzip wrapper"),
        ("from_fsdb", bytes(4) + b"\xfd\xe0\x99\xc1" + bytes(3), "FSDB file too small"),  # a valid magic
        ("from_fsdb", b"", "FSDB file too small"),
        ("from_fsdb", bytes(4) + b"\x12\x34\x56\x78" + bytes(4), "Not an FSDB file (magic=0x12345678)"),
        ("from_fsdb", bytes(7) + b"\xab" + bytes(4), "Not an FSDB file (magic=0x000000AB)"),
        ("from_vpd", b"\x78\x56\x34\x12" + bytes(123), "VPD file too small"),
        ("from_vpd", bytes(128), "Not a VPD file (magic=0x00000000)"),
        ("from_vpd", b"\x4d\x5a\x90\x00" + bytes(200), "Not a VPD file (magic=0x00905A4D)"),
        ("from_wlf", bytes(8191), "WLF file too small (< 1 page)"),
        ("from_wlf", b"", "WLF file too small (< 1 page)"),
        # quarn.open: a packed file cut short, and content of no known format named by what it holds.
        ("open", gzip.compress(SMALL_VCD.encode())[:-12], "Failed to read {}: corrupt gzip data"),
        ("open", bz2.compress(SMALL_VCD.encode())[:-8], "Failed to read {}: corrupt bzip2 data"),
        ("open", b"", ": found an empty file"),
        ("open", b"\x89PNG\r\n\x1a\n" + bytes(100), ": found a PNG image"),
        ("open", b"hello world\n", ": found text starting with 'hello world"),
        ("open", bytes(range(1, 40)), ": found binary data starting with 01 02 03"),
        ("open", gzip.compress(b"just text"), ": found gzip-packed text starting with 'just text'"),
    ],
)
def test_refused_content_is_a_value_error_with_fixed_text(write, loader, data, message):
    path = write(data)
    with pytest.raises(ValueError) as err:
        (quarn.open if loader == "open" else getattr(PyTrace, loader))(path)
    if loader == "open":
        assert message.format(path) in err.value.args[0]
    else:
        assert err.value.args == (message,)


@pytest.mark.parametrize(("loader", "bad"), zip(UNREADABLE, [3, b"x.fst", None, 1.5, [], b"x.dsn"]))
def test_path_argument_errors(loader, bad):
    message = f"argument 'path': '{type(bad).__name__}' object is not an instance of 'str'"
    with pytest.raises(TypeError, match=f"^{re.escape(message)}$"):
        getattr(PyTrace, loader)(bad)
    with pytest.raises(TypeError, match=re.escape(f"{loader}() missing 1 required positional argument: 'path'")):
        getattr(PyTrace, loader)()


def test_progress_hears_the_whole_file(tmp_path):
    path = tmp_path / "p.vcd"
    body = "".join(f"#{t}\nb1 !\n#{t + 5}\nb1x01 !\n#{t + 9}\nb11 !\n" for t in range(10, 20010, 10))
    path.write_text(SMALL_VCD + body)
    heard = []
    trace = quarn.open(path, progress=lambda done, total: heard.append((done, total)))
    assert len(trace) == 6003 and heard and heard[-1] == (path.stat().st_size, path.stat().st_size)
    assert [d for d, _ in heard] == sorted(d for d, _ in heard)
