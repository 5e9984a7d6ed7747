"""Load waveform traces (VCD and others) and query them from Python."""

from ._core import PyExpr, PyTrace

__all__ = ["PyTrace", "PyExpr", "Cycles", "CheckResult"]


def __getattr__(name: str):
    # numpy is needed only by the cycle views, so they load on first use.
    if name in ("Cycles", "CheckResult"):
        from . import cycles

        return getattr(cycles, name)
    raise AttributeError(f"module 'quarn' has no attribute {name!r}")
