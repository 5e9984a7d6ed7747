"""Clock-cycle views of a trace: sampled values, temporal expressions,
sequence matches and property checks, as numpy arrays."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Sequence

import numpy as np

from ._core import PyCycles, PyTrace

_EDGES = {"rise": 0, "fall": 1, "both": 2}
_SAMPLES = {"before": False, "after": True}


def _u64(data: bytes) -> np.ndarray:
    return np.frombuffer(data, dtype=np.uint64)


def _time_value(trace: PyTrace, value: int | str) -> int:
    """A time in the trace's ticks; strings such as '1.2us' go through its timescale."""
    return value if isinstance(value, int) else trace.ticks(value)


def _first_index_after(trace: PyTrace, time: int, inclusive: bool) -> int:
    """First index whose timestamp is >= time (> time when not inclusive)."""
    lo, hi = 0, trace.max_index() + 1
    while lo < hi:
        mid = (lo + hi) // 2
        t = trace.timestamp(mid)
        if t < time or (not inclusive and t == time):
            lo = mid + 1
        else:
            hi = mid
    return lo


def make_cycles(
    trace: PyTrace,
    clock: str,
    edge: str = "rise",
    start: int | str | None = None,
    end: int | str | None = None,
    sample: str = "before",
) -> "Cycles":
    """`PyTrace.cycles`: the trace sampled at `clock`'s edges ("rise", "fall"
    or "both") between the times `start` and `end` (both included). A cycle
    reads each signal as it was just before the edge's time step (what a flop
    clocked by the edge sees), or at the end of that step with sample="after".
    An unknown clock name raises KeyError."""
    if edge not in _EDGES:
        raise ValueError(f"edge must be 'rise', 'fall' or 'both', not {edge!r}")
    if sample not in _SAMPLES:
        raise ValueError(f"sample must be 'before' or 'after', not {sample!r}")
    first = 0 if start is None else _first_index_after(trace, _time_value(trace, start), True)
    stop = trace.max_index() + 1 if end is None else _first_index_after(trace, _time_value(trace, end), False)
    return Cycles(PyCycles.sample(trace, clock, _EDGES[edge], first, max(first, stop), _SAMPLES[sample]), trace)


@dataclass(frozen=True)
class CheckResult:
    """Outcome of `Cycles.check`: one attempt per cycle, each passed, failed,
    vacuous (an implication whose antecedent never matched), pending (still
    undecided when the trace ends; not a failure) or disabled. The failure
    arrays hold, per failed attempt, its start cycle, the cycle at which the
    failure became certain, and their times. True when nothing failed."""

    attempts: int
    passed: int
    failed: int
    vacuous: int
    pending: int
    disabled: int
    failure_start: np.ndarray
    failure_cycle: np.ndarray
    failure_start_time: np.ndarray
    failure_time: np.ndarray

    def __bool__(self) -> bool:
        return self.failed == 0

    def counts(self) -> dict[str, int]:
        return {k: getattr(self, k) for k in ("attempts", "passed", "failed", "vacuous", "pending", "disabled")}


class Cycles:
    """A trace seen once per clock cycle (made by `PyTrace.cycles`).

    Expressions are strings in the expression language plus the temporal
    functions $rose, $fell, $stable, $changed, $past(x[, n]), $countones,
    $onehot, $onehot0, $isunknown (the '$' may be left out), all on sampled
    values; prev/next step by cycles. Syntax errors raise ValueError with the
    column."""

    def __init__(self, core: PyCycles, trace: PyTrace) -> None:
        self._core = core
        self.trace = trace

    def __len__(self) -> int:
        return self._core.cycle_count()

    def __repr__(self) -> str:
        return f"<quarn.Cycles {len(self)} cycles>"

    def times(self) -> np.ndarray:
        """Time of each sampling edge (uint64)."""
        return _u64(self._core.times())

    def indices(self) -> np.ndarray:
        """Trace index of each sampling edge (uint64)."""
        return _u64(self._core.indices())

    def eval(self, expr: str) -> np.ma.MaskedArray:
        """Value of `expr` at each cycle as uint64, masked where it has no
        numeric value (X/Z bits, no value yet, or a cycle before $past reaches)."""
        values, unknown = self._core.eval(expr)
        return np.ma.MaskedArray(_u64(values), mask=np.frombuffer(unknown, dtype=np.bool_))

    def values(self, name: str) -> np.ma.MaskedArray:
        """Sampled value of the signal `name` at each cycle (see `eval`)."""
        if self.trace.signal_id(name) is None:
            raise KeyError(f"no signal named {name!r}")
        return self.eval(name)

    def unknown(self, name: str) -> np.ndarray:
        """True at the cycles where `name` holds X/Z bits or no value."""
        return np.ma.getmaskarray(self.values(name)).copy()

    def find(self, expr: str) -> np.ndarray:
        """Cycles (uint64) at which `expr` holds."""
        return _u64(self._core.find(expr))

    def count(self, expr: str) -> int:
        """Number of cycles at which `expr` holds."""
        return self._core.count(expr)

    def matches(self, seq: str, parallel: bool = True) -> tuple[np.ndarray, np.ndarray]:
        """(start, end) cycle arrays: one row per start cycle from which the
        sequence matches, with its earliest end."""
        start, end = self._core.matches(seq, parallel)
        return _u64(start), _u64(end)

    def check(self, prop: str, disable_iff: str | None = None, parallel: bool = True) -> CheckResult:
        """Checks the property with one attempt per cycle; `disable_iff` adds
        a disable condition."""
        r = self._core.check(prop, disable_iff, parallel)
        arrays = {k: _u64(r[k]) for k in ("failure_start", "failure_cycle", "failure_start_time", "failure_time")}
        return CheckResult(
            r["attempts"], r["passed"], r["failed"], r["vacuous"], r["pending"], r["disabled"], **arrays
        )

    def to_pandas(self, names: Sequence[str]):
        """A DataFrame with one row per cycle: its time, then the sampled value
        of each name (nullable UInt64; <NA> where unknown)."""
        try:
            import pandas as pd
        except ImportError as e:
            raise ImportError("Cycles.to_pandas needs pandas: pip install 'quarn[pandas]'") from e
        columns = {"time": self.times()}
        for name in names:
            v = self.values(name)
            columns[name] = pd.array(v.data, dtype="UInt64", copy=True)
            columns[name][np.ma.getmaskarray(v)] = pd.NA
        return pd.DataFrame(columns)
