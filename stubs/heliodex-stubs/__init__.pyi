"""Daily solar and geomagnetic activity indices, loaded into a date-ordered store."""

import datetime
from typing import Any, Protocol, TypedDict, final, type_check_only

import numpy
import numpy.typing

__all__ = ["Heliodex"]

@type_check_only
class _DateLike(Protocol):
    """Any object with integer ``year``, ``month`` and ``day`` (``datetime.date`` and friends)."""

    @property
    def year(self) -> int: ...
    @property
    def month(self) -> int: ...
    @property
    def day(self) -> int: ...

@type_check_only
class _Record(TypedDict):
    """One day; an index the sources did not give is None. Keys come in this order."""

    date: datetime.date
    f10_7_obs: float | None
    f10_7_adj: float | None
    f10_7_jb: float | None
    f10_7_jb_81c: float | None
    ap_daily: float | None
    ap_3hr: list[float] | None
    kp_3hr: list[float] | None
    s10_7: float | None
    m10_7: float | None
    y10_7: float | None
    dtc: float | None

_F64 = numpy.typing.NDArray[numpy.float64]

@type_check_only
class _Arrays(TypedDict):
    """Columns, one row per stored day; absent values are NaN (0x7FF8000000000000)."""

    date: numpy.typing.NDArray[numpy.object_]
    f10_7_obs: _F64
    f10_7_adj: _F64
    f10_7_jb: _F64
    f10_7_jb_81c: _F64
    ap_daily: _F64
    s10_7: _F64
    m10_7: _F64
    y10_7: _F64
    dtc: _F64
    ap_3hr: _F64
    kp_3hr: _F64

@final
class Heliodex:
    """A store of daily indices. Make one with a ``from_*`` method; ``Heliodex()`` raises TypeError."""

    def __new__(cls, *args: Any, **kwargs: Any) -> Heliodex: ...
    @staticmethod
    def from_celestrak_csv(path: str) -> Heliodex:
        """Loads a CelesTrak space-weather CSV.

        Raises TypeError "argument 'path': '<type>' object cannot be converted to 'PyString'"
        for a non-str path; ValueError "<strerror> (os error N)", "file name contained an
        unexpected NUL byte", "invalid or missing CSV header" or "parse error at row N:
        invalid date".
        """
    @staticmethod
    def from_set_solfsmy(path: str) -> Heliodex:
        """Loads a SET SOLFSMY file (JB2008 F10.7, F81c, S10.7, M10.7, Y10.7).

        Raises ValueError "parse error at row N: <field>" with invalid utf-8, line too short,
        year, doy, invalid day-of-year, F10.7, F81c, S10.7, M10.7 or Y10.7; file errors as
        from_celestrak_csv.
        """
    @staticmethod
    def from_set_dtcfile(path: str) -> Heliodex:
        """Loads a SET DTCFILE; each day holds the mean of its 24 hourly Dtc values.

        Raises ValueError "parse error at row N: <field>" with invalid utf-8, line too short,
        year, doy, invalid day-of-year or Dtc; file errors as from_celestrak_csv.
        """
    def get(self, date: _DateLike) -> _Record | None:
        """The record of that day, or None.

        Raises AttributeError/TypeError from reading the date, OverflowError "out of range
        integral type conversion attempted", datetime.date's ValueError for a stored day that
        is no real date, RuntimeError "Already mutably borrowed" during a merge.
        """
    def get_range(self, start: _DateLike, end: _DateLike) -> list[_Record]:
        """Records of the days from start to end, both included, ascending; errors as get."""
    def merge(self, other: Heliodex) -> None:
        """Merges other in (this instance's present values win) and leaves other empty.

        Raises TypeError "argument 'other': '<type>' object cannot be converted to 'Heliodex'",
        RuntimeError "Already borrowed" (for instance for a.merge(a)).
        """
    def len(self) -> int:
        """The number of stored days."""
    def __len__(self) -> int: ...
    def date_range(self) -> tuple[datetime.date, datetime.date] | None:
        """The first and last stored day, or None when empty."""
    def to_numpy(self) -> _Arrays:
        """Every index as a NumPy array; raises numpy's ImportError when NumPy is missing."""
