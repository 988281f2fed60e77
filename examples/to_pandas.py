"""The merged export as a pandas DataFrame indexed by date (needs pandas)."""

import pathlib

from heliodex import Heliodex

ROOT = pathlib.Path(__file__).resolve().parent.parent
REAL, SAMPLES = ROOT.parent / "shared" / "data", ROOT / "tests" / "data"


def load() -> Heliodex:
    names = ("SW-All.csv", "SOLFSMY.TXT", "DTCFILE.TXT")
    if all((REAL / n).exists() for n in names):
        paths = [REAL / n for n in names]
    else:
        paths = [SAMPLES / n for n in ("SW_sample.csv", "SOLFSMY_sample.TXT", "DTCFILE_sample.TXT")]
    store = Heliodex.from_celestrak_csv(str(paths[0]))
    store.merge(Heliodex.from_set_solfsmy(str(paths[1])))
    store.merge(Heliodex.from_set_dtcfile(str(paths[2])))
    return store


def main() -> None:
    try:
        import pandas as pd  # type: ignore[import-untyped, unused-ignore]
    except ImportError:
        print("pandas is not installed")
        return
    cols = load().to_numpy()
    frame = pd.DataFrame(
        {
            key: cols[key]
            for key in ("f10_7_obs", "f10_7_adj", "f10_7_jb", "ap_daily", "s10_7", "dtc")
        },
        index=pd.DatetimeIndex(cols["date"], name="date"),
    )
    frame["kp_max"] = cols["kp_3hr"].max(axis=1) if cols["kp_3hr"].size else []
    print(frame.loc["2003-10-27":"2003-11-02"])


if __name__ == "__main__":
    main()
