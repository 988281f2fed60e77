"""Paths, small-file builders and fixtures shared by the Python tests."""

import pathlib

import pytest
from heliodex import Heliodex

REPO = pathlib.Path(__file__).resolve().parents[2]
SAMPLE_CSV = str(REPO / "tests" / "data" / "SW_sample.csv")
SAMPLE_SOL = str(REPO / "tests" / "data" / "SOLFSMY_sample.TXT")
SAMPLE_DTC = str(REPO / "tests" / "data" / "DTCFILE_sample.TXT")
SHARED = REPO.parent / "shared" / "data"

CONSTRUCTORS = ("from_celestrak_csv", "from_set_solfsmy", "from_set_dtcfile")
INDEX_KEYS = tuple(
    "f10_7_obs f10_7_adj f10_7_jb f10_7_jb_81c ap_daily ap_3hr kp_3hr s10_7 m10_7 y10_7 dtc".split()
)
HEADER = (
    "DATE,BSRN,ND,KP1,KP2,KP3,KP4,KP5,KP6,KP7,KP8,KP_SUM,AP1,AP2,AP3,AP4,AP5,AP6,AP7,AP8,"
    "AP_AVG,CP,C9,ISN,F10.7_OBS,F10.7_ADJ"
)


def csv_row(date, obs="150.5", adj="151.5", ap="20", kp=range(1, 9), ap3=range(11, 19)):
    """One CelesTrak line under HEADER."""
    kp = ",".join(str(v) for v in kp)
    ap3 = ",".join(str(v) for v in ap3)
    return f"{date},1,1,{kp},0,{ap3},{ap},0,0,0,{obs},{adj}"


def csv_text(*rows):
    return "\n".join([HEADER, *rows]) + "\n"


def sol_line(year, doy, f10="72.4", f81="78.0", s10="74.0", m10="65.4", y10="61.9"):
    """One SOLFSMY data line; every value field is six bytes wide."""
    return (
        f"{year:>6}{doy:>4}   2450450.0{f10:>6}{f81:>6}{s10:>6}  79.2{m10:>6}  73.8{y10:>6}"
        "  70.7  1B11"
    )


def dtc_line(year, doy, hours=range(1, 25)):
    """One DTCFILE data line of 109 bytes."""
    return f"DTC {year:>4}{doy:>5}" + "".join(f"{v:>4}" for v in hours)


# A one-day file that each constructor accepts.
VALID = {
    "from_celestrak_csv": csv_text(csv_row("2000-01-01")),
    "from_set_solfsmy": sol_line(2000, 1) + "\n",
    "from_set_dtcfile": dtc_line(2000, 1) + "\n",
}


def raises(error, message, f, *args, **kwargs):
    """Calls f, checks that it raised exactly `error` with `message` (if given), returns it."""
    with pytest.raises(error) as info:
        f(*args, **kwargs)
    raised = info.value
    assert type(raised) is error
    assert message is None or str(raised) == message
    del info
    raised.__traceback__ = None  # leaves no cycle through this frame behind
    return raised


@pytest.fixture
def write(tmp_path):
    """Writes text or bytes to a new file under tmp_path and returns its path as str."""
    names = iter(range(1_000_000))

    def _write(content, name=None):
        path = tmp_path / (name or f"f{next(names)}.txt")
        path.write_bytes(content if isinstance(content, bytes) else content.encode())
        return str(path)

    return _write


@pytest.fixture
def load(write):
    """Builds an instance with the named constructor from the given file content."""
    return lambda constructor, content: getattr(Heliodex, constructor)(write(content))


@pytest.fixture
def real():
    """The path of one of the published files beside the project, or a skip."""

    def _path(name):
        path = SHARED / name
        if not path.is_file():
            pytest.skip(f"published data file {path} is not present")
        return str(path)

    return _path
