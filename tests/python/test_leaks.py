"""Repeated success and failure leave reference counts and process memory flat."""

import datetime
import os
import sys

import heliodex
import pytest
from conftest import HEADER, csv_row
from heliodex import Heliodex

D = datetime.date


def rss_kib():
    with open(f"/proc/{os.getpid()}/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


@pytest.fixture
def h(write):
    rows = [csv_row("2000-01-01"), csv_row("2000-02-30")]
    return Heliodex.from_celestrak_csv(write(HEADER + "\n" + "\n".join(rows)))


def calls(h, write):
    good = write(HEADER + "\n" + csv_row("2000-01-01"))
    bad = write(HEADER + "\nxx")
    has_numpy = "numpy" in sys.modules or __import__("importlib.util").util.find_spec("numpy")
    key, month300 = D(2000, 1, 1), type("M", (), {"year": 2000, "month": 300, "day": 1})()
    yield lambda: Heliodex.from_celestrak_csv(good)
    yield lambda: Heliodex.from_celestrak_csv(bad)
    yield lambda: Heliodex.from_set_dtcfile("/nonexistent")
    yield lambda: Heliodex.from_set_solfsmy(123)
    yield lambda: h.get(key)
    yield lambda: h.get(month300)
    yield lambda: h.get(type("X", (), {"year": 2000, "month": 2, "day": 30})())
    yield lambda: h.get_range(key, D(2000, 3, 1))
    yield lambda: h.date_range()
    yield lambda: h.merge(h)
    yield lambda: h.merge(Heliodex.from_celestrak_csv(good))
    yield lambda: h.get(key, 1)
    if has_numpy:
        yield lambda: h.to_numpy()


def run(fn, n):
    for _ in range(n):
        try:
            fn()
        except (ValueError, TypeError, RuntimeError, OverflowError):
            pass


def test_reference_counts_stay(h, write):
    watched = [None, heliodex, Heliodex, D, ValueError]
    for fn in calls(h, write):
        run(fn, 50)
        before = [sys.getrefcount(o) for o in watched]
        run(fn, 1000)
        assert [sys.getrefcount(o) for o in watched] == before


@pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""), reason="ASan's quarantine keeps freed memory"
)
def test_memory_stays_flat(h, write):
    fns = list(calls(h, write))
    for fn in fns:
        run(fn, 200)
    before = rss_kib()
    for fn in fns:
        run(fn, 3000)
    assert rss_kib() - before < 8 * 1024
