"""SOLFSMY and DTCFILE end to end, and merges across the three formats."""

import datetime
import pathlib

import pytest
from heliodex import Heliodex

D = datetime.date
SOL_KEYS = ("f10_7_jb", "f10_7_jb_81c", "s10_7", "m10_7", "y10_7")


def read_solfsmy(path):
    out = {}
    for line in pathlib.Path(path).read_text().splitlines():
        if not line.strip() or line.strip().startswith("#"):
            continue
        day = D(int(line[0:6]), 1, 1) + datetime.timedelta(days=int(line[6:10]) - 1)
        out[day] = [float(line[a:b]) for a, b in ((22, 28), (28, 34), (34, 40), (46, 52), (58, 64))]
    return out


def read_dtcfile(path):
    out = {}
    for line in pathlib.Path(path).read_text().splitlines():
        if not line.strip() or line.strip().startswith("#"):
            continue
        day = D(int(line[4:8]), 1, 1) + datetime.timedelta(days=int(line[8:13]) - 1)
        out[day] = sum(int(line[13 + 4 * k : 17 + 4 * k]) for k in range(24)) / 24
    return out


@pytest.mark.parametrize("source", ["samples", "shared"])
def test_files_against_an_independent_reading(source, samples, shared):
    if source == "samples":
        sol_path, dtc_path = samples["sol"], samples["dtc"]
    else:
        sol_path, dtc_path = shared("SOLFSMY.TXT"), shared("DTCFILE.TXT")
    sol, dtc = Heliodex.from_set_solfsmy(sol_path), Heliodex.from_set_dtcfile(dtc_path)
    want_sol, want_dtc = read_solfsmy(sol_path), read_dtcfile(dtc_path)
    assert len(sol) == len(want_sol) and len(dtc) == len(want_dtc)
    assert sol.date_range()[0] == dtc.date_range()[0] == D(1997, 1, 1)
    for rec in sol.get_range(D(1900, 1, 1), D(2100, 1, 1)):
        assert [rec[k] for k in SOL_KEYS] == want_sol[rec["date"]]
        assert all(v is None for k, v in rec.items() if k not in SOL_KEYS + ("date",))
    for rec in dtc.get_range(D(1900, 1, 1), D(2100, 1, 1)):
        assert rec["dtc"] == want_dtc[rec["date"]]
    if source == "shared":
        assert (len(sol), len(dtc)) == (7913, 7912)


def test_merge_of_three_formats_in_both_orders(shared, write):
    csv_path, sol_path, dtc_path = (
        shared("SW-All.csv"),
        shared("SOLFSMY.TXT"),
        shared("DTCFILE.TXT"),
    )
    a = Heliodex.from_celestrak_csv(csv_path)
    a.merge(Heliodex.from_set_solfsmy(sol_path))
    a.merge(Heliodex.from_set_dtcfile(dtc_path))
    b = Heliodex.from_set_dtcfile(dtc_path)
    b.merge(Heliodex.from_set_solfsmy(sol_path))
    b.merge(Heliodex.from_celestrak_csv(csv_path))
    day = D(2003, 10, 29)
    assert a.get(day) == b.get(day)
    assert None not in (a.get(day)["f10_7_obs"], a.get(day)["s10_7"], a.get(day)["dtc"])
    assert len(a) == len(b) == 24888

    # Where two sources hold the same index for a day, the receiver's value wins.
    line = "DTC 1997    1" + "".join(f"{v:4d}" for v in [100] * 24)
    override = write(line + "\n")
    c = Heliodex.from_set_dtcfile(override)
    c.merge(Heliodex.from_set_dtcfile(dtc_path))
    assert c.get(D(1997, 1, 1))["dtc"] == 100.0
    d = Heliodex.from_set_dtcfile(dtc_path)
    d.merge(Heliodex.from_set_dtcfile(override))
    assert d.get(D(1997, 1, 1))["dtc"] == read_dtcfile(dtc_path)[D(1997, 1, 1)]
