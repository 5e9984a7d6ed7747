"""Load waveform traces (VCD and others) and query them from Python.

`quarn.open(path)` loads any supported trace, telling the format from the
file's content; `PyTrace` answers questions about it and `PyExpr` builds the
conditions that `PyTrace.find` searches for. See docs/guide.md.
"""

from ._core import PyExpr, PyTrace, TraceError, TraceWarning, detect_format
from ._open import open
from .batch import batch

__all__ = ["PyTrace", "PyExpr", "TraceError", "TraceWarning", "open", "batch", "detect_format", "Cycles", "CheckResult"]


def __getattr__(name: str):
    # numpy is needed only by the cycle views, so they load on first use.
    if name in ("Cycles", "CheckResult"):
        from . import cycles

        return getattr(cycles, name)
    raise AttributeError(f"module 'quarn' has no attribute {name!r}")
