"""CelesTrak CSV files end to end, checked against a reading with Python's csv module."""

import csv
import datetime
import math

import pytest
from conftest import HEADER, INDEX_KEYS, SAMPLE_CSV, csv_row, csv_text
from heliodex import Heliodex

D = datetime.date(2000, 1, 1)
FILL = {"", "9999.9", "99999", "999.9"}


def number(text):
    return None if text.strip() in FILL else float(text)


def reference(path):
    """Date -> expected record dictionary, read with the csv module."""
    out = {}
    with open(path, newline="", encoding="utf-8") as f:
        for row in csv.DictReader(f):
            groups = {p: [number(row[f"{p}{k}"]) for k in range(1, 9)] for p in ("AP", "KP")}
            rec = dict.fromkeys(INDEX_KEYS)
            rec.update(
                date=datetime.date(*map(int, row["DATE"].split("-"))),
                f10_7_obs=number(row["F10.7_OBS"]),
                f10_7_adj=number(row["F10.7_ADJ"]),
                ap_daily=number(row["AP_AVG"]),
                ap_3hr=None if None in groups["AP"] else groups["AP"],
                kp_3hr=None if None in groups["KP"] else groups["KP"],
            )
            assert out.setdefault(rec["date"], rec) is rec  # these files have no repeated day
    return out


@pytest.mark.parametrize(
    "source,expected",
    [(lambda real: SAMPLE_CSV, None), (lambda real: real("SW-All.csv"), (24888, 1957, 2041))],
    ids=["sample", "published"],
)
def test_whole_file_matches_csv_module(real, source, expected):
    path = source(real)
    h, ref = Heliodex.from_celestrak_csv(path), reference(path)
    first, last = min(ref), max(ref)
    if expected:
        count, first_year, last_year = expected
        assert (len(h), first, last) == (count, D.replace(first_year, 10), D.replace(last_year, 10))
    assert len(h) == h.len() == len(ref) and h.date_range() == (first, last)
    assert h.get_range(first, last) == [ref[d] for d in sorted(ref)]


@pytest.mark.parametrize(
    "texts,values",
    [(("9999.9", "99999", "999.9"), (None, None, None)), (("", "  ", "\t"), (None, None, None)),
     (("9999.90", "99999.0", " 999.90 "), (9999.9, 99999.0, 999.9)),
     (("abc", "12x", "0x10"), (None, None, None)), (("1e2", "+7.5", ".5"), (100.0, 7.5, 0.5)),
     (("1E-2", "-inf", "Infinity"), (0.01, -math.inf, math.inf)),
     (("1e999", "-1e-999", "0"), (math.inf, -0.0, 0.0))],
)  # fmt: skip
def test_scalar_values(load, texts, values):
    rec = load("from_celestrak_csv", csv_text(csv_row("2000-01-01", *texts))).get(D)
    assert (rec["f10_7_obs"], rec["f10_7_adj"], rec["ap_daily"]) == values


EIGHT, GROUP = list(range(1, 9)), [float(v) for v in range(1, 9)]


@pytest.mark.parametrize(
    "kp,ap3,kp_3hr,ap_3hr",
    [(EIGHT, EIGHT, GROUP, GROUP), (EIGHT[:7] + [""], EIGHT, None, GROUP),
     (EIGHT, EIGHT[:7] + ["9999.9"], GROUP, None),
     (EIGHT[:7] + ["x"], EIGHT[:7] + [" "], None, None),
     (EIGHT[::-1], EIGHT, GROUP[::-1], GROUP)],
)  # fmt: skip
def test_groups_of_eight_are_all_or_nothing(load, kp, ap3, kp_3hr, ap_3hr):
    rec = load("from_celestrak_csv", csv_text(csv_row("2000-01-01", kp=kp, ap3=ap3))).get(D)
    assert (rec["kp_3hr"], rec["ap_3hr"]) == (kp_3hr, ap_3hr)


@pytest.mark.parametrize("text", ["2000-1-1", "+2000-01-+01", " 2000-01-01 ", "02000-001-01"])
def test_date_forms(load, text):
    assert load("from_celestrak_csv", csv_text(csv_row(text))).get(D)["date"] == D


@pytest.mark.parametrize("content", [HEADER, HEADER + "\n", HEADER + "\r\n\n   \n"])
def test_header_only_is_empty(load, content):
    h = load("from_celestrak_csv", content)
    assert len(h) == h.len() == 0 and not h and h.date_range() is None


def test_alternative_and_repeated_header_names(load):
    groups = [f"{p}{k}" for p in ("AP", "KP") for k in range(1, 9)]
    header = ",".join([" F10.7 ", "AP", "F10.7A", "DATE", "F10.7_OBS", "AP", *groups])
    row = ",".join(["1", "2", "3", "2000-01-01", "4", "5", *["6"] * 16])
    rec = load("from_celestrak_csv", f"{header}\n{row}\n").get(D)
    # F10.7_OBS wins over F10.7 wherever it stands; the later of two AP columns is read.
    assert (rec["f10_7_obs"], rec["f10_7_adj"], rec["ap_daily"]) == (4.0, 3.0, 5.0)


def test_repeated_days_take_the_first_present_value(load):
    rows = [
        csv_row("2000-01-01", obs="70.1", ap="", kp=range(1, 9)),
        csv_row("2000-01-01", obs="80", ap="5", kp=range(2, 10), adj=""),
        csv_row("2000-01-01", obs="90", ap="6", adj="7"),
    ]
    h = load("from_celestrak_csv", csv_text(*rows))
    rec = h.get(D)
    assert len(h) == 1
    assert (rec["f10_7_obs"], rec["ap_daily"], rec["f10_7_adj"]) == (70.1, 5.0, 151.5)
    assert rec["kp_3hr"] == [float(v) for v in range(1, 9)]


def test_order_line_ends_and_blank_lines(load):
    days = [D + datetime.timedelta(days=i) for i in (5, 3, 4, 0)]
    rows = [csv_row(d.isoformat(), obs=str(i)) for i, d in enumerate(days)]
    lf = load("from_celestrak_csv", csv_text(*rows))
    crlf = load("from_celestrak_csv", csv_text(*rows).replace("\n", "\r\n"))
    blanks = load("from_celestrak_csv", csv_text(*rows).replace("\n", "\n \t\n\n"))
    expected = lf.get_range(D, days[0])
    assert [r["date"] for r in expected] == sorted(days)
    assert crlf.get_range(D, days[0]) == blanks.get_range(D, days[0]) == expected
