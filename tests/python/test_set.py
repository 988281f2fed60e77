"""SET SOLFSMY and DTCFILE files end to end, checked against a reading by fixed columns."""

import datetime
import math

import pytest
from conftest import INDEX_KEYS, SAMPLE_DTC, SAMPLE_SOL, dtc_line, sol_line
from heliodex import Heliodex

D = datetime.date(2000, 1, 1)
SOL, DTC = "from_set_solfsmy", "from_set_dtcfile"
SOL_COLUMNS = {"f10_7_jb": 22, "f10_7_jb_81c": 28, "s10_7": 34, "m10_7": 46, "y10_7": 58}


def day(year, doy):
    return datetime.date(year, 1, 1) + datetime.timedelta(days=doy - 1)


def reference(constructor, path):
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
    h, ref = getattr(Heliodex, constructor)(path), reference(constructor, path)
    first, last = min(ref), max(ref)
    if expected:
        count, month, dom = expected
        assert (len(h), first, last) == (count, D.replace(1997), datetime.date(2018, month, dom))
    assert len(h) == len(ref) and h.date_range() == (first, last)
    assert h.get_range(first, last) == [ref[d] for d in sorted(ref)]


@pytest.mark.parametrize(
    "fields,expected",
    [(dict(f10="nan"), dict(f10_7_jb=math.nan)),
     (dict(f10="1e3", f81=" +5 ", s10="-0.5"), dict(f10_7_jb=1000.0, f10_7_jb_81c=5.0, s10_7=-0.5)),
     (dict(m10="9999.9", y10="99999"), dict(m10_7=9999.9, y10_7=99999.0))],  # no fill values
)  # fmt: skip
def test_solfsmy_values(load, fields, expected):
    rec = load(SOL, "# header\n  # indented\n\n" + sol_line(2000, 1, **fields)).get(D)
    for key, value in expected.items():
        assert rec[key] == value or (math.isnan(value) and math.isnan(rec[key]))
    assert [k for k in INDEX_KEYS if rec[k] is not None] == list(SOL_COLUMNS)


def test_solfsmy_line_of_64_bytes_and_free_columns(load):
    line = sol_line(2000, 1)[:64]
    line = line[:10] + "x" * 12 + line[22:40] + "yyyyyy" + line[46:52] + "zzzzzz" + line[58:]
    assert len(line) == 64 and load(SOL, line).get(D)["y10_7"] == 61.9


@pytest.mark.parametrize(
    "hours,dtc",
    [(range(1, 25), 12.5), ([-12] * 24, -12.0), (["+1"] * 12 + ["-0"] * 12, 0.5),
     ([999] * 23 + [-999], 915.75)],
)  # fmt: skip
def test_dtcfile_mean(load, hours, dtc):
    rec = load(DTC, dtc_line(2000, 1, hours) + " trailing text").get(D)
    assert rec["dtc"] == dtc and [k for k in INDEX_KEYS if rec[k] is not None] == ["dtc"]


@pytest.mark.parametrize(
    "year,doy,date",
    [(2024, 366, (2024, 12, 31)), (2000, 60, (2000, 2, 29)), (2023, 60, (2023, 3, 1)),
     (1997, 32, (1997, 2, 1)), (97, 1, (97, 1, 1))],
)  # fmt: skip
@pytest.mark.parametrize("constructor", [SOL, DTC])
def test_day_of_year(load, constructor, year, doy, date):
    line = (sol_line if constructor == SOL else dtc_line)(year, doy)
    assert load(constructor, line + "\r\n").date_range() == (datetime.date(*date),) * 2


@pytest.mark.parametrize(
    "constructor,lines,key",
    [(SOL, [sol_line(2000, 2), sol_line(2000, 1, f10="1"), sol_line(2000, 1, f10="3")], "f10_7_jb"),
     (DTC, [dtc_line(2000, 2), dtc_line(2000, 1, [1] * 24), dtc_line(2000, 1, [3] * 24)], "dtc")],
)  # fmt: skip
def test_repeated_days_keep_the_first_line(load, constructor, lines, key):
    h = load(constructor, "\n".join(lines))
    assert len(h) == 2 and h.get(D)[key] == 1.0 and h.date_range() == (D, D.replace(day=2))


@pytest.mark.parametrize("constructor", [SOL, DTC])
@pytest.mark.parametrize("content", ["", "# only\n   # comments\n\n\t\n"])
def test_no_data_lines(load, constructor, content):
    assert len(load(constructor, content)) == 0
