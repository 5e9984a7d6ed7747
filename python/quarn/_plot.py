"""`PyTrace.plot` and `quarn plot`: a waveform picture with matplotlib."""

from __future__ import annotations

from typing import TYPE_CHECKING, Sequence

import numpy as np

from ._frames import index_window

if TYPE_CHECKING:
    from matplotlib.figure import Figure

    from ._core import PyTrace

UNKNOWN_COLOR = "#d62728"
WAVE_COLOR = "#1f4e79"
ROW_HEIGHT = 0.8  # of each signal's unit-high row


def import_figure():
    try:
        from matplotlib.figure import Figure
    except ImportError as err:
        raise ImportError("plot needs matplotlib: pip install 'quarn[plot]' (or pip install matplotlib)") from err
    return Figure


def runs(values: np.ndarray, unknown: np.ndarray) -> np.ndarray:
    """Positions where a run of equal values (and equal unknown flags) starts."""
    if len(values) == 0:
        return np.zeros(0, dtype=np.int64)
    if values.dtype == object:
        same = np.array([a == b for a, b in zip(values[1:], values[:-1])], dtype=bool)
    elif values.dtype == np.float64:
        same = (values[1:] == values[:-1]) | (np.isnan(values[1:]) & np.isnan(values[:-1]))
    else:
        same = values[1:] == values[:-1]
    same &= unknown[1:] == unknown[:-1]
    return np.concatenate(([0], np.flatnonzero(~same) + 1))


def label(value: object, kind: str) -> str:
    if value is None:
        return ""
    if kind == "string":
        return str(value)
    return f"{int(value):x}"


def draw_bit(ax, base: float, xs, ends, values, unknown) -> None:
    for x0, x1, v, u in zip(xs, ends, values, unknown):
        if u:
            ax.fill_between([x0, x1], base, base + ROW_HEIGHT, color=UNKNOWN_COLOR, alpha=0.35, linewidth=0)
            ax.plot([x0, x1], [base + ROW_HEIGHT / 2] * 2, color=UNKNOWN_COLOR, linewidth=1.2)
        else:
            y = base + (ROW_HEIGHT if v else 0)
            ax.plot([x0, x1], [y, y], color=WAVE_COLOR, linewidth=1.2)
    # Edges between runs, so the steps join.
    levels = [base + ROW_HEIGHT / 2 if u else base + (ROW_HEIGHT if v else 0) for v, u in zip(values, unknown)]
    for x, a, b in zip(xs[1:], levels[:-1], levels[1:]):
        ax.plot([x, x], [a, b], color=WAVE_COLOR, linewidth=1.2)


def draw_bus(ax, base: float, xs, ends, values, unknown, kind: str, slope: float, char_width: float) -> None:
    mid, top = base + ROW_HEIGHT / 2, base + ROW_HEIGHT
    for x0, x1, v, u in zip(xs, ends, values, unknown):
        d = min(slope, (x1 - x0) / 2)
        hexagon = [(x0, mid), (x0 + d, top), (x1 - d, top), (x1, mid), (x1 - d, base), (x0 + d, base), (x0, mid)]
        px, py = zip(*hexagon)
        color = UNKNOWN_COLOR if u else WAVE_COLOR
        if u:
            ax.fill(px, py, color=UNKNOWN_COLOR, alpha=0.35, linewidth=0)
        ax.plot(px, py, color=color, linewidth=1.0)
        text = "x" if u and v in (None, 0) else label(v, kind)
        room = (x1 - x0 - 2 * d) / char_width
        if text and room >= min(len(text), 3):
            if len(text) > room:
                text = text[: int(room) - 1] + "…"
            ax.text((x0 + x1) / 2, mid, text, ha="center", va="center", fontsize=8, color=color, clip_on=True)


def draw_real(ax, base: float, xs, ends, values, unknown) -> None:
    known = values[~unknown] if len(values) else values
    lo, hi = (float(np.nanmin(known)), float(np.nanmax(known))) if len(known) else (0.0, 1.0)
    span = hi - lo or 1.0
    ys = base + (values - lo) / span * ROW_HEIGHT
    # A line held between changes and joined at each change, broken where unknown.
    ys = np.where(unknown | np.isnan(values), np.nan, ys)
    ax.step(np.append(xs, ends[-1]), np.append(ys, ys[-1]), where="post", color=WAVE_COLOR, linewidth=1.2)
    for x0, x1, u, v in zip(xs, ends, unknown, values):
        if u or np.isnan(v):
            ax.fill_between([x0, x1], base, base + ROW_HEIGHT, color=UNKNOWN_COLOR, alpha=0.35, linewidth=0)


def plot(
    trace: PyTrace,
    names: Sequence[str],
    t0: int | str | None = None,
    t1: int | str | None = None,
    *,
    width: float = 10.0,
) -> Figure:
    Figure = import_figure()
    if isinstance(names, str):
        names = [names]
    times = trace.times()
    first, stop = index_window(trace, t0, t1)
    fig = Figure(figsize=(width, 0.6 * len(names) + 1.0))
    ax = fig.add_subplot()
    if stop <= first:
        ax.set_title("no time steps in this window")
        return fig
    start_time = int(times[first]) if t0 is None else max(int(times[first]), _ticks(trace, t0))
    end_time = int(times[stop - 1]) if t1 is None else _ticks(trace, t1)
    if end_time <= start_time:
        end_time = start_time + 1
    step_times = times[first:stop].astype(np.float64)
    step_times[0] = max(step_times[0], start_time)
    slope = (end_time - start_time) / 200
    char_width = (end_time - start_time) / (width * 72 / 5.5)  # about one 8-point character
    for row, name in enumerate(names):
        base = len(names) - 1 - row + (1 - ROW_HEIGHT) / 2
        values, unknown = trace.values(name, first, stop)
        kind = trace.signal_kind(name)
        at = runs(values, unknown)
        xs = step_times[at]
        ends = np.append(xs[1:], end_time)
        v, u = values[at], unknown[at]
        if kind == "bit":
            draw_bit(ax, base, xs, ends, v, u)
        elif kind == "real":
            draw_real(ax, base, xs, ends, v, u)
        else:
            draw_bus(ax, base, xs, ends, v, u, kind, slope, char_width)
    ax.set_yticks([len(names) - 1 - r + 0.5 for r in range(len(names))], labels=list(names))
    ax.set_ylim(0, len(names))
    ax.set_xlim(start_time, end_time)
    scale = trace.timescale()
    ax.set_xlabel(f"time (x {scale[0]} {scale[1]})" if scale else "time (ticks)")
    for side in ("top", "right", "left"):
        ax.spines[side].set_visible(False)
    ax.tick_params(axis="y", length=0)
    ax.grid(axis="x", color="#dddddd", linewidth=0.5)
    fig.tight_layout()
    return fig


def _ticks(trace: PyTrace, time: int | str) -> int:
    return trace.ticks(time)
