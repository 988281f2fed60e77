"""get, get_range and date_range: date arguments, record dictionaries and unreal stored days."""

import contextlib
import datetime
import math
import sys
from types import SimpleNamespace

import numpy  # noqa: F401  (imported up front: to_numpy below runs under a replaced datetime.date)
import pytest
from conftest import INDEX_KEYS, csv_row, csv_text, raises

D = datetime.date(2000, 1, 1)
EVERYTHING = (datetime.date.min, datetime.date.max)
OURS = "out of range integral type conversion attempted"
NATIVE = "Python int too large to convert to C long"
ROWS = [
    csv_row("2000-01-01"),
    csv_row("2000-01-02", obs="", adj="", ap="", kp=[""] * 8, ap3=[""] * 8),
    csv_row("2000-01-04", obs="nan", adj="-nan"),
]
FULL = {"date": D, **dict.fromkeys(INDEX_KEYS), "f10_7_obs": 150.5, "f10_7_adj": 151.5,
        "ap_daily": 20.0, "ap_3hr": [float(v) for v in range(11, 19)],
        "kp_3hr": [float(v) for v in range(1, 9)]}  # fmt: skip


def day(year, month=None, dom=None):
    """A date-like object; None leaves the attribute out."""
    given = {"year": year, "month": month, "day": dom}
    return SimpleNamespace(**{k: v for k, v in given.items() if v is not None})


def days(records):
    return [r["date"].day for r in records]


@pytest.fixture
def h(load):
    return load("from_celestrak_csv", csv_text(*ROWS))


def test_record_dictionary(h):
    rec = h.get(D)
    assert rec == FULL and list(rec) == ["date", *INDEX_KEYS]
    assert all(type(rec[k]) is float for k in ("f10_7_obs", "f10_7_adj", "ap_daily"))
    assert all(type(v) is float for k in ("ap_3hr", "kp_3hr") for v in rec[k])
    absent = h.get(D.replace(day=2))
    assert list(absent) == ["date", *INDEX_KEYS] and all(absent[k] is None for k in INDEX_KEYS)
    nan = h.get(D.replace(day=4))
    assert type(nan["f10_7_obs"]) is float and math.isnan(nan["f10_7_obs"])
    assert math.isnan(nan["f10_7_adj"]) and math.copysign(1.0, nan["f10_7_adj"]) == -1.0


def test_every_call_makes_new_objects(h):
    first = h.get(D)
    first["f10_7_obs"] = 0.0
    first["kp_3hr"].append(9.0)
    second = h.get(D)
    assert second == FULL and second is not first and second["kp_3hr"] is not first["kp_3hr"]
    assert h.get_range(D, D) == [FULL] and h.get_range(D, D)[0] is not h.get_range(D, D)[0]


class One:
    def __index__(self):
        return 1


@pytest.mark.parametrize(
    "key,found",
    [(D, True), (datetime.datetime(2000, 1, 1, 23, 59), True), (day(2000, True, True), True),
     (day(2000, One(), One()), True), (D.replace(day=3), False), (day(2000, 13, 1), False),
     (day(2000, 0, 0), False), (day(-(2**31), 255, 255), False), (day(2**31 - 1, 1, 1), False)],
)  # fmt: skip
def test_get_keys(h, key, found):
    assert h.get(key) == (FULL if found else None)
    assert h.get_range(key, key) == ([FULL] if found else [])


@pytest.mark.parametrize(
    "start,end,expected",
    [(D, D.replace(day=4), [1, 2, 4]), (D.replace(day=2), D.replace(day=3), [2]),
     (*EVERYTHING, [1, 2, 4]), (day(1999, 13, 1), day(2000, 1, 0), []), (D.replace(day=4), D, []),
     (D.replace(day=3), D.replace(day=3), []), (datetime.date(2001, 1, 1), EVERYTHING[1], [])],
)  # fmt: skip
def test_get_range_bounds(h, start, end, expected):
    assert days(h.get_range(start, end)) == days(h.get_range(end=end, start=start)) == expected


def test_empty_store_and_date_range(h, load):
    empty = load("from_set_solfsmy", "")
    assert (
        empty.get(D) is None and empty.get_range(*EVERYTHING) == [] and empty.date_range() is None
    )
    assert h.date_range() == (D, D.replace(day=4))
    one = load("from_celestrak_csv", csv_text(ROWS[0])).date_range()
    assert one == (D, D) and type(one) is tuple


class RaisingYear:
    month = day = 1

    @property
    def year(self):
        raise KeyError("from the caller")


BAD_KEYS = [
    (object(), AttributeError, "'object' object has no attribute 'year'"),
    ("2000-01-01", AttributeError, "'str' object has no attribute 'year'"),
    (day(2000, None, 1), AttributeError, "'types.SimpleNamespace' object has no attribute 'month'"),
    (day(2000.0, 1, 1), TypeError, "'float' object cannot be interpreted as an integer"),
    (day("2000", 1, 1), TypeError, "'str' object cannot be interpreted as an integer"),
    (day(2000, 300, 1), OverflowError, OURS), (day(2000, -1, 1), OverflowError, OURS),
    (day(2000, 1, 256), OverflowError, OURS), (day(2**31, 1, 1), OverflowError, OURS),
    (day(-(2**31) - 1, 1, 1), OverflowError, OURS), (day(2**70, 300, 1), OverflowError, NATIVE),
    (day(2000, 2**64, 1), OverflowError, NATIVE), (RaisingYear(), KeyError, "'from the caller'"),
]  # fmt: skip


@pytest.mark.parametrize("position", ["get", "start", "end"])
@pytest.mark.parametrize("key,error,message", BAD_KEYS)
def test_date_argument_errors(h, key, error, message, position):
    if position == "get":
        raises(error, message, h.get, key)
    else:  # a bad start is reported even when the end is bad too
        raises(error, message, h.get_range, *((key, object()) if position == "start" else (D, key)))
    assert len(h) == 3 and h.get(D) == FULL


ATTEMPTS = {
    "merge_into_looked_up": (lambda h, other: h.merge(other), "Already borrowed"),
    "merge_looked_up_away": (lambda h, other: other.merge(h), "Already borrowed"),
    "nested_lookup": (lambda h, other: h.get(D) == FULL, True),
}


@pytest.mark.parametrize("attempt", ATTEMPTS)
def test_date_argument_that_reenters(h, load, attempt):
    other, (action, outcome), seen = load("from_set_dtcfile", ""), ATTEMPTS[attempt], []

    class Sneaky:
        month = day = 1

        @property
        def year(self):
            try:
                seen.append(action(h, other))
            except RuntimeError as e:
                seen.append(str(e))
            return 2000

    assert h.get(Sneaky()) == FULL and days(h.get_range(D, Sneaky())) == [1]
    assert seen == [outcome] * 2 and len(h) == 3 and len(other) == 0 and h.get(D) == FULL


def test_reentering_error_propagates(h, load):
    other = load("from_set_dtcfile", "")
    key = type("Sneaky", (), {"year": property(lambda _: h.merge(other)), "month": 1, "day": 1})
    raises(RuntimeError, "Already borrowed", h.get, key())
    assert len(h) == 3 and h.merge(other) is None


def test_replaced_date_class_is_used_and_cannot_merge(h, load, monkeypatch):
    other, refusals = load("from_set_dtcfile", "# nothing\n"), []

    class Patched(datetime.date):
        def __new__(cls, *args):
            try:
                h.merge(other)
            except RuntimeError as e:
                refusals.append(str(e))
            return super().__new__(cls, *args)

    monkeypatch.setattr(datetime, "date", Patched)
    made = [h.get(D)["date"], *h.date_range(), *(r["date"] for r in h.get_range(D, D)),
            *h.to_numpy()["date"]]  # fmt: skip
    assert [type(d) for d in made] == [Patched] * 7 and len(h) == 3
    assert refusals == ["Already borrowed"] * 7


def test_date_class_is_read_for_every_date_while_reading_it_runs_code(h, monkeypatch):
    genuine, reads = datetime.date, []

    class Later(datetime.date):
        pass

    class NotAModule:  # its attribute is a property, so each read may give another class
        @property
        def date(self):
            reads.append(None)
            return genuine if len(reads) % 2 else Later

    monkeypatch.setitem(sys.modules, "datetime", NotAModule())
    made = [r["date"] for r in h.get_range(*EVERYTHING)] + list(h.to_numpy()["date"])
    made += h.date_range()
    assert [type(d) for d in made] == [genuine, Later] * 4
    assert [d.day for d in made] == [1, 2, 4, 1, 2, 4, 1, 4] and len(reads) == 8


@pytest.mark.parametrize(
    "texts,bad,first_last",
    [(["2000-02-29", "2000-02-30", "2000-03-01"], (2000, 2, 30), False),
     (["2000-02-30", "2000-03-01"], (2000, 2, 30), True),
     (["2000-02-29", "2000-02-31"], (2000, 2, 31), True),
     (["9999-12-31", "10000-01-01"], (10000, 1, 1), True)],
)  # fmt: skip
def test_stored_day_without_datetime_date(load, texts, bad, first_last):
    h = load("from_celestrak_csv", csv_text(*(csv_row(t) for t in texts)))
    message = str(raises(ValueError, None, datetime.date, *bad))
    raises(ValueError, message, h.get, day(*bad))
    raises(ValueError, message, h.get_range, EVERYTHING[0], day(2**31 - 1, 1, 1))
    raises(ValueError, message, h.to_numpy)
    if first_last:
        raises(ValueError, message, h.date_range)
    else:
        assert h.date_range() == (datetime.date(2000, 2, 29), datetime.date(2000, 3, 1))
    assert len(h) == len(texts)  # the store is intact
    for text in texts:
        with contextlib.suppress(ValueError):  # only the days that datetime.date can hold
            good = datetime.date.fromisoformat(text)
            assert days(h.get_range(good, good)) == [good.day] and h.get(good)["date"] == good


class Recorder:
    """Stands in for datetime.date: records each call and makes the real date."""

    def __init__(self):
        self.calls = []

    def __call__(self, *args):
        self.calls.append(args)
        return datetime.date(*args)


@pytest.mark.parametrize("kind", ["object", "module_getattr", "deleted"])
def test_datetime_date_is_looked_up_afresh_wherever_it_lives(h, monkeypatch, kind):
    import sys
    import types

    recorder = Recorder()
    if kind == "object":
        monkeypatch.setitem(sys.modules, "datetime", SimpleNamespace(date=recorder))
    elif kind == "module_getattr":
        lazy = types.ModuleType("datetime")
        lazy.__getattr__ = lambda name: recorder if name == "date" else None
        monkeypatch.setitem(sys.modules, "datetime", lazy)
    else:
        monkeypatch.delattr(datetime, "date")
        raises(AttributeError, "module 'datetime' has no attribute 'date'", h.date_range)
        return
    assert h.get(D)["date"] == D and h.date_range()[0] == D
    assert recorder.calls == [(2000, 1, 1), (2000, 1, 1), (2000, 1, 4)]


@pytest.mark.parametrize("one_by_one", [False, True])
def test_equal_values_of_a_day_or_range_keep_their_bits(load, one_by_one):
    # Both lookups share a float among equal values; equal means bit for bit, not ==.
    rows = [csv_row(f"2000-01-{d:02}", obs=obs, adj="-0.0", kp=[0.0, -0.0, "nan", 1, 1, 1, 1, 1],
                    ap3=[1, 1.0, "-0", 0, 0, "+0", 2, "nan"])
            for d, obs in ((1, "0.0"), (2, "-0.0"), (3, "nan"), (4, "0.0"))]  # fmt: skip
    h = load("from_celestrak_csv", csv_text(*rows))
    got = h.get_range(*EVERYTHING)
    if one_by_one:
        got = [h.get(r["date"]) for r in got]
    signs = [math.copysign(1, r["f10_7_obs"]) for r in got if not math.isnan(r["f10_7_obs"])]
    assert signs == [1, -1, 1] and all(math.copysign(1, r["f10_7_adj"]) == -1 for r in got)
    for r in got:
        assert [math.copysign(1, v) for v in r["ap_3hr"][:7]] == [1, 1, -1, 1, 1, 1, 1]
        assert r["ap_3hr"][:7] == [1, 1, 0, 0, 0, 0, 2] and math.isnan(r["ap_3hr"][7])
        assert [math.copysign(1, v) for v in r["kp_3hr"][:2]] == [1, -1]
        assert math.isnan(r["kp_3hr"][2]) and r["kp_3hr"][3:] == [1.0] * 5
