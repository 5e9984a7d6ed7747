"""Load waveform traces (VCD and others) and query them from Python.

`quarn.open(path)` loads any supported trace, telling the format from the
file's content; `PyTrace` answers questions about it and `PyExpr` builds the
conditions that `PyTrace.find` searches for. See docs/guide.md.
"""

from ._core import PyExpr, PyTrace, TraceError, TraceWarning, detect_format
from ._open import open

__all__ = ["PyTrace", "PyExpr", "TraceError", "TraceWarning", "open", "detect_format"]
