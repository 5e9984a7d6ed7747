"""The `quarn` command line: one subcommand per question, `--json` on each.

    quarn info [PATH]                      summary of a trace
    quarn signals PATH [GLOB]              name, width, kind of each signal
    quarn value PATH NAME TIME             a signal's value at a time
    quarn changes PATH NAME [--from T] [--to T]
    quarn find PATH EXPR                   times where a condition holds
    quarn export PATH NAMES... --csv OUT | --parquet OUT
    quarn plot PATH NAMES... [--from T] [--to T] -o wave.png|svg
"""

from __future__ import annotations

import argparse
import contextlib
import importlib.resources
import json
import math
import os
import sys
from pathlib import Path
from typing import Any, Callable, Iterator, Sequence

from . import _open
from ._core import PyTrace

SHOWN_SIGNALS = 10
# Loads of files this big draw a progress bar (when stderr is a terminal).
PROGRESS_BYTES = 200 * 1024 * 1024


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


def json_value(value: Any) -> Any:
    """numpy scalars as plain numbers; NaN as null."""
    if value is None or isinstance(value, (bool, str)):
        return value
    if hasattr(value, "item"):
        value = value.item()
    if isinstance(value, float) and math.isnan(value):
        return None
    return value


def progress_bar(path: str, quiet: bool) -> Callable[[int, int], None] | None:
    """A bar on stderr for big loads, when stderr is a terminal and not --quiet."""
    if quiet or not sys.stderr.isatty():
        return None
    try:
        if os.path.getsize(path) < PROGRESS_BYTES:
            return None
    except OSError:
        return None

    def draw(done: int, total: int) -> None:
        share = done / total if total else 0.0
        filled = int(share * 30)
        sys.stderr.write(f"\rloading [{'#' * filled}{'.' * (30 - filled)}] {share:4.0%} "
                         f"{done >> 20}/{total >> 20} MB")
        if done >= total:
            sys.stderr.write("\r" + " " * 60 + "\r")
        sys.stderr.flush()

    return draw


class CommandError(Exception):
    """A failure to report as `quarn: error: ...` with exit status 1."""


def load(path: str, quiet: bool) -> PyTrace:
    try:
        return _open.open(path, progress=progress_bar(path, quiet))
    except ValueError as err:
        raise CommandError(str(err)) from err


def emit(args: argparse.Namespace, data: Any, text: str) -> None:
    print(json.dumps(data) if args.json else text)


def cmd_info(args: argparse.Namespace) -> int:
    if args.path is None:
        with _sample_path() as sample:
            trace = PyTrace.from_vcd(str(sample))
        label = "bundled sample (sample.vcd)"
    else:
        trace = load(args.path, args.quiet)
        label = args.path
    times = trace.times()
    data = {
        "path": args.path,
        "signals": len(trace.signal_names()),
        "scopes": len(trace.scopes()),
        "indices": len(times),
        "time_range": [int(times[0]), int(times[-1])] if len(times) else None,
        "timescale": list(trace.timescale()) if trace.timescale() else None,
        "top_scopes": top_level_scopes(trace.scopes()),
    }
    emit(args, data, summary(trace, label))
    return 0


def cmd_signals(args: argparse.Namespace) -> int:
    trace = load(args.path, args.quiet)
    names = trace.find_signals_glob(args.glob) if args.glob else trace.signal_names()
    rows = [{"name": n, "width": trace.signal_width(n), "kind": trace.signal_kind(n)} for n in names]
    width = max((len(r["name"]) for r in rows), default=4)
    text = "\n".join(f"{r['name']:<{width}}  {r['width']:>6}  {r['kind']}" for r in rows)
    emit(args, rows, text)
    return 0


def known(trace: PyTrace, name: str) -> str:
    if name not in trace:
        try:
            trace.sig(name)
        except KeyError as err:
            raise CommandError(err.args[0]) from err
    return name


def cmd_value(args: argparse.Namespace) -> int:
    trace = load(args.path, args.quiet)
    name = known(trace, args.name)
    try:
        index = trace.index_at(args.time)
    except ValueError as err:
        raise CommandError(str(err)) from err
    value = None if index is None else trace.signal_value(name, index)
    data = {"name": name, "time": trace.ticks(args.time), "index": index, "value": json_value(value)}
    emit(args, data, "-" if index is None else format_value(value, trace.signal_width(name)))
    return 0


def cmd_changes(args: argparse.Namespace) -> int:
    trace = load(args.path, args.quiet)
    name = known(trace, args.name)
    indices, values, unknown = trace.changes(name)
    times = trace.times()[indices] if len(indices) else indices
    try:
        lo = trace.ticks(args.start) if args.start is not None else 0
        hi = trace.ticks(args.end) if args.end is not None else None
    except ValueError as err:
        raise CommandError(str(err)) from err
    width = trace.signal_width(name)
    rows, lines = [], []
    for t, i, v, u in zip(times, indices, values, unknown):
        if t < lo or (hi is not None and t > hi):
            continue
        value = None if u else json_value(v)
        rows.append({"time": int(t), "index": int(i), "value": value, "unknown": bool(u)})
        lines.append(f"{int(t):>12}  {format_value(value, width) if not u else 'x'}")
    emit(args, rows, "\n".join(lines))
    return 0


def cmd_find(args: argparse.Namespace) -> int:
    trace = load(args.path, args.quiet)
    try:
        indices = trace.find(args.expr)
    except (ValueError, KeyError) as err:
        raise CommandError(str(err.args[0] if isinstance(err, KeyError) else err)) from err
    times = [trace.timestamp(i) for i in indices]
    emit(args, {"expr": args.expr, "count": len(indices), "indices": indices, "times": times},
         "\n".join(str(t) for t in times))
    return 0


def cmd_export(args: argparse.Namespace) -> int:
    trace = load(args.path, args.quiet)
    names = [known(trace, n) for n in args.names]
    frame = trace.to_pandas(names, args.start, args.end)
    out = args.csv or args.parquet
    if args.csv:
        frame.to_csv(out)
    else:
        try:
            frame.to_parquet(out)
        except ImportError as err:
            raise CommandError(f"--parquet needs pyarrow: pip install 'quarn[parquet]' ({err})") from err
    emit(args, {"out": out, "rows": len(frame), "columns": names}, f"wrote {len(frame)} rows to {out}")
    return 0


def cmd_plot(args: argparse.Namespace) -> int:
    trace = load(args.path, args.quiet)
    names = [known(trace, n) for n in args.names]
    figure = trace.plot(names, args.start, args.end)
    figure.savefig(args.output, dpi=args.dpi)
    width, height = (int(round(v * args.dpi)) for v in figure.get_size_inches())
    emit(args, {"out": args.output, "width": width, "height": height}, f"wrote {args.output}")
    return 0


def parser() -> argparse.ArgumentParser:
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--json", action="store_true", help="print the answer as JSON")
    common.add_argument("--quiet", action="store_true", help="no progress bar while loading")
    top = argparse.ArgumentParser(prog="quarn", description="Load and inspect waveform traces.")
    commands = top.add_subparsers(dest="command", required=True, metavar="COMMAND")

    def command(name: str, run: Callable[[argparse.Namespace], int], help: str) -> argparse.ArgumentParser:
        p = commands.add_parser(name, help=help, parents=[common])
        p.set_defaults(run=run)
        return p

    p = command("info", cmd_info, "summarise a trace")
    p.add_argument("path", nargs="?", metavar="PATH", help="trace file (default: a bundled sample)")
    p = command("signals", cmd_signals, "list signals: name, width, kind")
    p.add_argument("path", metavar="PATH")
    p.add_argument("glob", nargs="?", metavar="GLOB", help="only names matching this glob pattern")
    p = command("value", cmd_value, "a signal's value at a time")
    p.add_argument("path", metavar="PATH")
    p.add_argument("name", metavar="NAME")
    p.add_argument("time", metavar="TIME", type=time_arg, help="ticks, or with a unit: 1.2us")
    p = command("changes", cmd_changes, "a signal's changes")
    p.add_argument("path", metavar="PATH")
    p.add_argument("name", metavar="NAME")
    window(p)
    p = command("find", cmd_find, "times where an expression holds")
    p.add_argument("path", metavar="PATH")
    p.add_argument("expr", metavar="EXPR", help="for example 'top.valid && top.ready'")
    p = command("export", cmd_export, "signals' values per time step to CSV or Parquet")
    p.add_argument("path", metavar="PATH")
    p.add_argument("names", nargs="+", metavar="NAME")
    out = p.add_mutually_exclusive_group(required=True)
    out.add_argument("--csv", metavar="OUT")
    out.add_argument("--parquet", metavar="OUT")
    window(p)
    p = command("plot", cmd_plot, "draw a waveform picture (PNG, SVG, PDF)")
    p.add_argument("path", metavar="PATH")
    p.add_argument("names", nargs="+", metavar="NAME")
    p.add_argument("-o", "--output", required=True, metavar="OUT", help="wave.png, wave.svg, ...")
    p.add_argument("--dpi", type=int, default=100)
    window(p)
    return top


def time_arg(text: str) -> int | str:
    """Plain tick counts as ints; anything else is converted by the trace."""
    return int(text) if text.isdigit() else text


def window(p: argparse.ArgumentParser) -> None:
    p.add_argument("--from", dest="start", type=time_arg, metavar="T", help="first time (ticks or 1.2us)")
    p.add_argument("--to", dest="end", type=time_arg, metavar="T", help="last time")


def main(argv: Sequence[str] | None = None) -> int:
    args = parser().parse_args(argv)
    try:
        return args.run(args)
    except CommandError as err:
        print(f"quarn: error: {err}", file=sys.stderr)
        return 1
    except ImportError as err:
        print(f"quarn: error: {err}", file=sys.stderr)
        return 1
    except BrokenPipeError:
        # The reader (head, less) went away: not an error of ours.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
