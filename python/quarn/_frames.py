"""`PyTrace.to_pandas`: values of several signals as one DataFrame."""

from __future__ import annotations

from typing import TYPE_CHECKING, Sequence

import numpy as np

if TYPE_CHECKING:
    import pandas

    from ._core import PyTrace


def import_pandas():
    try:
        import pandas
    except ImportError as err:
        raise ImportError("to_pandas needs pandas: pip install 'quarn[pandas]' (or pip install pandas)") from err
    return pandas


def index_window(trace: PyTrace, start: int | str | None, end: int | str | None) -> tuple[int, int]:
    """The (first, end) indices in force between two times; None: the trace's ends."""
    times = trace.times()
    if len(times) == 0:
        return 0, 0
    t0 = int(times[0]) if start is None else start
    t1 = int(times[-1]) if end is None else end
    return trace.window(t0, t1)


def column(pd, values: np.ndarray, unknown: np.ndarray):
    """Numbers with x/z or no value become <NA> in a nullable integer column."""
    if values.dtype == np.uint64 and unknown.any():
        return pd.arrays.IntegerArray(values.copy(), unknown.copy())
    return values


def to_pandas(
    trace: PyTrace,
    names: Sequence[str],
    start: int | str | None = None,
    end: int | str | None = None,
    index: str = "time",
) -> pandas.DataFrame:
    pd = import_pandas()
    if isinstance(names, str):
        names = [names]
    if index not in ("time", "index"):
        raise ValueError(f"index must be 'time' or 'index', not {index!r}")
    first, stop = index_window(trace, start, end)
    data = {}
    for name in names:
        values, unknown = trace.values(name, first, stop)
        data[name] = column(pd, values, unknown)
    if index == "time":
        labels = pd.Index(trace.times()[first:stop], name="time")
    else:
        labels = pd.RangeIndex(first, stop, name="index")
    return pd.DataFrame(data, index=labels)
