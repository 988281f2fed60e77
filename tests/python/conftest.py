import pathlib

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
SAMPLES = REPO / "tests" / "data"
SHARED = REPO.parent / "shared" / "data"

HEADER = (
    "DATE,BSRN,ND,KP1,KP2,KP3,KP4,KP5,KP6,KP7,KP8,KP_SUM,AP1,AP2,AP3,AP4,AP5,AP6,AP7,AP8,"
    "AP_AVG,CP,C9,ISN,F10.7_OBS,F10.7_ADJ"
)


def csv_row(date, obs="150.5", adj="151.5", ap="20", kp=range(1, 9), ap3=range(11, 19)):
    kp = ",".join(str(v) for v in kp)
    ap3 = ",".join(str(v) for v in ap3)
    return f"{date},1,1,{kp},0,{ap3},{ap},0,0,0,{obs},{adj}"


@pytest.fixture
def write(tmp_path):
    """Writes text or bytes to a fresh file and returns its path as str."""
    counter = iter(range(10**6))

    def _write(content, name=None):
        path = tmp_path / (name or f"f{next(counter)}.txt")
        path.write_bytes(content if isinstance(content, bytes) else content.encode())
        return str(path)

    return _write


@pytest.fixture
def shared():
    """The real published files; skipped when they are not beside the project."""

    def _path(name):
        path = SHARED / name
        if not path.exists():
            pytest.skip(f"real data file {path} is not present")
        return str(path)

    return _path


@pytest.fixture
def samples():
    return {
        "csv": str(SAMPLES / "SW_sample.csv"),
        "sol": str(SAMPLES / "SOLFSMY_sample.TXT"),
        "dtc": str(SAMPLES / "DTCFILE_sample.TXT"),
    }
