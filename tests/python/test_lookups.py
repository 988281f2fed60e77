"""Dates in and out, record dictionaries, and the three lookups."""

import csv
import datetime
import math
import struct

import pytest
from conftest import HEADER, csv_row
from heliodex import Heliodex

D = datetime.date
KEYS = [
    "date",
    "f10_7_obs",
    "f10_7_adj",
    "f10_7_jb",
    "f10_7_jb_81c",
    "ap_daily",
    "ap_3hr",
    "kp_3hr",
    "s10_7",
    "m10_7",
    "y10_7",
    "dtc",
]
RANGE_MSG = "out of range integral type conversion attempted"


@pytest.fixture
def h(write):
    rows = [
        csv_row("2000-01-01"),
        csv_row("2000-01-03", obs="nan", kp=[1, 2, 3, 4, 5, 6, 7, ""]),
        csv_row("2000-01-05", obs="", adj="", ap=""),
    ]
    return Heliodex.from_celestrak_csv(write(HEADER + "\n" + "\n".join(rows)))


class TestGet:
    def test_found_missing_and_types(self, h):
        rec = h.get(D(2000, 1, 1))
        assert list(rec) == KEYS
        assert rec["date"] == D(2000, 1, 1) and type(rec["date"]) is D
        assert rec["f10_7_obs"] == 150.5 and rec["ap_daily"] == 20.0
        assert rec["kp_3hr"] == [1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0]
        assert all(type(v) is float for v in rec["ap_3hr"] + rec["kp_3hr"])
        assert [rec[k] for k in ("f10_7_jb", "f10_7_jb_81c", "s10_7", "m10_7", "y10_7", "dtc")] == [
            None
        ] * 6
        assert h.get(D(2000, 1, 2)) is None
        assert h.get(D(2000, 1, 1)) is not rec  # every call builds new objects

    def test_present_nan_and_partial_group(self, h):
        rec = h.get(D(2000, 1, 3))
        assert type(rec["f10_7_obs"]) is float and math.isnan(rec["f10_7_obs"])
        assert rec["kp_3hr"] is None and rec["ap_3hr"] is not None
        empty = h.get(D(2000, 1, 5))
        assert sum(v is None for v in empty.values()) == 9  # only date and the two groups

    def test_datetime_keys_and_empty_store(self, h):
        assert h.get(datetime.datetime(2000, 1, 1, 23, 59))["f10_7_obs"] == 150.5
        e = Heliodex.from_set_dtcfile("/dev/null")
        assert e.get(D(2000, 1, 1)) is None and e.get_range(D(1, 1, 1), D(9999, 1, 1)) == []
        assert e.date_range() is None

    def test_mutating_a_result_leaves_the_store(self, h):
        rec = h.get(D(2000, 1, 1))
        rec["kp_3hr"][0] = 99.0
        rec["f10_7_obs"] = None
        assert h.get(D(2000, 1, 1))["kp_3hr"][0] == 1.0


class Dateish:
    def __init__(self, year=2000, month=1, day=1):
        self.year, self.month, self.day = year, month, day


class TestDateConversion:
    @pytest.mark.parametrize(
        "key,exc,message",
        [
            ("2000-01-01", AttributeError, None),
            (object(), AttributeError, None),
            (Dateish(month=300), OverflowError, RANGE_MSG),
            (Dateish(month=-1), OverflowError, RANGE_MSG),
            (Dateish(day=256), OverflowError, RANGE_MSG),
            (Dateish(year=2**31), OverflowError, RANGE_MSG),
            (Dateish(year=-(2**31) - 1), OverflowError, RANGE_MSG),
            (Dateish(year=2**70), OverflowError, None),
            (Dateish(year=2000.0), TypeError, None),
            (Dateish(month="1"), TypeError, None),
        ],
    )
    def test_errors(self, h, key, exc, message):
        for call in (
            lambda: h.get(key),
            lambda: h.get_range(key, D(2000, 1, 1)),
            lambda: h.get_range(D(2000, 1, 1), key),
        ):
            with pytest.raises(exc) as info:
                call()
            if message:
                assert str(info.value) == message
            if exc is OverflowError and message is None:
                assert str(info.value) != RANGE_MSG

    def test_duck_types_and_bool(self, h):
        assert h.get(Dateish(2000, True, True))["date"] == D(2000, 1, 1)
        assert h.get(Dateish(2000, 13, 1)) is None

    def test_bad_start_is_reported_before_bad_end(self, h):
        with pytest.raises(AttributeError):
            h.get_range(object(), Dateish(month=300))

    def test_raising_property_passes_through(self, h):
        class Boom:
            @property
            def year(self):
                raise KeyError("boom")

        with pytest.raises(KeyError):
            h.get(Boom())

    def test_patched_date_class_is_honoured(self, h, monkeypatch):
        class MyDate(D):
            pass

        monkeypatch.setattr(datetime, "date", MyDate)
        assert type(h.get(D(2000, 1, 1))["date"]) is MyDate
        assert all(type(d) is MyDate for d in h.date_range())


class TestRanges:
    @pytest.mark.parametrize(
        "start,end,days",
        [
            (D(2000, 1, 1), D(2000, 1, 5), [1, 3, 5]),
            (D(1999, 1, 1), D(2001, 1, 1), [1, 3, 5]),
            (D(2000, 1, 2), D(2000, 1, 4), [3]),
            (D(2000, 1, 3), D(2000, 1, 3), [3]),
            (D(2000, 1, 4), D(2000, 1, 4), []),
            (D(2000, 1, 5), D(2000, 1, 1), []),
            (D(2001, 1, 1), D(2002, 1, 1), []),
        ],
    )
    def test_inclusive_bounds(self, h, start, end, days):
        assert [r["date"].day for r in h.get_range(start, end)] == days

    def test_date_range(self, h, write):
        assert h.date_range() == (D(2000, 1, 1), D(2000, 1, 5))
        one = Heliodex.from_celestrak_csv(write(HEADER + "\n" + csv_row("2000-01-01")))
        assert one.date_range() == (D(2000, 1, 1), D(2000, 1, 1))


class TestInvalidStoredDay:
    def test_thirtieth_of_february(self, write):
        h = Heliodex.from_celestrak_csv(
            write(HEADER + "\n" + csv_row("2000-02-28") + "\n" + csv_row("2000-02-30"))
        )
        for call in (
            lambda: h.get(Dateish(2000, 2, 30)),
            lambda: h.get_range(D(2000, 2, 1), D(2000, 3, 1)),
            h.date_range,
            h.to_numpy,
        ):
            with pytest.raises(ValueError):
                call()
        assert len(h) == 2
        assert h.get(D(2000, 2, 28))["f10_7_obs"] == 150.5
        assert len(h.get_range(D(2000, 2, 1), D(2000, 2, 29))) == 1


def _number(text):
    text = text.strip()
    if text in ("", "9999.9", "99999", "999.9"):
        return None
    return float(text)


def test_real_celestrak_file_against_csv_module(shared):
    path = shared("SW-All.csv")
    h = Heliodex.from_celestrak_csv(path)
    with open(path, newline="") as f:
        rows = list(csv.DictReader(f))
    assert len(h) == len({r["DATE"] for r in rows}) == 24888
    assert h.date_range() == (D(1957, 10, 1), D(2041, 10, 1))
    everything = h.get_range(D(1957, 1, 1), D(2042, 1, 1))
    assert len(everything) == len(rows)
    for row, rec in zip(rows, everything, strict=True):
        assert rec["date"] == D.fromisoformat(row["DATE"])
        assert rec["f10_7_obs"] == _number(row["F10.7_OBS"])
        assert rec["f10_7_adj"] == _number(row["F10.7_ADJ"])
        assert rec["ap_daily"] == _number(row["AP_AVG"])
        for prefix, key in (("AP", "ap_3hr"), ("KP", "kp_3hr")):
            values = [_number(row[f"{prefix}{k}"]) for k in range(1, 9)]
            assert rec[key] == (None if None in values else values)
    # bit-for-bit: Python's float() is correctly rounded too
    assert struct.pack("<d", everything[0]["f10_7_obs"]) == struct.pack("<d", 269.3)
