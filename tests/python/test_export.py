"""to_numpy(): keys, shapes, NaN patterns, independence and agreement with the dicts."""

import datetime
import gc
import math

import pytest
from conftest import HEADER, csv_row
from heliodex import Heliodex

np = pytest.importorskip("numpy")
D = datetime.date
KEYS = [
    "date",
    "f10_7_obs",
    "f10_7_adj",
    "f10_7_jb",
    "f10_7_jb_81c",
    "ap_daily",
    "s10_7",
    "m10_7",
    "y10_7",
    "dtc",
    "ap_3hr",
    "kp_3hr",
]
ABSENT = 0x7FF8000000000000


def bits(a):
    return np.ascontiguousarray(a, dtype=np.float64).view(np.uint64)


@pytest.fixture
def h(write):
    rows = [csv_row("2000-01-01", obs="nan", ap=""), csv_row("2000-01-02", obs="-nan", kp=[""] * 8)]
    return Heliodex.from_celestrak_csv(write(HEADER + "\n" + "\n".join(rows)))


class TestShape:
    def test_keys_dtypes_and_shapes(self, h):
        out = h.to_numpy()
        assert list(out) == KEYS
        assert out["date"].dtype == object and list(out["date"]) == [D(2000, 1, 1), D(2000, 1, 2)]
        for key in KEYS[1:10]:
            a = out[key]
            assert a.dtype == np.float64 and a.shape == (2,) and a.strides == (8,)
            assert a.flags.writeable and a.flags.c_contiguous and a.base is not None
        for key in ("ap_3hr", "kp_3hr"):
            assert out[key].shape == (2, 8) and out[key].flags.c_contiguous

    def test_empty_and_one_day(self, write):
        empty = Heliodex.from_set_dtcfile("/dev/null").to_numpy()
        assert list(empty) == KEYS
        assert all(empty[k].shape == (0,) for k in KEYS[1:10])
        assert empty["ap_3hr"].shape == empty["kp_3hr"].shape == (0, 0)
        assert empty["date"].shape == np.array([]).shape
        one = Heliodex.from_celestrak_csv(write(HEADER + "\n" + csv_row("2000-01-01"))).to_numpy()
        assert one["dtc"].shape == (1,) and one["kp_3hr"].shape == (1, 8)


class TestValues:
    def test_absent_is_the_quiet_nan_and_present_nan_is_kept(self, h):
        out = h.to_numpy()
        assert bits(out["ap_daily"])[0] == ABSENT
        assert (bits(out["dtc"]) == ABSENT).all()
        assert (bits(out["kp_3hr"][1]) == ABSENT).all()
        assert list(out["kp_3hr"][0]) == [1, 2, 3, 4, 5, 6, 7, 8]
        nan, neg_nan = (h.get(D(2000, 1, d))["f10_7_obs"] for d in (1, 2))
        assert math.isnan(nan) and math.copysign(1, neg_nan) == -1
        assert bits(out["f10_7_obs"])[1] == bits(np.array([neg_nan]))[0]

    def test_every_element_matches_the_dicts(self, shared):
        store = Heliodex.from_celestrak_csv(shared("SW-All.csv"))
        store.merge(Heliodex.from_set_solfsmy(shared("SOLFSMY.TXT")))
        store.merge(Heliodex.from_set_dtcfile(shared("DTCFILE.TXT")))
        out = store.to_numpy()
        recs = store.get_range(D(1, 1, 1), D(9999, 12, 31))
        assert len(out["date"]) == len(recs) == len(store)
        assert list(out["date"]) == [r["date"] for r in recs]
        for key in KEYS[1:]:
            column = out[key]
            for i, rec in enumerate(recs):
                value = rec[key]
                if value is None:
                    assert (bits(column[i]) == ABSENT).all(), (key, i)
                else:
                    assert (bits(column[i]) == bits(np.array(value))).all(), (key, i)


class TestIndependence:
    def test_writes_and_merges_do_not_leak_between_exports(self, h, write):
        first = h.to_numpy()
        first["f10_7_adj"][:] = 0
        first["kp_3hr"][:] = 0
        second = h.to_numpy()
        assert second["f10_7_adj"][0] == 151.5 and second["kp_3hr"][0, 0] == 1
        h.merge(Heliodex.from_celestrak_csv(write(HEADER + "\n" + csv_row("1999-01-01"))))
        assert second["f10_7_adj"].shape == (2,) and len(h.to_numpy()["dtc"]) == 3

    def test_columns_outlive_instance_and_dict(self, write):
        h = Heliodex.from_celestrak_csv(write(HEADER + "\n" + csv_row("2000-01-01")))
        column = h.to_numpy()["f10_7_adj"]
        view = column[:1]
        del h, column
        gc.collect()
        assert view[0] == 151.5
