"""References and memory: repeated calls, failing or not, leave nothing behind."""

import ctypes
import datetime
import gc
import os
import pathlib
import sys
from types import SimpleNamespace as Day

import numpy  # noqa: F401  (its first import allocates; keep that out of the measurements)
import pytest
from conftest import csv_row, csv_text, dtc_line, sol_line
from heliodex import Heliodex

D = datetime.date(2000, 1, 1)
EVERYTHING = (datetime.date.min, datetime.date.max)


@pytest.fixture
def calls(write, load):
    """name -> (callable, args, kwargs, exception or None)."""
    # Twenty days each, so that anything a call failed to free would add up to megabytes.
    days = [D + datetime.timedelta(days=i) for i in range(20)]
    rows = [csv_row(d.isoformat()) for d in days]
    csv = write(csv_text(*rows))
    sol = write("\n".join(sol_line(2000, i) for i in range(1, 21)))
    dtc = write("\n".join(dtc_line(2000, i) for i in range(1, 21)))
    h = Heliodex.from_celestrak_csv(csv)
    unreal = load("from_celestrak_csv", csv_text(*rows, csv_row("2000-11-31")))
    missing = str(pathlib.Path(csv).with_name("missing"))
    bad = write("\n".join(sol_line(2000, i) for i in range(1, 21)) + "\nshort")
    other = load("from_set_dtcfile", "")
    return {
        "csv": (Heliodex.from_celestrak_csv, (csv,), {}, None),
        "solfsmy": (Heliodex.from_set_solfsmy, (), {"path": sol}, None),
        "dtcfile": (Heliodex.from_set_dtcfile, (dtc,), {}, None),
        "missing_file": (Heliodex.from_celestrak_csv, (missing,), {}, ValueError),
        "bad_content": (Heliodex.from_set_solfsmy, (bad,), {}, ValueError),
        "path_type": (Heliodex.from_set_dtcfile, (pathlib.Path(dtc),), {}, TypeError),
        "too_many": (Heliodex.from_celestrak_csv, (csv, csv), {}, TypeError),
        "unexpected_keyword": (h.get_range, (D,), {"end": D, "bogus": D}, TypeError),
        "get": (h.get, (D,), {}, None),
        "get_missing_day": (h.get, (D.replace(year=1999),), {}, None),
        "get_no_year": (h.get, (object(),), {}, AttributeError),
        "get_month_range": (h.get, (Day(year=2000, month=300, day=1),), {}, OverflowError),
        "get_huge_year": (h.get, (Day(year=2**70, month=1, day=1),), {}, OverflowError),
        "get_range": (h.get_range, EVERYTHING, {}, None),
        "get_range_bad_end": (h.get_range, (D, 1.5), {}, AttributeError),
        "unreal_get_range": (unreal.get_range, EVERYTHING, {}, ValueError),
        "unreal_date_range": (unreal.date_range, (), {}, ValueError),
        "unreal_to_numpy": (unreal.to_numpy, (), {}, ValueError),
        "date_range": (h.date_range, (), {}, None),
        "to_numpy": (h.to_numpy, (), {}, None),
        "len": (h.len, (), {}, None),
        "len_slot": (len, (h,), {}, None),
        "len_with_argument": (h.len, (D,), {}, TypeError),
        "merge": (h.merge, (other,), {}, None),
        "merge_type": (h.merge, (5.5,), {}, TypeError),
        "merge_self": (h.merge, (h,), {}, RuntimeError),
    }


def run(f, args, kwargs, error, times):
    for _ in range(times):
        try:
            f(*args, **kwargs)
        except Exception as e:  # noqa: BLE001
            if error is None or type(e) is not error:
                raise AssertionError(f"{f}: {e!r}") from e
        else:
            assert error is None, f


def test_reference_counts_unchanged(calls):
    for name, (f, args, kwargs, error) in calls.items():
        watched = [*args, *kwargs.values(), None, Heliodex, getattr(f, "__self__", None)]
        run(f, args, kwargs, error, 10)
        before = [sys.getrefcount(o) for o in watched]
        run(f, args, kwargs, error, 1000)
        assert [sys.getrefcount(o) for o in watched] == before, name


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc/self/statm")
@pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""), reason="ASan's quarantine keeps freed memory"
)
def test_resident_memory_stays_flat(calls):
    for f, args, kwargs, error in calls.values():
        run(f, args, kwargs, error, 500)
    gc.collect()
    before = resident_bytes()
    for f, args, kwargs, error in calls.values():
        run(f, args, kwargs, error, 20_000)
    gc.collect()
    assert resident_bytes() - before < 8 * 2**20


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc/self/statm")
@pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""), reason="ASan's quarantine keeps freed memory"
)
def test_collapsed_days_hold_only_the_days_kept(write):
    # 100,000 lines of one day are 28 MiB of records while parsed, and one record once stored.
    path = write(csv_text(*[csv_row("2000-01-01")] * 100_000))
    trim = getattr(ctypes.CDLL(None), "malloc_trim", lambda _: 0)
    gc.collect()
    trim(0)
    before = resident_bytes()
    h = Heliodex.from_celestrak_csv(path)
    trim(0)  # the file's bytes, freed, may stay with malloc until trimmed
    assert len(h) == 1 and resident_bytes() - before < 4 * 2**20
