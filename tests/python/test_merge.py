"""Merging instances: receiver precedence, the emptied donor and refused merges."""

import datetime
import functools

import pytest
from conftest import CONSTRUCTORS, INDEX_KEYS, VALID, csv_row, csv_text, dtc_line, raises
from heliodex import Heliodex

D, E = datetime.date(2000, 1, 1), datetime.date(2000, 1, 2)
EVERYTHING = (datetime.date.min, datetime.date.max)


FILES = {
    "a": ("from_celestrak_csv", csv_text(csv_row("2000-01-01", obs="100", ap="",
                                                 kp=[1] * 7 + [""]))),
    "b": ("from_celestrak_csv", csv_text(csv_row("2000-01-01", obs="120", ap="7"),
                                         csv_row("2000-01-02", obs="130"))),
    "dtc": ("from_set_dtcfile", dtc_line(2000, 1, [30] * 24)),
    "empty": ("from_set_dtcfile", ""),
}  # fmt: skip
MAKERS = (Heliodex.from_celestrak_csv, Heliodex.from_set_solfsmy, Heliodex.from_set_dtcfile)


@pytest.fixture
def make(load):
    return {name: functools.partial(load, *spec) for name, spec in FILES.items()}


def everything(h):
    return h.get_range(*EVERYTHING)


@pytest.mark.parametrize("call", ["method", "keyword", "unbound"])
def test_receiver_wins_and_other_fills_gaps(make, call):
    a, b, dtc = make["a"](), make["b"](), make["dtc"]()
    calls = {"method": lambda x, y: x.merge(y), "keyword": lambda x, y: x.merge(other=y)}
    merge = calls.get(call, Heliodex.merge)
    assert merge(a, b) is None and merge(a, dtc) is None
    d, e = a.get_range(D, E)
    assert (d["f10_7_obs"], d["ap_daily"], d["dtc"]) == (100.0, 7.0, 30.0)
    assert d["kp_3hr"] == [float(v) for v in range(1, 9)]  # a group counts as one index
    assert e == make["b"]().get(E)
    assert len(b) == len(dtc) == 0 and b.date_range() is None and everything(b) == []


def test_emptied_donor_stays_usable(make):
    a, b = make["a"](), make["b"]()
    a.merge(b)
    b.merge(make["dtc"]())
    a.merge(b)
    assert len(b) == 0 and len(a) == 2 and a.get(D)["dtc"] == 30.0


def test_self_merge_refused(make):
    a = make["a"]()
    before = everything(a)
    for args, kwargs in (((a, a), {}), ((a,), {"other": a})):
        raises(RuntimeError, "Already borrowed", Heliodex.merge, *args, **kwargs)
        assert everything(a) == before
    a.merge(make["b"]())  # both borrows were released
    assert len(a) == 2


@pytest.mark.parametrize("constructor", CONSTRUCTORS)
def test_constructor_on_an_instance_leaves_it_alone(make, write, constructor):
    a = make["a"]()
    before = everything(a)
    made = getattr(a, constructor)(write(VALID[constructor]))
    assert type(made) is Heliodex and made is not a and len(made) == 1
    assert everything(a) == before


@pytest.fixture
def published(real):
    paths = real("SW-All.csv"), real("SOLFSMY.TXT"), real("DTCFILE.TXT")
    return lambda: [f(p) for f, p in zip(MAKERS, paths, strict=True)]


def test_published_files_merge_in_either_order(published):
    sources = [{r["date"]: r for r in everything(h)} for h in published()]
    forward, backward = published(), published()[::-1]
    for parts in (forward, backward):
        for other in parts[1:]:
            parts[0].merge(other)
    merged = everything(forward[0])
    assert merged == everything(backward[0])  # the three files share no index
    assert [len(h) for h in forward[1:] + backward[1:]] == [0] * 4
    days = sorted(set().union(*sources))
    assert [r["date"] for r in merged] == days and len(forward[0]) == len(days)
    for rec in merged:
        for key in INDEX_KEYS:
            given = [s[rec["date"]][key] for s in sources if rec["date"] in s]
            assert rec[key] == next((v for v in given if v is not None), None)


def test_published_file_and_a_correction(published, load):
    day = datetime.date(2000, 7, 14)
    fix = csv_text(csv_row(day.isoformat(), obs="1.5", adj="", ap="", kp=[""] * 8, ap3=[""] * 8))
    real_first, fix_first = published()[0], load("from_celestrak_csv", fix)
    original = real_first.get(day)
    real_first.merge(load("from_celestrak_csv", fix))
    fix_first.merge(published()[0])
    assert real_first.get(day) == original and original["f10_7_obs"] != 1.5
    assert fix_first.get(day) == {**original, "f10_7_obs": 1.5}
    assert len(fix_first) == len(real_first) == 24888
