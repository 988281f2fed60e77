"""Type-checked usage of the public interface (run by mypy --strict in CI)."""

import datetime

from heliodex import Heliodex


def summary(path: str) -> tuple[int, float | None]:
    h = Heliodex.from_celestrak_csv(path)
    rec = h.get(datetime.date(2000, 1, 1))
    obs = rec["f10_7_obs"] if rec is not None else None
    days: list[datetime.date] = [
        r["date"] for r in h.get_range(datetime.date(2000, 1, 1), datetime.date(2000, 2, 1))
    ]
    span = h.date_range()
    if span is not None:
        first, last = span
        assert first <= last
    h.merge(Heliodex.from_set_dtcfile(path))
    return len(days) + h.len() + len(h), obs
