"""Per-signal change lists of a loaded trace, for comparing readers.

A change list is [(time, value), ...] with each entry differing from the one
before; a value is an int (two-state bits), a float, a str (text), or
("bits", "01xz...") for a vector holding other states than 0 and 1.
"""

import math
from pathlib import Path

CORPUS = Path(__file__).resolve().parents[2].parent / "shared" / "corpus"


def corpus_files(*suffixes: str) -> list[Path]:
    if not CORPUS.is_dir():
        return []
    return sorted(p for p in CORPUS.rglob("*") if p.is_file() and p.name.endswith(suffixes))


def corpus_id(path: Path) -> str:
    return str(path.relative_to(CORPUS))


def same(a, b) -> bool:
    """Equality in which NaN equals NaN: a NaN held on is no change."""
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    return type(a) is type(b) and a == b


def same_changes(a: list, b: list) -> bool:
    return len(a) == len(b) and all(ta == tb and same(va, vb) for (ta, va), (tb, vb) in zip(a, b))


def changes(pairs) -> list:
    """`pairs` of (time, value) with repeats of the previous value dropped and
    a leading None (nothing known yet) left out."""
    out = []
    for time, value in pairs:
        if out and same(out[-1][1], value):
            continue
        if not out and value is None:
            continue
        out.append((time, value))
    return out


def quarn_value(trace, name: str, index: int, value):
    if value is not None or not hasattr(trace, "signal_bits"):
        return value
    bits = trace.signal_bits(name, index)
    return None if bits is None else ("bits", bits.lower())


def timestamps(trace) -> list[int]:
    return [trace.timestamp(i) for i in range(trace.max_index() + 1)]


def quarn_changes(trace, name: str, times: list[int]) -> list:
    """Changes of `name`; `times` is timestamps(trace), passed in so that it
    is read once per trace. Read from the value at index 0 and the
    transitions, so a long trace costs its changes, not its steps."""
    if not times:
        return []
    pairs = [(times[0], quarn_value(trace, name, 0, trace.signal_value(name, 0)))]
    pairs += [(times[i], quarn_value(trace, name, i, new)) for i, _, new in trace.transitions(name)]
    return changes(pairs)
