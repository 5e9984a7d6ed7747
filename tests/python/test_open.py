"""quarn.open: format detection from content, packed VCDs, os.PathLike paths."""

import bz2
import gzip
import shutil
import subprocess
from pathlib import Path

import numpy as np
import pytest

import quarn
from quarn import PyTrace

from conftest import corpus_dir, corpus_file

CORPUS = corpus_dir()
TRACES = sorted(p for p in CORPUS.rglob("*") if p.suffix in (".vcd", ".fst"))
SMALL_VCD = "$timescale 1ns $end\n$var wire 4 ! d $end\n$enddefinitions $end\n#0\nb1 !\n#5\nb1x01 !\n#9\nb11 !\n"


@pytest.mark.parametrize("path", TRACES, ids=lambda p: str(p.relative_to(CORPUS)))
def test_corpus_format_comes_from_content(path, tmp_path):
    # Renamed to hide the extension: only the content can tell.
    hidden = tmp_path / "trace.bin"
    shutil.copyfile(path, hidden)
    side = Path(f"{path}.hier")  # an interrupted FST's hierarchy goes by the file's name
    if side.exists():
        shutil.copyfile(side, f"{hidden}.hier")
    assert quarn.detect_format(hidden)[0] == path.suffix[1:]
    try:
        direct = (PyTrace.from_vcd if path.suffix == ".vcd" else PyTrace.from_fst)(str(path))
    except ValueError:
        return  # broken on purpose; open must refuse it the same way
    opened = quarn.open(hidden)
    assert opened.signal_names() == direct.signal_names()
    assert np.array_equal(opened.times(), direct.times())


def same_trace(a: PyTrace, b: PyTrace) -> None:
    assert a.signal_names() == b.signal_names() and np.array_equal(a.times(), b.times())
    for name in a.signal_names():
        assert a.signal_values_range(name, 0, len(a)) == b.signal_values_range(name, 0, len(b))
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
    # Members or streams one after another, as `cat a.gz b.gz` makes.
    "gz-members": lambda d: gzip.compress(d[:1000]) + gzip.compress(d[1000:]),
    "bz2-streams": lambda d: bz2.compress(d[:1000]) + bz2.compress(d[1000:]),
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


@pytest.mark.parametrize(
    ("content", "message"),
    [
        (gzip.compress(SMALL_VCD.encode())[:-12], "corrupt gzip data"),
        (bz2.compress(SMALL_VCD.encode())[:-8], "corrupt bzip2 data"),
    ],
)
def test_cut_packed_file_is_an_error(tmp_path, content, message):
    path = tmp_path / "cut.vcd.gz"
    path.write_bytes(content)
    with pytest.raises(ValueError, match=message):
        quarn.open(path)


@pytest.mark.parametrize(
    ("content", "found"),
    [
        (b"", "an empty file"),
        (b"\x89PNG\r\n\x1a\n" + bytes(100), "a PNG image"),
        (b"hello world\n", "text starting with 'hello world"),
        (bytes(range(1, 40)), "binary data starting with 01 02 03"),
        (gzip.compress(b"just text"), "gzip-packed text starting with 'just text'"),
    ],
)
def test_unknown_content_names_what_was_found(tmp_path, content, found):
    path = tmp_path / "mystery"
    path.write_bytes(content)
    with pytest.raises(ValueError, match=f": found {found}"):
        quarn.open(path)


def test_shm_directory_and_empty_directory(tmp_path):
    assert quarn.detect_format(tmp_path) == ("unknown", "a directory without SHM design (.dsn) or transition (.trn) files")
    (tmp_path / "x.dsn").write_bytes(bytes(8))
    assert quarn.detect_format(tmp_path)[0] == "shm"


@pytest.mark.parametrize(
    ("loader", "source"),
    [(PyTrace.from_vcd, "icarus/CPU.vcd"), (PyTrace.from_fst, "icarus/CPU.vcd.fst"), (quarn.open, "icarus/CPU.vcd")],
)
def test_loaders_take_path_objects(loader, source):
    trace = loader(corpus_file(source))
    assert str(corpus_file(source)) in repr(trace)


@pytest.mark.parametrize("loader", [PyTrace.from_fsdb, PyTrace.from_vpd, PyTrace.from_wlf, PyTrace.from_shm])
def test_vendor_loaders_take_path_objects(loader, tmp_path):
    # Accepted as a path (a refused argument would be a TypeError).
    with pytest.raises(ValueError):
        loader(tmp_path / "missing")


def test_missing_file_keeps_the_readers_message(tmp_path):
    with pytest.raises(ValueError, match="^Failed to open .*missing.vcd: No such file"):
        quarn.open(tmp_path / "missing.vcd")


def test_progress_hears_the_whole_file(tmp_path):
    path = tmp_path / "p.vcd"
    body = "".join(f"#{t}\nb1 !\n#{t + 5}\nb1x01 !\n#{t + 9}\nb11 !\n" for t in range(10, 20010, 10))
    path.write_text(SMALL_VCD + body)
    heard = []
    trace = quarn.open(path, progress=lambda done, total: heard.append((done, total)))
    assert len(trace) == 6003 and heard and heard[-1] == (path.stat().st_size, path.stat().st_size)
    assert [d for d, _ in heard] == sorted(d for d, _ in heard)
