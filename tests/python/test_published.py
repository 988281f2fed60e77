"""Published and sample files end to end, checked against a plain reading with Python alone.

The parsers' rules field by field are tested in the C++ suite; these check that whole files
reach Python as the plain readings give them."""

import csv
import datetime

import pytest
from conftest import INDEX_KEYS, SAMPLE_CSV, SAMPLE_DTC, SAMPLE_SOL
from heliodex import Heliodex

D = datetime.date(2000, 1, 1)
FILL = {"", "9999.9", "99999", "999.9"}
SOL, DTC = "from_set_solfsmy", "from_set_dtcfile"
SOL_COLUMNS = {"f10_7_jb": 22, "f10_7_jb_81c": 28, "s10_7": 34, "m10_7": 46, "y10_7": 58}


def number(text):
    return None if text.strip() in FILL else float(text)


def csv_reference(path):
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
    h, ref = Heliodex.from_celestrak_csv(path), csv_reference(path)
    first, last = min(ref), max(ref)
    if expected:
        count, first_year, last_year = expected
        assert (len(h), first, last) == (count, D.replace(first_year, 10), D.replace(last_year, 10))
    assert len(h) == h.len() == len(ref) and h.date_range() == (first, last)
    assert h.get_range(first, last) == [ref[d] for d in sorted(ref)]


def day(year, doy):
    return datetime.date(year, 1, 1) + datetime.timedelta(days=doy - 1)


def set_reference(constructor, path):
    """Date -> expected record dictionary, read by the published column layout."""
    out = {}
    with open(path, encoding="utf-8") as f:
        lines = [s for s in f.read().splitlines() if s.strip() and not s.strip().startswith("#")]
    for line in lines:
        rec = dict.fromkeys(INDEX_KEYS)
        if constructor == SOL:
            rec["date"] = day(int(line[0:6]), int(line[6:10]))
            rec.update({key: float(line[at : at + 6]) for key, at in SOL_COLUMNS.items()})
        else:
            rec["date"] = day(int(line[4:8]), int(line[8:13]))
            rec["dtc"] = sum(int(line[13 + 4 * k : 17 + 4 * k]) for k in range(24)) / 24
        out.setdefault(rec["date"], rec)
    return out


@pytest.mark.parametrize(
    "constructor,source,expected",
    [(SOL, SAMPLE_SOL, None), (DTC, SAMPLE_DTC, None), (SOL, "SOLFSMY.TXT", (7913, 8, 31)),
     (DTC, "DTCFILE.TXT", (7912, 8, 30))],
    ids=["solfsmy-sample", "dtcfile-sample", "solfsmy-published", "dtcfile-published"],
)  # fmt: skip
def test_whole_file_matches_fixed_columns(real, constructor, source, expected):
    path = real(source) if expected else source
    h, ref = getattr(Heliodex, constructor)(path), set_reference(constructor, path)
    first, last = min(ref), max(ref)
    if expected:
        count, month, dom = expected
        assert (len(h), first, last) == (count, D.replace(1997), datetime.date(2018, month, dom))
    assert len(h) == len(ref) and h.date_range() == (first, last)
    assert h.get_range(first, last) == [ref[d] for d in sorted(ref)]
