"""Threads sharing instances, and large or odd inputs."""

import datetime
import threading
import time

import pytest
from conftest import HEADER, csv_row
from heliodex import Heliodex

D = datetime.date


def test_threads_loading_looking_up_and_merging(write):
    days = [D(2000, 1, 1) + datetime.timedelta(days=i) for i in range(300)]
    path = write(
        HEADER
        + "\n"
        + "\n".join(csv_row(d.isoformat(), obs=str(100 + i)) for i, d in enumerate(days))
    )
    shared = Heliodex.from_celestrak_csv(path)
    donors = [Heliodex.from_celestrak_csv(path) for _ in range(40)]
    errors, refused = [], [0]
    stop = threading.Event()

    def reader():
        while not stop.is_set():
            try:
                rec = shared.get(days[150])
                assert rec is None or rec["f10_7_obs"] == 250.0
                rng = shared.get_range(days[0], days[-1])
                assert [r["f10_7_obs"] for r in rng] == [100.0 + i for i in range(300)]
                shared.date_range()
                len(shared)
            except RuntimeError as e:
                assert str(e) == "Already mutably borrowed"
                refused[0] += 1
            except Exception as e:  # pragma: no cover - reported below
                errors.append(e)

    def merger():
        for donor in donors:
            while True:
                try:
                    shared.merge(donor)
                    break
                except RuntimeError as e:
                    assert str(e) == "Already borrowed"
                    time.sleep(0)

    threads = [threading.Thread(target=reader) for _ in range(3)] + [
        threading.Thread(target=merger)
    ]
    for t in threads:
        t.start()
    threads[-1].join()
    stop.set()
    for t in threads:
        t.join()
    assert errors == []
    assert len(shared) == 300 and all(len(d) == 0 for d in donors)
    assert [r["f10_7_obs"] for r in shared.get_range(days[0], days[-1])] == [
        100.0 + i for i in range(300)
    ]


@pytest.mark.parametrize(
    "content,result",
    [
        (HEADER + "\n" + "\n" * 100_000, 0),
        (HEADER + "\n" + ",,,,\n" * 1000, "parse error at row 2: invalid date"),
        ("\n" * 1000, "invalid or missing CSV header"),
        ("," * 1_000_000, "invalid or missing CSV header"),
        (HEADER + "\n" + "x" * 50_000_000, "parse error at row 2: invalid date"),
    ],
)
def test_odd_inputs(write, content, result):
    path = write(content)
    if isinstance(result, int):
        assert len(Heliodex.from_celestrak_csv(path)) == result
    else:
        with pytest.raises(ValueError) as info:
            Heliodex.from_celestrak_csv(path)
        assert str(info.value) == result


def test_many_rows_of_one_day_collapse(write):
    rows = [csv_row("2000-01-01", obs="", ap="")] * 50_000 + [
        csv_row("2000-01-01", obs="7", ap="8")
    ] * 50_000
    h = Heliodex.from_celestrak_csv(write(HEADER + "\n" + "\n".join(rows)))
    assert len(h) == 1
    rec = h.get(D(2000, 1, 1))
    assert rec["f10_7_obs"] == 7.0 and rec["ap_daily"] == 8.0 and rec["f10_7_adj"] == 151.5


def test_a_million_rows(write):
    start = D(1, 1, 1)
    lines = [HEADER]
    for i in range(1_000_000):
        d = start + datetime.timedelta(days=i)
        lines.append(
            f"{d.isoformat()},1,1,1,2,3,4,5,6,7,8,0,1,2,3,4,5,6,7,8,{i % 400},0,0,0,{i % 997}.5,1.0"
        )
    h = Heliodex.from_celestrak_csv(write("\n".join(lines)))
    assert len(h) == 1_000_000
    assert h.get(start + datetime.timedelta(days=999_999))["f10_7_obs"] == 999_999 % 997 + 0.5
    # The export of a million days: buffers of hundreds of megabytes.
    np = pytest.importorskip("numpy")
    out, i = h.to_numpy(), np.arange(1_000_000)
    assert np.array_equal(out["f10_7_obs"], i % 997 + 0.5) and np.isnan(out["dtc"]).all()
    assert np.array_equal(out["ap_daily"], i % 400) and (out["ap_3hr"] == np.arange(1, 9)).all()
    assert out["date"][-1] == start + datetime.timedelta(days=999_999)
