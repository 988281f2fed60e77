"""to_numpy: keys, shapes, NaN for absent values, agreement with the dictionaries, ownership."""

import datetime
import gc
import os
import subprocess
import sys
import textwrap

import heliodex
import numpy as np
import pytest
from conftest import SAMPLE_CSV, SAMPLE_DTC, SAMPLE_SOL, csv_row, csv_text, dtc_line
from heliodex import Heliodex

KEYS = ["date", *"f10_7_obs f10_7_adj f10_7_jb f10_7_jb_81c ap_daily s10_7 m10_7 y10_7".split(),
        "dtc", "ap_3hr", "kp_3hr"]  # fmt: skip
SCALARS, GROUPS = KEYS[1:10], KEYS[10:]
ABSENT = 0x7FF8000000000000
D = datetime.date(2000, 1, 1)


def bits(array):
    return np.ascontiguousarray(array).view(np.uint64)


def merged(*parts):
    first, *rest = parts
    for part in rest:
        first.merge(part)
    return first


@pytest.mark.parametrize("rows", [0, 1, 3])
def test_keys_shapes_and_dtypes(load, rows):
    text = csv_text(*(csv_row(f"2000-01-0{i + 1}") for i in range(rows)))
    out = load("from_celestrak_csv", text).to_numpy()
    assert list(out) == KEYS and type(out) is dict
    for key in SCALARS:
        a = out[key]
        assert (a.dtype, a.shape, a.strides) == (np.dtype(np.float64), (rows,), (8,))
        assert a.dtype.isnative and a.flags.writeable and a.flags.c_contiguous
        assert a.base is not None  # the 1-D arrays are views over a buffer that their base owns
    for key in GROUPS:
        a = out[key]
        assert (a.dtype, a.shape) == (np.dtype(np.float64), (rows, 8) if rows else (0, 0))
        assert a.flags.writeable and a.flags.c_contiguous and a.flags.owndata
    dates = out.pop("date")
    assert [type(d) for d in dates] == [datetime.date] * rows
    assert dates.shape == (rows,)  # numpy.array of the list of dates, also when empty
    assert dates.dtype == (np.dtype(object) if rows else np.array([]).dtype)
    like = np.array(list(dates))  # what numpy.array makes of the list: the same in every way
    for attribute in ("dtype", "strides", "base", "flags"):
        assert getattr(dates, attribute) == getattr(like, attribute), attribute
    if rows:  # each date is held once by the array: none is left behind when it goes
        first = dates[0]
        del dates, like
        assert sys.getrefcount(first) == 2  # this name's and the call's own


@pytest.mark.parametrize("make", [lambda y, m, d: (y, m, d), lambda y, m, d: float(d)])
def test_dates_of_a_replaced_class_are_what_numpy_array_makes_of_them(load, monkeypatch, make):
    store = load("from_celestrak_csv", csv_text(csv_row("2000-01-01"), csv_row("2000-01-02")))
    monkeypatch.setattr(datetime, "date", make)
    dates, like = store.to_numpy()["date"], np.array([make(2000, 1, 1), make(2000, 1, 2)])
    assert (dates.dtype, dates.shape, dates.tolist()) == (like.dtype, like.shape, like.tolist())


def test_absent_and_present_nan_bits(load):
    text = csv_text(csv_row("2000-01-01", obs="nan", adj="-nan", kp=[1] * 7 + [""]))
    out = load("from_celestrak_csv", text).to_numpy()
    assert bits(out["f10_7_obs"])[0] == 0x7FF8000000000000
    assert bits(out["f10_7_adj"])[0] == 0xFFF8000000000000  # the sign of the read NaN is kept
    assert bits(out["dtc"]).tolist() == [ABSENT] and bits(out["kp_3hr"]).tolist() == [[ABSENT] * 8]
    assert out["ap_3hr"].tolist() == [[float(v) for v in range(11, 19)]]


def expected_columns(records):
    """The export rebuilt from the record dictionaries, absent as the quiet NaN."""
    nan = np.array([ABSENT], dtype=np.uint64).view(np.float64)[0]
    cols = {k: np.array([nan if r[k] is None else r[k] for r in records]) for k in SCALARS}
    for k in GROUPS:
        rows = [[nan] * 8 if r[k] is None else r[k] for r in records]
        cols[k] = np.array(rows, dtype=np.float64).reshape(len(records), 8 if records else 0)
    return cols


@pytest.mark.parametrize("published", [False, True], ids=["samples", "published"])
def test_every_element_matches_the_dictionaries(real, published):
    names = ("SW-All.csv", "SOLFSMY.TXT", "DTCFILE.TXT")
    paths = [real(n) for n in names] if published else [SAMPLE_CSV, SAMPLE_SOL, SAMPLE_DTC]
    makers = (Heliodex.from_celestrak_csv, Heliodex.from_set_solfsmy, Heliodex.from_set_dtcfile)
    h = merged(*(f(p) for f, p in zip(makers[::-1], paths[::-1], strict=True)))
    out, records = h.to_numpy(), h.get_range(datetime.date.min, datetime.date.max)
    assert out["date"].tolist() == [r["date"] for r in records] and len(records) == len(h)
    assert all(a < b for a, b in zip(out["date"][:-1], out["date"][1:], strict=True))
    for key, column in expected_columns(records).items():
        assert np.array_equal(bits(out[key]), bits(column)), key
    if published:  # the SET files cover fewer days than the CelesTrak file
        assert len(h) == 24888 and np.isnan(out["dtc"]).sum() == 24888 - 7912
        assert np.isnan(out["y10_7"]).sum() == 24888 - 7913 and not np.isnan(out["f10_7_obs"]).any()


def test_arrays_are_independent_of_the_store(load):
    h = load("from_celestrak_csv", csv_text(csv_row("2000-01-01", adj=""), csv_row("2000-01-03")))
    first = h.to_numpy()
    snapshot = {k: v.copy() for k, v in first.items()}
    for key in SCALARS + GROUPS:
        first[key][...] = -1.0
    second = h.to_numpy()
    assert all(np.array_equal(bits(second[k]), bits(snapshot[k])) for k in SCALARS + GROUPS)
    assert not any(np.shares_memory(first[k], second[k]) for k in SCALARS + GROUPS)
    assert h.get(D)["f10_7_obs"] == 150.5
    h.merge(
        load("from_celestrak_csv", csv_text(csv_row("2000-01-02"), csv_row("2000-01-01", adj="5")))
    )
    assert len(h.to_numpy()["dtc"]) == 3 and h.get(D)["f10_7_adj"] == 5.0
    assert all(np.array_equal(bits(second[k]), bits(snapshot[k])) for k in SCALARS + GROUPS)
    assert second["f10_7_adj"].shape == (2,) and np.isnan(second["f10_7_adj"][0])


def test_column_outlives_instance_and_dict(load):
    h = load("from_set_dtcfile", "\n".join(dtc_line(2000, d, [d] * 24) for d in range(1, 200)))
    column = h.to_numpy()["dtc"]
    view = column[10:20]
    del h
    gc.collect()
    assert column.tolist() == [float(d) for d in range(1, 200)]
    del column
    gc.collect()
    assert view.tolist() == [float(d) for d in range(11, 21)] and view.base is not None


def run_python(code):
    env = {**os.environ, "PYTHONPATH": os.path.dirname(heliodex.__file__)}
    command = [sys.executable, "-c", textwrap.dedent(code)]
    done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    return done.stdout.splitlines()


def test_import_does_not_import_numpy():
    assert run_python(f"""
        import sys, datetime, heliodex
        h = heliodex.Heliodex.from_celestrak_csv({SAMPLE_CSV!r})
        h.get(datetime.date(1997, 1, 1)); h.get_range(datetime.date.min, datetime.date.max)
        print("numpy" in sys.modules)
    """) == ["False"]


WITHOUT_NUMPY = """
import sys
{block}
import heliodex
h = heliodex.Heliodex.from_celestrak_csv({path!r})
for _ in range(2):  # the import is tried afresh at every call
    try:
        h.to_numpy()
    except ImportError as e:
        print(f"{{type(e).__name__}}: {{e}}")
print(len(h), bool(sys.modules.get("numpy")))
"""
NONE_HELD = "None in sys.modules"
BLOCKER = """
    class Blocker:
        def find_spec(self, name, path=None, target=None):
            if name.partition(".")[0] == "numpy":
                raise ImportError("blocked for the test")
    sys.meta_path.insert(0, Blocker())
"""


@pytest.mark.parametrize(
    "block,error",
    [("sys.modules['numpy'] = None", f"ModuleNotFoundError: import of numpy halted; {NONE_HELD}"),
     (BLOCKER, "ImportError: blocked for the test")],
)  # fmt: skip
def test_without_numpy(block, error):
    script = WITHOUT_NUMPY.format(block=textwrap.dedent(block), path=SAMPLE_CSV)
    days = len(Heliodex.from_celestrak_csv(SAMPLE_CSV))
    assert run_python(script) == [error, error, f"{days} False"]
