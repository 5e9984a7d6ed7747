"""`quarn check` (SVA-style properties on the clock cycles of a trace; exit
status 1 when one fails) and `quarn cycles` (the sampled table)."""

from __future__ import annotations

import argparse
import csv
import json
import sys
from pathlib import Path
from typing import Sequence

from ._core import PyTrace

SHOWN_FAILURES = 5


def load(path: str) -> PyTrace:
    """The trace at `path`, whatever its format."""
    from ._open import open as open_trace

    return open_trace(path)


def read_props(text: str) -> list[tuple[str, str]]:
    """`name: property` per line; blank lines and lines starting with # skipped.
    A line without a name is named after its line number."""
    props = []
    for number, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        name, sep, prop = line.partition(":")
        # A ':' inside brackets belongs to a range such as ##[1:3].
        if sep and "[" not in name and "(" not in name:
            props.append((name.strip(), prop.strip()))
        else:
            props.append((f"line{number}", line))
    return props


def _add_cycle_options(p: argparse.ArgumentParser) -> None:
    p.add_argument("path", metavar="PATH", help="trace file")
    p.add_argument("--clock", required=True, help="clock signal, e.g. top.clk")
    p.add_argument("--edge", choices=("rise", "fall", "both"), default="rise")
    p.add_argument("--sample", choices=("before", "after"), default="before",
                   help="read signals just before the edge (as a flop does) or after it")
    p.add_argument("--from", dest="start", help="first time (int, or with a unit: 1.2us)")
    p.add_argument("--to", dest="end", help="last time")
    p.add_argument("--json", action="store_true", help="machine-readable output")


def add_commands(commands) -> None:
    """Registers `check` and `cycles` on the subcommand parsers of `quarn`."""
    check = commands.add_parser("check", help="check SVA-style properties on clock cycles; exit 1 on failure")
    _add_cycle_options(check)
    check.add_argument("props", nargs="*", metavar="PROP", help="property, e.g. 'req |-> ##[1:8] ack'")
    check.add_argument("--props", dest="props_file", metavar="FILE", help="file of 'name: property' lines")
    check.add_argument("--disable-iff", help="condition that disables every attempt while it holds")
    check.add_argument("--max-failures", type=int, default=SHOWN_FAILURES, help="failures shown per property")
    check.set_defaults(func=run_check)
    cycles = commands.add_parser("cycles", help="print signals sampled at each clock edge")
    _add_cycle_options(cycles)
    cycles.add_argument("names", nargs="*", metavar="NAME")
    cycles.add_argument("--csv", metavar="OUT", help="write CSV to OUT ('-' for stdout)")
    cycles.set_defaults(func=run_cycles)


def take_extra(args, extra: list[str]) -> bool:
    """Positionals given after the options (`check PATH --clock c PROP`),
    which argparse leaves over once PATH has ended the first group."""
    if any(e.startswith("-") for e in extra):
        return False
    if getattr(args, "func", None) is run_check:
        args.props += extra
    elif getattr(args, "func", None) is run_cycles:
        args.names += extra
    else:
        return False
    return True


def _cycles(args):
    trace = load(args.path)
    start = int(args.start) if args.start and args.start.isdigit() else args.start
    end = int(args.end) if args.end and args.end.isdigit() else args.end
    return trace.cycles(args.clock, edge=args.edge, start=start, end=end, sample=args.sample)


def run_check(args) -> int:
    props = [(f"prop{k}", p) for k, p in enumerate(args.props, 1)]
    if args.props_file:
        props += read_props(Path(args.props_file).read_text())
    if not props:
        print("quarn: error: no property given (PROP or --props FILE)", file=sys.stderr)
        return 2
    try:
        cycles = _cycles(args)
        results = [(name, prop, cycles.check(prop, disable_iff=args.disable_iff)) for name, prop in props]
    except (ValueError, KeyError) as err:
        print(f"quarn: error: {err}", file=sys.stderr)
        return 2
    failed = any(not r for _, _, r in results)
    if args.json:
        out = []
        for name, prop, r in results:
            shown = range(min(len(r.failure_start), args.max_failures))
            out.append({
                "name": name, "property": prop, **r.counts(),
                "failures": [{"start_cycle": int(r.failure_start[k]), "cycle": int(r.failure_cycle[k]),
                              "start_time": int(r.failure_start_time[k]), "time": int(r.failure_time[k])}
                             for k in shown],
            })
        print(json.dumps({"cycles": len(cycles), "passed": not failed, "properties": out}, indent=2))
        return 1 if failed else 0
    for name, prop, r in results:
        counts = "  ".join(f"{k}={v}" for k, v in r.counts().items())
        print(f"{'PASS' if r else 'FAIL'}  {name}: {prop}\n      {counts}")
        for k in range(min(len(r.failure_start), args.max_failures)):
            print(f"      failed: started cycle {r.failure_start[k]} (time {r.failure_start_time[k]}),"
                  f" certain at cycle {r.failure_cycle[k]} (time {r.failure_time[k]})")
        if len(r.failure_start) > args.max_failures:
            print(f"      ... {len(r.failure_start) - args.max_failures} more failures")
    return 1 if failed else 0


def run_cycles(args) -> int:
    if not args.names:
        print("quarn: error: no signal NAME given", file=sys.stderr)
        return 2
    try:
        cycles = _cycles(args)
        columns = [cycles.values(name) for name in args.names]
    except (ValueError, KeyError) as err:
        print(f"quarn: error: {err}", file=sys.stderr)
        return 2
    times = cycles.times().tolist()
    rows = [[k, t] + [None if col.mask[k] else int(col.data[k]) for col in columns] for k, t in enumerate(times)]
    header = ["cycle", "time"] + list(args.names)
    if args.json:
        print(json.dumps({"columns": header, "rows": rows}))
    elif args.csv:
        with (open(args.csv, "w", newline="") if args.csv != "-" else _stdout()) as f:
            writer = csv.writer(f)
            writer.writerow(header)
            writer.writerows([["" if v is None else v for v in row] for row in rows])
    else:
        text = [[str(v) for v in header]] + [["x" if v is None else str(v) for v in row] for row in rows]
        widths = [max(len(r[c]) for r in text) for c in range(len(header))]
        for r in text:
            print("  ".join(f"{v:>{w}}" for v, w in zip(r, widths)))
    return 0


class _stdout:
    def __enter__(self):
        return sys.stdout

    def __exit__(self, *exc):
        return False


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="quarn")
    add_commands(parser.add_subparsers(dest="command", required=True))
    args, extra = parser.parse_known_args(argv)
    if extra and not take_extra(args, extra):
        parser.error(f"unrecognized arguments: {' '.join(extra)}")
    return args.func(args)
