"""PyTrace._from_fst_lazy: columns decoded on first touch answer exactly as
from_fst's, from any number of pool and Python threads; load and loaded.
Every real FST file loads (or fails with a staged message) both ways."""

import os
import re
import subprocess
import sys

import pytest

import quarn
from quarn import PyTrace
from test_corpus import assert_twins_agree
from test_fst import HUGE, REAL_FST, _vcd2fst, _write, many_signals_vcd, needs_vcd2fst


def answers(t: PyTrace, names: list[str]) -> list:
    n = t.max_index() + 1
    picks = sorted({0, 1, n // 2, n - 1})
    return [
        t.signal_names(), t.scopes(), [t.timestamp(i) for i in range(n)],
        [(s, t.signal_id(s), t.signal_width(s), t.transitions(s), t.signal_value(s, n - 1)) for s in names],
        [t.snapshot(i) for i in picks], [t.changed_at(i) for i in picks],
    ]


def open_pair(path) -> tuple[PyTrace, PyTrace | None, str | None]:
    try:
        eager = PyTrace.from_fst(str(path))
    except ValueError as e:
        assert re.match(r"^FST (open|hierarchy|signals): \S", str(e)), str(e)
        with pytest.raises(ValueError) as lazy_error:
            lazy = PyTrace._from_fst_lazy(str(path))
            lazy.load("*")  # a corrupt value chain shows only when decoded
        assert str(lazy_error.value) == str(e)
        return None, None, str(e)
    return eager, PyTrace._from_fst_lazy(str(path)), None


# The 420,000-signal file takes minutes through every query twice; its
# hierarchy is what makes it slow, and from_fst's tests cover that.
@pytest.mark.parametrize("path", [p for p in REAL_FST if p.name != HUGE], ids=lambda p: p.name)
def test_lazy_trace_answers_as_the_eager_load(path):
    eager, lazy, error = open_pair(path)
    if error:
        return
    assert lazy.loaded()["bytes"] == 0
    names = eager.signal_names()
    assert names and len(set(names)) == len(names)
    times = [eager.timestamp(i) for i in range(eager.max_index() + 1)]
    assert times == sorted(set(times))
    assert repr(answers(lazy, names)) == repr(answers(eager, names))  # NaN reals too
    end = eager.max_index() + 1
    for name in names[:50]:  # ranges fetch in chunks of their own
        assert repr(lazy.signal_values_range(name, 0, end)) == repr(eager.signal_values_range(name, 0, end))
    done = lazy.loaded()
    assert done["loaded"] == done["total"] == eager.loaded()["total"]
    assert done["bytes"] == eager.loaded()["bytes"] and done["error"] is None


@needs_vcd2fst
def test_open_is_lazy_and_load_takes_a_glob_or_exact_names(tmp_path):
    path = _write(tmp_path / "m.vcd", many_signals_vcd(300, 20, 1).encode())
    fst = _vcd2fst(path, tmp_path / "m.fst")
    t, loaded = quarn.open(fst), quarn.open(fst, lazy=False)
    assert t.loaded()["loaded"] == 0 and loaded.loaded()["loaded"] == 300
    assert t.load("top.s1?") == 10
    assert t.load(["top.s1", "top.s2", "top.s1", "no.such"]) == 2
    assert t.loaded()["loaded"] == 12
    assert t.load("top.s1*") == 111 and t.loaded()["loaded"] == 112
    assert t.load([]) == 0
    with pytest.raises(TypeError, match="argument 'names'"):
        t.load(3)
    eager = PyTrace.from_vcd(str(path))
    assert eager.load("*") == 300
    assert eager.loaded()["loaded"] == eager.loaded()["total"] == 300
    assert [t.transitions(s) for s in t.signal_names()] == [loaded.transitions(s) for s in loaded.signal_names()]


THREADS = """
import hashlib, sys
from concurrent.futures import ThreadPoolExecutor
import quarn
from quarn import PyTrace
eager, lazy = PyTrace.from_fst(sys.argv[1]), PyTrace._from_fst_lazy(sys.argv[1])
names = eager.signal_names()
def read(t, k):
    cut = k * len(names) // 4  # each thread starts elsewhere
    order = names[cut:] + names[:cut]
    return {s: t.transitions(s) for s in order}
with ThreadPoolExecutor(5) as pool:
    jobs = [pool.submit(read, lazy, k) for k in range(4)] + [pool.submit(lazy.load, "top.s1*")]
    got = [j.result() for j in jobs[:4]]
want = read(eager, 0)
assert all(g == want for g in got)
assert lazy.changed_at(7) == eager.changed_at(7) and lazy.snapshot(9) == eager.snapshot(9)
print(hashlib.sha256(repr(sorted(want.items())).encode()).hexdigest())
"""


@needs_vcd2fst
def test_threads_touching_columns_at_once_agree_with_any_pool_size(tmp_path):
    # More signals than the reader hands out per round of its threads: the
    # eager load must also match the VCD it came from.
    vcd = _write(tmp_path / "m.vcd", many_signals_vcd(5000, 40, 5).encode())
    fst = _vcd2fst(vcd, tmp_path / "m.fst")
    assert_twins_agree(PyTrace.from_vcd(str(vcd)), PyTrace.from_fst(str(fst)))
    digests = set()
    for threads in ("1", "2", "3"):
        env = dict(os.environ, RAYON_NUM_THREADS=threads)
        out = subprocess.run([sys.executable, "-c", THREADS, str(fst)], env=env, capture_output=True, text=True)
        assert out.returncode == 0, out.stderr
        digests.add(out.stdout.strip())
    assert len(digests) == 1


POOL_ON_FIRST_USE = r"""
import os, sys, quarn
def mapped():
    return open("/proc/self/maps").read()
t = quarn.PyTrace._from_fst_lazy(sys.argv[1])
names = t.signal_names()
few = [t.transitions(n) for n in names[:3]]
before = mapped()
assert "libtbb" not in before and "libstdc++" not in before, "a few signals needed no pool"
t.load("*")
after = mapped()
assert "libquarn_pool" in after and "libtbb" in after, "the pool was not loaded"
assert [t.transitions(n) for n in names[:3]] == few
print(t.parallel_count(f"{names[1]} == 0"))
"""


@needs_vcd2fst
@pytest.mark.skipif(not os.path.exists("/proc/self/maps"), reason="reads /proc/self/maps")
def test_thread_pool_is_loaded_beside_the_module_on_first_parallel_use(tmp_path):
    fst = _vcd2fst(_write(tmp_path / "m.vcd", many_signals_vcd(50, 40, 2).encode()), tmp_path / "m.fst")
    out = subprocess.run([sys.executable, "-c", POOL_ON_FIRST_USE, str(fst)], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    eager = PyTrace.from_fst(str(fst))
    assert int(out.stdout) == len(eager.find(f"{eager.signal_names()[1]} == 0"))
