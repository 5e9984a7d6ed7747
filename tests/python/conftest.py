import os
from pathlib import Path

import pytest

from quarn import PyTrace

# The small trace that most access tests read: clk is 1 at index 0 (#0) and
# X at index 1 (#5).
CLK_VCD = "$var wire 1 ! clk $end\n#0\n1!\n#5\nx!\n"


@pytest.fixture
def clk_trace() -> PyTrace:
    return PyTrace.from_vcd_string(CLK_VCD)


@pytest.fixture
def write(tmp_path):
    """write(data, name) puts a byte image in the test's directory and gives its path."""
    def write_file(data: bytes, name: str = "t.bin") -> str:
        path = tmp_path / name
        path.write_bytes(data)
        return str(path)

    return write_file


def c_strings(*texts: str) -> bytes:
    return b"".join(t.encode() + b"\0" for t in texts)


def corpus_dir() -> Path:
    """The shared corpus: $QUARN_CORPUS, else ../shared/corpus beside the repository."""
    return Path(os.environ.get("QUARN_CORPUS") or Path(__file__).resolve().parents[2].parent / "shared" / "corpus")


def corpus_file(relative: str) -> Path:
    path = corpus_dir() / relative
    if not path.exists():
        pytest.skip(f"{relative} not in the corpus")
    return path
