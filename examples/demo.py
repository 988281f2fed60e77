"""Load the bundled CelesTrak, SOLFSMY and DTCFILE samples, merge them and print a summary."""

import datetime
import pathlib
import sys

from heliodex import Heliodex

DATA = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data"


def main() -> None:
    csv = Heliodex.from_celestrak_csv(str(DATA / "SW_sample.csv"))
    sol = Heliodex.from_set_solfsmy(str(DATA / "SOLFSMY_sample.TXT"))
    dtc = Heliodex.from_set_dtcfile(str(DATA / "DTCFILE_sample.TXT"))
    print(f"CelesTrak: {len(csv)} days {csv.date_range()}")
    print(f"SOLFSMY:   {len(sol)} days {sol.date_range()}")
    print(f"DTCFILE:   {len(dtc)} days {dtc.date_range()}")

    merged = csv
    merged.merge(sol)  # the receiver's values win where both hold an index
    merged.merge(dtc)
    print(f"merged:    {len(merged)} days {merged.date_range()}")

    day = merged.get(datetime.date(1997, 1, 15))
    print("\n1997-01-15:")
    for key, value in (day or {}).items():
        print(f"  {key:13} {value}")

    print("\n1997-01-01 .. 1997-01-05:")
    for rec in merged.get_range(datetime.date(1997, 1, 1), datetime.date(1997, 1, 5)):
        print(
            f"  {rec['date']}  F10.7 obs {rec['f10_7_obs']}  Ap {rec['ap_daily']}  "
            f"S10.7 {rec['s10_7']}  Dtc {rec['dtc']}"
        )

    try:
        import numpy  # noqa: F401
    except ImportError:
        print("\nNumPy is not installed: skipping the column export")
        return
    cols = merged.to_numpy()
    print("\nto_numpy():")
    for key in cols:
        array = cols[key]  # type: ignore[literal-required]
        print(f"  {key:13} {array.dtype} {array.shape}")

    try:
        import matplotlib  # type: ignore[import-not-found, unused-ignore]

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt  # type: ignore[import-not-found, unused-ignore]
    except ImportError:
        return
    out = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "heliodex_demo.png")
    fig, ax = plt.subplots(figsize=(9, 4))
    for key, values in (
        ("f10_7_obs", cols["f10_7_obs"]),
        ("f10_7_jb", cols["f10_7_jb"]),
        ("s10_7", cols["s10_7"]),
        ("ap_daily", cols["ap_daily"]),
        ("dtc", cols["dtc"]),
    ):
        ax.plot(cols["date"], values, label=key)
    ax.set_xlabel("date")
    ax.set_ylabel("index value (F10.7, S10.7 in sfu; Ap in 2 nT; Dtc in K)")
    ax.legend()
    fig.autofmt_xdate()
    fig.tight_layout()
    fig.savefig(out, dpi=100)
    print(f"\nplot saved to {out}")


if __name__ == "__main__":
    main()
