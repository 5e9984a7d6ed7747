"""`quarn batch`: one question over many traces on Dask."""

from __future__ import annotations

import argparse
import json
import sys


def add_parser(commands: "argparse._SubParsersAction[argparse.ArgumentParser]") -> argparse.ArgumentParser:
    parser = commands.add_parser(
        "batch",
        help="count where an expression holds in many traces (on Dask)",
        description="Run one expression search over many traces, one trace per Dask task. "
        "Each row: path, number of matching indices, first and last matching time, error.",
    )
    parser.add_argument("paths", nargs="+", metavar="PATH", help="trace files, directories or globs ('**' recurses)")
    parser.add_argument("--find", required=True, metavar="EXPR", help="expression to search, e.g. 'top.err == 1'")
    parser.add_argument("--csv", metavar="OUT", help="write the table as CSV to OUT")
    parser.add_argument("--json", action="store_true", help="print the rows as JSON")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="address of a running Dask scheduler")
    parser.add_argument("--quiet", action="store_true", help="no progress bar")
    return parser


def run(args: argparse.Namespace) -> int:
    from .batch import batch, expand_paths

    paths: list[str] = []
    for pattern in args.paths:
        paths += expand_paths(pattern)
    client = None
    if args.scheduler:
        from dask.distributed import Client

        client = Client(args.scheduler)
    try:
        frame = batch(paths, args.find, client=client, progress=False if args.quiet else None)
    finally:
        if client is not None:
            client.close()
    if args.csv:
        frame.to_csv(args.csv, index=False)
    if args.json:
        print(json.dumps(json.loads(frame.to_json(orient="records")), indent=1))
    elif not args.csv:
        print(frame.to_string(index=False))
    failed = int(frame["error"].notna().sum())
    if failed:
        print(f"quarn: {failed} of {len(paths)} traces failed (see the error column)", file=sys.stderr)
    return 1 if failed else 0
