"""Reading files: operating-system failures, bad content per format, and arbitrary bytes."""

import contextlib
import errno
import os
import signal
import subprocess
import sys
from datetime import date

import pytest
from conftest import CONSTRUCTORS, HEADER, VALID, csv_row, csv_text, dtc_line, raises, sol_line
from heliodex import Heliodex
from hypothesis import given, settings
from hypothesis import strategies as st


def os_message(code):
    return f"{os.strerror(code)} (os error {code})"


@pytest.fixture(params=CONSTRUCTORS)
def construct(request):
    return getattr(Heliodex, request.param)


@pytest.mark.parametrize(
    "name,message",
    [
        ("absent.txt", os_message(errno.ENOENT)),
        ("", os_message(errno.EISDIR)),
        ("day.txt\0ignored", "file name contained an unexpected NUL byte"),
    ],
)
def test_file_cannot_be_read(construct, tmp_path, name, message):
    (tmp_path / "day.txt").write_text(VALID["from_celestrak_csv"])
    raises(ValueError, message, construct, os.path.join(tmp_path, name))
    assert os_message(errno.ENOENT).endswith(" (os error 2)")


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads any file")
def test_permission_denied(construct, write):
    path = write(VALID["from_celestrak_csv"])
    os.chmod(path, 0)
    raises(ValueError, os_message(errno.EACCES), construct, path)


def test_name_without_utf8_encoding(construct, tmp_path):
    assert not str(raises(UnicodeEncodeError, None, construct, f"{tmp_path}/\udcff")).startswith(
        "arg"
    )


@pytest.mark.parametrize("name", CONSTRUCTORS)
def test_relative_names_use_the_working_directory_and_keep_tilde(tmp_path, monkeypatch, name):
    (tmp_path / "~").mkdir()
    (tmp_path / "~" / "day.txt").write_text(VALID[name])
    monkeypatch.chdir(tmp_path)
    assert len(getattr(Heliodex, name)("~/day.txt")) == 1


CSV, SOL, DTC = CONSTRUCTORS
HEADER_ERROR, ROW5_F81C = "invalid or missing CSV header", "parse error at row 5: F81c"
BAD_CONTENT = [
    (CSV, b"", HEADER_ERROR),
    (CSV, b"\xff\xfe", HEADER_ERROR),
    (CSV, "\ufeff" + HEADER + "\n", HEADER_ERROR),
    (CSV, "\n" + HEADER + "\n", HEADER_ERROR),
    (CSV, HEADER.replace(",KP8", ",kp8"), HEADER_ERROR),
    (CSV, csv_text("", "2000-13-01"), "parse error at row 3: invalid date"),
    (CSV, csv_text(",,,"), "parse error at row 2: invalid date"),
    (SOL, b"# c\n\xff", "parse error at row 0: invalid utf-8"),
    (SOL, "#\n#\n\n" + sol_line(2000, 1) + "\n" + sol_line(2000, 2, f81="x"), ROW5_F81C),
    (SOL, sol_line(2000, 1)[:63], "parse error at row 1: line too short"),
    (SOL, sol_line(2023, 366), "parse error at row 1: invalid day-of-year"),
    (DTC, b"\xc3", "parse error at row 0: invalid utf-8"),
    (DTC, "\n" * 11 + dtc_line(2000, 1, [1] * 23 + ["1.0"]), "parse error at row 12: Dtc"),
    (DTC, dtc_line(2000, 1)[:108], "parse error at row 1: line too short"),
    (DTC, dtc_line(2000, -1), "parse error at row 1: doy"),
]  # fmt: skip


@pytest.mark.parametrize("name,content,message", BAD_CONTENT)
def test_bad_content(write, name, content, message):
    raises(ValueError, message, getattr(Heliodex, name), write(content))


@pytest.mark.parametrize(
    "days",
    [["01", "02", "03"], ["03", "02", "01"], ["01", "02", "02", "03"], ["02", "02", "01", "03"]],
)
def test_csv_days_in_any_order_load_sorted_one_record_a_day(load, days):
    # The first line of a day gives each value it holds; later lines fill only the gaps.
    rows = [csv_row(f"2000-01-{d}", obs="", adj=f"{i}") for i, d in enumerate(days)]
    rows[-1] = csv_row(f"2000-01-{days[-1]}", obs="99.5", adj="")
    h = load(CSV, csv_text(*rows))
    got = h.get_range(date(2000, 1, 1), date(2000, 1, 3))
    assert [r["date"] for r in got] == [date(2000, 1, d) for d in (1, 2, 3)]
    first = {}
    for i, d in enumerate(days[:-1]):
        first.setdefault(d, float(i))
    last = int(days[-1])
    assert [r["f10_7_adj"] for r in got] == [first.get(f"0{d}") for d in (1, 2, 3)]
    assert [r["f10_7_obs"] for r in got] == [99.5 if d == last else None for d in (1, 2, 3)]


@pytest.mark.parametrize("days", [[1, 2, 3], [3, 2, 1], [1, 2, 2, 3], [2, 2, 1, 3]])
def test_set_days_in_any_order_load_sorted_one_record_a_day(load, days):
    # The first line of a day gives its value; a repeated day keeps it.
    sol = load(SOL, "".join(sol_line(2000, d, f10=f"{i}.5") + "\n" for i, d in enumerate(days)))
    dtc = load(DTC, "".join(dtc_line(2000, d, [i] * 24) + "\n" for i, d in enumerate(days)))
    first = {}
    for i, d in enumerate(days):
        first.setdefault(d, i)
    for h, key, value in ((sol, "f10_7_jb", lambda i: i + 0.5), (dtc, "dtc", float)):
        got = h.get_range(date(2000, 1, 1), date(2000, 1, 3))
        assert [(r["date"], r[key]) for r in got] == [
            (date(2000, 1, d), value(first[d])) for d in (1, 2, 3)
        ]


YEARS, DAYS = st.integers(-5, 3000), st.integers(-1, 370)
GOOD_LINES = {
    "from_celestrak_csv": st.dates().map(lambda d: csv_text(csv_row(d.isoformat())).split("\n")[1]),
    "from_set_solfsmy": st.builds(sol_line, YEARS, DAYS),
    "from_set_dtcfile": st.builds(dtc_line, YEARS, DAYS),
}
NOISE = st.one_of(st.binary(max_size=120), st.text("0123456789 .-+#,eEnaif\t\r", max_size=120))


def spliced(line, at, piece):
    """The line with piece written over it from byte at (nothing when at is past its end)."""
    line = line.encode() if isinstance(line, str) else line
    return line[:at] + piece + line[at + len(piece) :] if at < len(line) else line


def file_for(name):
    line = st.builds(spliced, GOOD_LINES[name] | NOISE, st.integers(0, 900), st.binary(max_size=2))
    header = st.just(name == "from_celestrak_csv") | st.booleans()
    return st.tuples(st.just(name), header, st.lists(line, max_size=6))


EVERYTHING = (
    type("Lowest", (), {"year": -(2**31), "month": 0, "day": 0})(),
    type("Highest", (), {"year": 2**31 - 1, "month": 255, "day": 255})(),
)


@pytest.fixture(scope="module")
def scratch(tmp_path_factory):
    return str(tmp_path_factory.mktemp("arbitrary") / "input.bin")


@settings(max_examples=300, deadline=None)
@given(st.sampled_from(CONSTRUCTORS).flatmap(file_for))
def test_arbitrary_bytes_give_an_instance_or_value_error(scratch, case):
    name, header, lines = case
    with open(scratch, "wb") as out:
        out.write(b"\n".join([HEADER.encode()] * header + lines))
    try:
        h = getattr(Heliodex, name)(scratch)
    except ValueError:
        return
    assert type(h) is Heliodex and h.len() == len(h)
    try:  # a stored 30 February has no datetime.date; nothing else may fail
        assert len(h.get_range(*EVERYTHING)) == len(h)
    except ValueError as e:
        assert "out of range" in str(e)


@pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="needs named pipes")
@pytest.mark.parametrize("name", CONSTRUCTORS)
def test_a_pipe_of_unknown_size_in_small_writes_reads_as_the_file(write, tmp_path, name):
    if name == CSV:  # several of the reader's blocks, with a bad row past the first
        days = [date.fromordinal(date(1990, 1, 1).toordinal() + k) for k in range(4000)]
        good = csv_text(*(csv_row(d.isoformat(), obs=f"{70 + k % 200}.{k % 10}")
                          for k, d in enumerate(days)))  # fmt: skip
        bad = good.replace("1999-01-01,", "1999-01-32,")
    else:
        good = VALID[name]
        bad = None
    fifo = str(tmp_path / "pipe")
    os.mkfifo(fifo)
    # The writer is another process: the load holds the interpreter lock while it reads.
    feed = "import sys; d = open(sys.argv[1], 'rb').read(); o = open(sys.argv[2], 'wb', 0)\n"
    feed += "for at in range(0, len(d), 999): o.write(d[at : at + 999])"

    def through_pipe(text):
        writer = subprocess.Popen([sys.executable, "-c", feed, write(text), fifo])
        try:
            return getattr(Heliodex, name)(fifo)
        finally:
            writer.wait(timeout=60)

    from_file = getattr(Heliodex, name)(write(good))
    piped = through_pipe(good)
    assert len(piped) == len(from_file)
    assert piped.get_range(*EVERYTHING) == from_file.get_range(*EVERYTHING)
    if bad is not None:
        row = 2 + days.index(date(1999, 1, 1))
        raises(ValueError, f"parse error at row {row}: invalid date", through_pipe, bad)


# A named pipe whose writer (another process) sends the first half of data and stalls, its
# end held open (or, with "open", never opened) until the block ends; after 60 s it gives
# up and opens and closes the pipe, so that a load still waiting ends with what it was given.
STALLING_WRITER = """
import select, sys
data, pipe, stall = open(sys.argv[1], "rb").read(), sys.argv[2], sys.argv[3]
out = None if stall == "open" else open(pipe, "wb", 0)
if out:
    out.write(data[: len(data) // 2])
if not select.select([sys.stdin], [], [], 60)[0]:
    open(pipe, "wb").close()
"""


@contextlib.contextmanager
def stalled_pipe(tmp_path, write, data, stall):
    fifo = str(tmp_path / "pipe")
    os.mkfifo(fifo)
    args = [sys.executable, "-c", STALLING_WRITER, write(data), fifo, stall]
    writer = subprocess.Popen(args, stdin=subprocess.PIPE)
    try:
        yield fifo, writer
    finally:
        writer.stdin.close()
        writer.wait(timeout=90)


NOT_UTF8 = {CSV: HEADER_ERROR, SOL: "parse error at row 0: invalid utf-8"}
NOT_UTF8[DTC] = NOT_UTF8[SOL]


@pytest.mark.skipif(not os.path.exists("/dev/urandom"), reason="needs /dev/urandom")
@pytest.mark.parametrize("name", CONSTRUCTORS)
def test_a_stream_without_end_is_refused_by_its_first_bytes(name):
    raises(ValueError, NOT_UTF8[name], getattr(Heliodex, name), "/dev/urandom")


# Loads /dev/zero, whose one line never ends and whose reads never wait, until an alarm's
# handler raises; prints what ended the load.
ENDLESS_LOAD = """
import signal, sys
from heliodex import Heliodex
class Interrupted(Exception):
    pass
def on_alarm(signum, frame):
    raise Interrupted
signal.signal(signal.SIGALRM, on_alarm)
signal.setitimer(signal.ITIMER_REAL, 0.3)
try:
    getattr(Heliodex, sys.argv[1])("/dev/zero")
except Interrupted:
    print("interrupted")
"""


@pytest.mark.skipif(not os.path.exists("/dev/zero"), reason="needs /dev/zero")
@pytest.mark.parametrize("name", CONSTRUCTORS)
def test_a_signal_handler_ends_a_load_of_a_stream_that_never_waits(name):
    # In a child, so that a load that ignored the signal is killed after a while instead of
    # taking the machine's memory.
    run = subprocess.run(
        [sys.executable, "-c", ENDLESS_LOAD, name], capture_output=True, text=True, timeout=15
    )
    assert (run.returncode, run.stdout) == (0, "interrupted\n"), run.stderr


@pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="needs named pipes")
@pytest.mark.parametrize("name", CONSTRUCTORS)
def test_a_refused_file_is_not_read_to_its_end(write, tmp_path, name):
    with stalled_pipe(tmp_path, write, b"\xff\n" * 1000, "read") as (fifo, writer):
        raises(ValueError, NOT_UTF8[name], getattr(Heliodex, name), fifo)
        assert writer.poll() is None  # the load did not wait for the rest


@pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="needs named pipes")
@pytest.mark.parametrize("stall", ["open", "read"])
def test_a_signal_handler_ends_a_load_that_waits_on_a_pipe(construct, write, tmp_path, stall):
    class Interrupted(Exception):
        pass

    def on_alarm(signum, frame):
        raise Interrupted

    with stalled_pipe(tmp_path, write, VALID[CSV], stall) as (fifo, writer):
        previous = signal.signal(signal.SIGALRM, on_alarm)
        try:
            signal.setitimer(signal.ITIMER_REAL, 0.5)
            with pytest.raises(Interrupted):
                construct(fifo)
            assert writer.poll() is None  # the handler ended the load, not the writer giving up
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
            signal.signal(signal.SIGALRM, previous)
