"""Plots F10.7, Ap and Dtc over a chosen period to a PNG (needs matplotlib)."""

import argparse
import datetime

from to_pandas import load


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument(
        "--start", type=datetime.date.fromisoformat, default=datetime.date(2003, 9, 1)
    )
    parser.add_argument(
        "--end", type=datetime.date.fromisoformat, default=datetime.date(2004, 1, 31)
    )
    parser.add_argument("--out", default="indices.png")
    args = parser.parse_args()

    import matplotlib  # type: ignore[import-not-found, unused-ignore]

    matplotlib.use("Agg")
    import matplotlib.dates as mdates  # type: ignore[import-not-found, unused-ignore]
    import matplotlib.pyplot as plt  # type: ignore[import-not-found, unused-ignore]

    days = load().get_range(args.start, args.end)
    dates = [d["date"] for d in days]

    def column(key: str) -> list[float]:
        return [float("nan") if d[key] is None else d[key] for d in days]  # type: ignore[literal-required]

    series = [
        ("F10.7 observed [sfu]", column("f10_7_obs"), "tab:orange"),
        ("Ap daily [2 nT]", column("ap_daily"), "tab:blue"),
        ("Dtc daily mean [K]", column("dtc"), "tab:red"),
    ]
    fig, axes = plt.subplots(3, 1, figsize=(10, 7), sharex=True)
    for ax, (label, values, color) in zip(axes, series, strict=True):
        ax.plot(dates, values, color=color, linewidth=1.2)
        ax.set_ylabel(label)
        ax.grid(alpha=0.3)
    axes[0].set_title(f"Solar and geomagnetic indices, {args.start} to {args.end}")
    axes[-1].set_xlabel("date (UTC)")
    axes[-1].xaxis.set_major_formatter(mdates.DateFormatter("%Y-%m-%d"))
    fig.autofmt_xdate()
    fig.tight_layout()
    fig.savefig(args.out, dpi=100)
    print(f"saved {args.out}")


if __name__ == "__main__":
    main()
