"""Deep-hierarchy input: scopes nested DEPTH levels deep, FANOUT children per
scope, a few signals in each, and STEPS timestamps that each toggle a clock
and change CHANGES signals picked at random (1-bit toggles, vectors take
random values). Many scopes and long dotted names, little value data per
step: the shape of a dump of a deeply instantiated design. Seeded, so the
same file every run.
"""

from __future__ import annotations

import hashlib
import random
from dataclasses import dataclass
from pathlib import Path

GENERATOR_VERSION = 1
SEED = 20261207


@dataclass(frozen=True)
class DeepParams:
    depth: int = 8
    fanout: int = 3
    signals_per_scope: int = 2
    steps: int = 100_000
    changes: int = 14

    @property
    def label(self) -> str:
        return f"deep_hier-{self.depth}d{self.fanout}f-{self.steps}t"


FULL = DeepParams()


def _code(n: int) -> str:
    """A VCD identifier code for the n-th signal."""
    chars = []
    n += 1
    while n:
        n, r = divmod(n - 1, 94)
        chars.append(chr(33 + r))
    return "".join(chars)


def target(params: DeepParams, out_dir: Path) -> Path:
    key = hashlib.sha256(f"{GENERATOR_VERSION} {SEED} {params}".encode()).hexdigest()[:10]
    return out_dir / f"{params.label}-{key}.vcd"


def generate(params: DeepParams, path: Path) -> None:
    rng = random.Random(SEED)
    widths: list[int] = [1]  # the clock
    header = ["$timescale 1ps $end\n", "$scope module top $end\n", f"$var wire 1 {_code(0)} clk $end\n"]

    def scope(level: int) -> None:
        for s in range(params.signals_per_scope):
            width = rng.choice((1, 1, 4, 8, 16, 32))
            header.append(f"$var wire {width} {_code(len(widths))} sig{s} $end\n")
            widths.append(width)
        if level == params.depth:
            return
        for child in range(params.fanout):
            header.append(f"$scope module lvl{level}_u{child} $end\n")
            scope(level + 1)
            header.append("$upscope $end\n")

    scope(1)
    header.append("$upscope $end\n$enddefinitions $end\n")
    values = [0] * len(widths)

    def change(k: int) -> str:
        if widths[k] == 1:
            return f"{values[k]}{_code(k)}\n"
        return f"b{values[k]:b} {_code(k)}\n"

    tmp = path.with_suffix(".tmp")
    with open(tmp, "w", encoding="ascii") as f:
        f.write("".join(header))
        f.write("#0\n$dumpvars\n" + "".join(change(k) for k in range(len(widths))) + "$end\n")
        out: list[str] = []
        for step in range(1, params.steps):
            out.append(f"#{step * 5}\n")
            values[0] ^= 1
            out.append(change(0))
            for k in rng.sample(range(1, len(widths)), params.changes):
                values[k] = values[k] ^ 1 if widths[k] == 1 else rng.getrandbits(widths[k])
                out.append(change(k))
            if len(out) > 50_000:
                f.write("".join(out))
                out.clear()
        f.write("".join(out))
    tmp.replace(path)


def prepare(out_dir: Path, params: DeepParams = FULL) -> Path:
    """The cached VCD, generated when missing (stale ones removed first)."""
    path = target(params, out_dir)
    if path.exists():
        return path
    out_dir.mkdir(parents=True, exist_ok=True)
    for old in out_dir.glob("deep_hier-*.vcd"):
        old.unlink()
    print(f"generating {path.name} ...", flush=True)
    generate(params, path)
    return path


if __name__ == "__main__":
    print(prepare(Path(__file__).resolve().parent / "out"))
