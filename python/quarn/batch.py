"""One question over many traces, one trace per task on Dask.

`batch(paths, query)` loads every trace with `quarn.open` on a Dask worker,
asks `query` of it and gathers the answers into one pandas DataFrame. A
trace that fails to load, or whose query raises, becomes a row with an
`error` column; the other traces go on.
"""

from __future__ import annotations

import glob
import os
import sys
from pathlib import Path
from typing import Any, Callable, Iterable, Sequence, Union

PathArg = Union[str, "os.PathLike[str]"]
Query = Union[str, Callable[[Any], Any]]

PATH = "path"
ERROR = "error"
MATCH_COLUMNS = ("matches", "first_time", "last_time")
_GLOB_CHARS = set("*?[")


def _require(module: str):
    try:
        return __import__(module, fromlist=["_"])
    except ImportError as err:
        raise ImportError(
            f"quarn.batch needs {module.split('.')[0]}, which is not installed: "
            "pip install 'quarn[batch]'"
        ) from err


def expand_paths(paths: PathArg | Iterable[PathArg]) -> list[str]:
    """The trace paths that `paths` names, in a stable order.

    A list is taken as it is (each entry a path). A single path naming a
    directory gives its entries (files and SHM database folders, sorted,
    hidden ones left out); a string with glob characters is expanded, `**`
    recursively; any other single path is one trace.
    """
    if isinstance(paths, (str, os.PathLike)):
        text = os.fspath(paths)
        if Path(text).is_dir() and not _is_shm_dir(Path(text)):
            return sorted(
                str(entry) for entry in Path(text).iterdir() if not entry.name.startswith(".")
            )
        if _GLOB_CHARS & set(text):
            found = sorted(glob.glob(text, recursive=True))
            if not found:
                raise FileNotFoundError(f"no trace matches {text!r}")
            return found
        return [text]
    return [os.fspath(p) for p in paths]


def _is_shm_dir(path: Path) -> bool:
    return any(p.suffix.lower() == ".dsn" for p in path.iterdir())


def count_matches(trace: Any, expr: str) -> dict[str, Any]:
    """The row a string query gives: number of matches, first and last time."""
    hits = trace.find(expr)
    if not hits:
        return {"matches": 0, "first_time": None, "last_time": None}
    return {
        "matches": len(hits),
        "first_time": trace.timestamp(hits[0]),
        "last_time": trace.timestamp(hits[-1]),
    }


def run_one(path: str, query: Query, open_kwargs: dict[str, Any]) -> list[dict[str, Any]]:
    """Loads one trace and asks the query; never raises (errors become a row)."""
    import quarn

    try:
        trace = quarn.open(path, **open_kwargs)
        answer = count_matches(trace, query) if isinstance(query, str) else query(trace)
        return [{PATH: path, **row} for row in _rows(answer)]
    except Exception as err:  # noqa: BLE001 - every failure is reported as a row
        return [{PATH: path, ERROR: f"{type(err).__name__}: {err}"}]


def _rows(answer: Any) -> list[dict[str, Any]]:
    if answer is None:
        return [{}]
    if isinstance(answer, dict):
        return [answer]
    to_dict = getattr(answer, "to_dict", None)
    if callable(to_dict):  # a DataFrame
        return list(to_dict(orient="records")) or [{}]
    rows = list(answer)
    if not all(isinstance(row, dict) for row in rows):
        raise TypeError("a batch query must return a dict, a list of dicts or a DataFrame")
    return rows or [{}]


def _frame(rows: Sequence[dict[str, Any]], columns: Sequence[str] | None, string_query: bool):
    pd = _require("pandas")
    frame = pd.DataFrame.from_records(list(rows))
    if columns is None:
        order = [PATH] + [c for c in frame.columns if c not in (PATH, ERROR)]
        if string_query:
            order = [PATH, *MATCH_COLUMNS] + [c for c in order if c not in (PATH, *MATCH_COLUMNS)]
    else:
        order = [PATH] + [c for c in columns if c not in (PATH, ERROR)]
    order.append(ERROR)
    return frame.reindex(columns=order)


def batch(
    paths: PathArg | Iterable[PathArg],
    query: Query,
    *,
    client: Any = None,
    columns: Sequence[str] | None = None,
    progress: bool | None = None,
    **open_kwargs: Any,
):
    """Runs `query` on every trace of `paths`, one trace per Dask task.

    paths: a list of paths, a directory (its entries), or a glob ('**'
        recurses).
    query: a function f(trace) -> dict | list[dict] | DataFrame, or an
        expression string (each row then holds the number of matching
        indices and the first and last matching time).
    client: a dask.distributed Client to run on; by default a local cluster
        of processes, one worker per core, started and closed by this call.
    columns: the result's columns after `path`, in order (others dropped);
        by default every column the answers give.
    progress: show Dask's progress bar; by default when stderr is a terminal.
    open_kwargs: passed on to `quarn.open`.

    Returns a pandas DataFrame: one row per answer row, with `path` first and
    an `error` column last ("ExceptionType: message" for a trace that failed
    to load or whose query raised, else missing). Rows follow `paths`' order.
    """
    distributed = _require("dask.distributed")
    _require("pandas")
    files = expand_paths(paths)
    own_client = client is None
    if own_client:
        cluster = distributed.LocalCluster(
            n_workers=os.cpu_count() or 1,
            threads_per_worker=1,
            processes=True,
            dashboard_address=None,
            env=worker_env(),
        )
        client = distributed.Client(cluster)
    try:
        futures = client.map(run_one, files, query=query, open_kwargs=open_kwargs, pure=False)
        if progress if progress is not None else sys.stderr.isatty():
            distributed.progress(futures)
        rows = _gather_all(client, files, futures)
    finally:
        if own_client:
            client.close()
            cluster.close()
    return _frame(rows, columns, isinstance(query, str))


def worker_env() -> dict[str, str]:
    """Environment of the workers of the cluster a batch starts itself.

    That cluster has one worker process per core, so each worker's search
    pool gets one thread: a pool per worker as wide as the machine would
    put cores x cores threads on the cores. A thread count the caller set
    is kept.
    """
    return {"RAYON_NUM_THREADS": os.environ.get("RAYON_NUM_THREADS", "1")}


def _gather_all(client: Any, files: list[str], futures: list[Any]) -> list[dict[str, Any]]:
    # One gather for all finished tasks: fetching results future by future
    # costs a scheduler round trip each, a large share of a small trace's time.
    import dask.distributed as distributed

    distributed.wait(futures)
    finished = [i for i, f in enumerate(futures) if f.status == "finished"]
    try:
        answers = dict(zip(finished, client.gather([futures[i] for i in finished])))
    except Exception:  # noqa: BLE001 - a result lost since (its worker died): ask each future
        answers = {}
    rows: list[dict[str, Any]] = []
    for i, (path, future) in enumerate(zip(files, futures)):
        rows += answers[i] if i in answers else _gather_one(path, future)
    return rows


def _gather_one(path: str, future: Any) -> list[dict[str, Any]]:
    # A worker that dies (a crash inside a reader) fails the future, not the batch.
    try:
        return future.result()
    except Exception as err:  # noqa: BLE001
        return [{PATH: path, ERROR: f"{type(err).__name__}: {err}"}]
