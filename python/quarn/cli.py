"""The `quarn` command line: `quarn info [PATH]` summarises a trace."""

from __future__ import annotations

import argparse
import contextlib
import importlib.resources
import sys
from pathlib import Path
from typing import Callable, Iterator, Sequence

from . import cli_check
from ._core import PyTrace

# Loader per file extension; the other formats join as their readers land.
LOADERS: dict[str, Callable[[str], PyTrace]] = {
    ".vcd": PyTrace.from_vcd,
    ".dsn": PyTrace.from_shm,
    ".trn": PyTrace.from_shm,
    ".fsdb": PyTrace.from_fsdb,
    ".fst": PyTrace.from_fst,
    ".vpd": PyTrace.from_vpd,
    ".wlf": PyTrace.from_wlf,
}

SHOWN_SIGNALS = 10


@contextlib.contextmanager
def _sample_path() -> Iterator[Path]:
    """The bundled sample trace as a real file, even from a zipped install."""
    resource = importlib.resources.files("quarn") / "data" / "sample.vcd"
    with importlib.resources.as_file(resource) as path:
        yield path


def top_level_scopes(scopes: Sequence[str]) -> list[str]:
    """Scopes that sit under no other scope; names may contain dots themselves."""
    known = set(scopes)
    top = []
    for scope in scopes:
        cuts = (i for i, ch in enumerate(scope) if ch == ".")
        if not any(scope[:i] in known for i in cuts):
            top.append(scope)
    return top


def format_value(value: object, width: int) -> str:
    if value is None:
        return "-"  # X/Z bits, or no value yet
    if isinstance(value, int) and width > 1:
        return f"0x{value:0{(width + 3) // 4}x}"
    return repr(value) if isinstance(value, str) else str(value)


def summary(trace: PyTrace, label: str) -> str:
    names = trace.signal_names()
    scopes = trace.scopes()
    last = trace.max_index()
    lines = [
        f"trace:      {label}",
        f"signals:    {len(names)}",
        f"scopes:     {len(scopes)}",
        f"indices:    {last + 1} (0 .. {last})",
        f"time range: {trace.timestamp(0)} .. {trace.timestamp(last)}",
        f"top scopes: {', '.join(top_level_scopes(scopes)) or '(none)'}",
    ]
    shown = names[:SHOWN_SIGNALS]
    if shown:
        header = f"first {len(shown)} of {len(names)} signals:" if len(names) > len(shown) else "signals:"
        lines += ["", header]
        rows = [("name", "width", f"@{0}", f"@{last}")]
        for name in shown:
            width = trace.signal_width(name)
            rows.append((
                name,
                str(width),
                format_value(trace.signal_value(name, 0), width),
                format_value(trace.signal_value(name, last), width),
            ))
        widths = [max(len(row[col]) for row in rows) for col in range(4)]
        for row in rows:
            lines.append(
                f"  {row[0]:<{widths[0]}}  {row[1]:>{widths[1]}}  {row[2]:>{widths[2]}}  {row[3]:>{widths[3]}}"
            )
        lines.append("  (- : no value yet, or X/Z bits)")
    return "\n".join(lines)


def _info(parser: argparse.ArgumentParser, path: str | None) -> int:
    if path is None:
        with _sample_path() as sample:
            trace = PyTrace.from_vcd(str(sample))
        label = "bundled sample (sample.vcd)"
    else:
        # Of the formats, only an SHM database is a directory.
        loader = PyTrace.from_shm if Path(path).is_dir() else LOADERS.get(Path(path).suffix.lower())
        if loader is None:
            parser.error(f"unsupported trace format: {path} (known: {', '.join(sorted(LOADERS))})")
        try:
            trace = loader(path)
        except ValueError as err:
            print(f"quarn: error: {err}", file=sys.stderr)
            return 1
        label = path
    print(summary(trace, label))
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="quarn", description="Load and inspect waveform traces.")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    info = commands.add_parser("info", help="summarise a trace")
    info.add_argument("path", nargs="?", metavar="PATH", help="trace file (default: a bundled sample)")
    cli_check.add_commands(commands)
    args, extra = parser.parse_known_args(argv)
    if extra and not cli_check.take_extra(args, extra):
        parser.error(f"unrecognized arguments: {' '.join(extra)}")
    if hasattr(args, "func"):
        return args.func(args)
    if args.command == "info":
        return _info(info, args.path)
    return 2
