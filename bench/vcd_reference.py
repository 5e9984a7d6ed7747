"""A small, slow, independent VCD reader that gives the answers the load
benchmark checks quarn against.

It follows quarn's documented reading of VCD (hierarchical names, names cut
at "[", aliases sharing one identifier code, changes before the first
timestamp kept at index 0, scalar x and any x/z vector read as None,
two-state vectors as full unsigned ints), but only for the plain text our
generators and Icarus Verilog write: ASCII, one item per line. It is not a
general VCD reader.
"""

from __future__ import annotations

import bisect
from dataclasses import dataclass, field


@dataclass
class Header:
    names: list[str] = field(default_factory=list)  # each once, first-declared order
    scopes: list[str] = field(default_factory=list)  # each once, first-appearance order
    var_code: dict[str, str] = field(default_factory=dict)  # name -> code of its last declaration
    var_width: dict[str, int] = field(default_factory=dict)  # name -> width of its last declaration


def _parse_width(text: str) -> int:
    digits = text[1:] if text.startswith("+") else text
    if digits and digits.isascii() and digits.isdigit() and int(digits) < 2**32:
        return int(digits)
    return 1


def read_header(path: str) -> Header:
    """Declarations up to the first timestamp line."""
    header = Header()
    seen_scopes: set[str] = set()
    stack: list[str] = []
    with open(path, "r", encoding="ascii", errors="replace") as f:
        for raw in f:
            line = raw.strip()
            if line.startswith("#"):
                break
            if line.startswith("$scope"):
                fields = line.split()
                if len(fields) >= 3:
                    stack.append(fields[2])
                    path_name = ".".join(stack)
                    if path_name not in seen_scopes:
                        seen_scopes.add(path_name)
                        header.scopes.append(path_name)
            elif line.startswith("$upscope"):
                if stack:
                    stack.pop()
            elif line.startswith("$var"):
                fields = line.split()
                if len(fields) < 5:
                    continue
                ref = fields[4].split("[", 1)[0]
                name = ".".join(stack + [ref]) if stack else ref
                if name not in header.var_code:
                    header.names.append(name)
                header.var_code[name] = fields[3]
                header.var_width[name] = _parse_width(fields[2])
    return header


def split_change(line: str) -> tuple[str, str] | None:
    """(code, value text) of a trimmed value-change line; None if it is not one."""
    c = line[:1]
    if c in ("0", "1", "x", "X", "z", "Z"):
        return line[1:], c
    if c in ("b", "B"):
        digits, sep, code = line[1:].partition(" ")
        return (code.strip(), "b" + digits) if sep else None
    return None


def decode_value(text: str) -> int | None:
    """Python value of a scalar digit or a "b"-prefixed vector value."""
    if text in ("0", "1"):
        return int(text)
    digits = text[1:] if text[:1] == "b" else ""
    if not digits or any(d in "xXzZ" for d in digits):
        return None
    return int("".join("1" if d == "1" else "0" for d in digits), 2)


@dataclass
class Changes:
    times: list[int]  # time of each index
    history: dict[str, tuple[list[int], list[int | None]]]  # code -> (indices, values)

    def value_at(self, code: str, index: int) -> int | None:
        indices, values = self.history.get(code, ([], []))
        pos = bisect.bisect_right(indices, index) - 1
        return values[pos] if pos >= 0 else None


def record_changes(path: str, codes: set[str]) -> Changes:
    """Timestamps, and every change of the given identifier codes."""
    times: list[int] = []
    history: dict[str, tuple[list[int], list[int | None]]] = {c: ([], []) for c in codes}
    index = 0
    with open(path, "r", encoding="ascii", errors="replace") as f:
        for raw in f:
            line = raw.strip()
            if not line:
                continue
            c = line[0]
            if c == "#":
                rest = line[1:].strip()
                times.append(int(rest) if rest.isdigit() else 0)
                index = len(times) - 1
                continue
            if c == "$":
                continue
            change = split_change(line)
            if change is None or change[0] not in history:
                continue
            value = decode_value(change[1])
            indices, values = history[change[0]]
            if indices and indices[-1] == index:
                values[-1] = value  # several changes at one index: the last counts
            else:
                indices.append(index)
                values.append(value)
    return Changes(times, history)
