"""`quarn.open`: one loader for every format, chosen from the file's content."""

from __future__ import annotations

import os
from typing import Any, Callable

from ._core import PyTrace, TraceError, detect_format

_LOADERS: dict[str, Callable[[str], PyTrace]] = {
    "vcd": PyTrace.from_vcd,
    "fst": PyTrace.from_fst,
    "fsdb": PyTrace.from_fsdb,
    "vpd": PyTrace.from_vpd,
    "wlf": PyTrace.from_wlf,
    "shm": PyTrace.from_shm,
}

# Binary formats whose readers explain a bad file better than "unknown".
_BY_SUFFIX = {".fst": "fst", ".fsdb": "fsdb", ".vpd": "vpd", ".wlf": "wlf", ".dsn": "shm", ".trn": "shm"}


def _loader(name: str, lazy: bool | None) -> Callable[..., PyTrace]:
    if name == "fst" and lazy is not False:
        return PyTrace._from_fst_lazy
    return _LOADERS[name]


def open(  # noqa: A001 - the natural name, as in gzip.open
    path: str | os.PathLike[str],
    lazy: bool | None = None,
    *,
    progress: Callable[[int, int], object] | None = None,
    **kw: Any,
) -> PyTrace:
    """Load the trace at `path` (a str or os.PathLike), whatever its format.

    The format comes from the content, not the name: VCD text (also packed
    with gzip, bzip2 or zstd, decoded while reading, never to a temporary
    file), FST, FSDB, VPD, an SHM database directory or one of its .dsn/.trn
    files; WLF files, which carry no signature, by their .wlf name.

    `lazy`: None lets the loader choose. An FST file opens lazily unless
    `lazy` is False: names, widths and times are read now, each signal's
    values when first read (`trace.load(...)` decodes many at once, in
    parallel). Every other format loads eagerly.
    `progress`: a callable given (bytes done, bytes total) now and then while
    a VCD loads (for a progress bar). Other keywords go to the format's
    loader.

    Raises TraceError (a ValueError) naming what was found when the content is no known
    trace format, and the loader's ValueError when the file is damaged;
    FileNotFoundError-like failures come as the loaders' ValueError too.
    """
    fspath = os.fspath(path)
    name, found = detect_format(fspath)
    if name == "unknown":
        # A damaged binary file named for its format gets its reader's own,
        # more precise message ("Not an FSDB file (magic=0x...)").
        suffix = os.path.splitext(os.fsdecode(fspath))[1].lower()
        if suffix in _BY_SUFFIX:
            return _loader(_BY_SUFFIX[suffix], lazy)(fspath, **kw)
        error = TraceError(f"cannot tell the trace format of {os.fsdecode(fspath)}: found {found}")
        error.path = os.fsdecode(fspath)
        raise error
    if name == "vcd" and progress is not None:
        return PyTrace._from_vcd_progress(fspath, progress, **kw)
    return _loader(name, lazy)(fspath, **kw)
