"""Load waveform traces (VCD and others) and query them from Python."""

from ._core import PyExpr, PyTrace, TraceError, TraceWarning

__all__ = ["PyTrace", "PyExpr", "TraceError", "TraceWarning"]
