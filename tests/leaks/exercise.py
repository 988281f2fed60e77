"""Every method, succeeding and failing, in a loop: run under valgrind by scripts/valgrind.sh."""

import datetime
import pathlib

import heliodex
import numpy  # noqa: F401  (imported here so its own import-time objects are not charged to us)

DATA = pathlib.Path(__file__).resolve().parents[1] / "data"
H = heliodex.Heliodex

for _ in range(200):
    h = H.from_celestrak_csv(str(DATA / "SW_sample.csv"))
    h.merge(H.from_set_solfsmy(str(DATA / "SOLFSMY_sample.TXT")))
    h.merge(H.from_set_dtcfile(str(DATA / "DTCFILE_sample.TXT")))
    h.get(datetime.date(1997, 1, 15))
    h.get_range(datetime.date(1997, 1, 1), datetime.date(1997, 3, 1))
    h.date_range()
    h.to_numpy()
    for bad in ("/nonexistent", "/tmp", str(DATA.parent.parent / "README.md")):
        try:
            H.from_set_dtcfile(bad)
        except ValueError:
            pass
    try:
        h.merge(h)
    except RuntimeError:
        pass
