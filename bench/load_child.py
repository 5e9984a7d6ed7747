"""One timed load in a fresh interpreter, so that its peak RSS is its own.

Usage: python3 load_child.py VCD EXPECT_JSON
Prints one JSON object: baseline and peak RSS, load seconds (wall clock and
CPU time of this process), and the list of answers that differ from the
expected ones (empty when all match).
"""

from __future__ import annotations

import json
import resource
import sys
import time


def peak_rss_bytes() -> int:
    """This process's own peak RSS (VmHWM). ru_maxrss is not: Linux keeps in
    it the peak of the image an exec replaced, which in a child started by
    subprocess is the parent's (a bench that grew to 200 MB shows 200 MB)."""
    with open("/proc/self/status", encoding="ascii") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024  # KiB on Linux


def cpu_seconds() -> float:
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime


def check(trace, expect: dict) -> list[str]:
    errors: list[str] = []

    def same(what: str, got, want) -> None:
        if got != want or type(got) is not type(want):
            errors.append(f"{what}: got {got!r}, expected {want!r}")

    names = trace.signal_names()
    same("signal count", len(names), expect["signal_count"])
    if names:
        same("first name", names[0], expect["first_name"])
        same("last name", names[-1], expect["last_name"])
    same("scope count", len(trace.scopes()), expect["scope_count"])
    same("max_index", trace.max_index(), expect["max_index"])
    for index, time_value in expect["timestamps"]:
        same(f"timestamp({index})", trace.timestamp(index), time_value)
    for name, width in expect["widths"]:
        same(f"signal_width({name!r})", trace.signal_width(name), width)
    for name, index, value in expect["values"]:
        same(f"signal_value({name!r}, {index})", trace.signal_value(name, index), value)
    for name, start, values in expect["ranges"]:
        same(f"signal_values_range({name!r}, {start}, {start + len(values)})",
             trace.signal_values_range(name, start, start + len(values)), values)
    return errors


def main() -> int:
    vcd, expect_path = sys.argv[1], sys.argv[2]
    import quarn

    baseline = peak_rss_bytes()
    c0 = cpu_seconds()
    t0 = time.perf_counter()
    trace = quarn.PyTrace.from_vcd(vcd)
    seconds = time.perf_counter() - t0
    cpu = cpu_seconds() - c0
    peak = peak_rss_bytes()
    # The expected answers are read only now, so they count in neither figure.
    with open(expect_path, encoding="utf-8") as f:
        expect = json.load(f)
    errors = check(trace, expect)
    print(json.dumps({"seconds": seconds, "cpu_seconds": cpu, "baseline_rss": baseline, "peak_rss": peak, "errors": errors}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
