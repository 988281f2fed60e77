"""The module and class surface, argument rules, file errors, borrows and merge."""

import ctypes
import datetime
import errno
import gc
import os
import pathlib
import subprocess
import sys

import heliodex
import pytest
from conftest import HEADER, csv_row
from heliodex import Heliodex
from hypothesis import given, settings
from hypothesis import strategies as st

CONSTRUCTORS = ["from_celestrak_csv", "from_set_solfsmy", "from_set_dtcfile"]
SIGNATURES = {
    "from_celestrak_csv": "(path)",
    "from_set_solfsmy": "(path)",
    "from_set_dtcfile": "(path)",
    "get": "($self, date)",
    "get_range": "($self, start, end)",
    "merge": "($self, other)",
    "len": "($self)",
    "date_range": "($self)",
    "to_numpy": "($self)",
}


@pytest.fixture
def h(write):
    return Heliodex.from_celestrak_csv(write(HEADER + "\n" + csv_row("2000-01-01")))


class TestSurface:
    def test_module(self):
        assert heliodex.__all__ == ["Heliodex"]
        assert heliodex.__doc__ == ""
        public = {n for n in dir(heliodex) if not n.startswith("__")}
        assert public == {"Heliodex"}

    def test_class(self):
        assert Heliodex.__module__ == "builtins"
        assert Heliodex.__name__ == Heliodex.__qualname__ == "Heliodex"
        assert Heliodex.__doc__ is None
        assert Heliodex.__bases__ == (object,)
        own = {n for n in vars(Heliodex) if not n.startswith("__")}
        assert own == set(SIGNATURES)
        assert [n for n in vars(Heliodex) if n in SIGNATURES] == list(SIGNATURES)

    @pytest.mark.parametrize("name", SIGNATURES)
    def test_text_signatures(self, name):
        method = getattr(Heliodex, name)
        assert method.__text_signature__ == SIGNATURES[name]
        assert method.__doc__ is None

    def test_no_constructor_no_subclass(self):
        with pytest.raises(TypeError, match="^No constructor defined for Heliodex$"):
            Heliodex()
        with pytest.raises(TypeError):
            type("Sub", (Heliodex,), {})

    def test_instances_are_lean(self, h):
        assert not hasattr(h, "__dict__")
        with pytest.raises(TypeError):
            __import__("weakref").ref(h)
        assert not gc.is_tracked(h)
        with pytest.raises(AttributeError):
            h.x = 1

    def test_second_init_returns_the_same_module(self):
        lib = ctypes.PyDLL(heliodex.__file__)
        lib.PyInit_heliodex.restype = ctypes.py_object
        assert lib.PyInit_heliodex() is heliodex

    def test_sub_interpreter_import_fails(self):
        interpreters = pytest.importorskip("_interpreters")
        iid = interpreters.create()
        try:
            result = interpreters.run_string(iid, "import heliodex")
        except Exception as e:  # older builds raise instead of returning the failure
            assert "ImportError" in repr(e) or "heliodex" in str(e)
        else:
            assert result is not None and "ImportError" in str(result.type)
        finally:
            interpreters.destroy(iid)


class TestArguments:
    @pytest.mark.parametrize("name", CONSTRUCTORS)
    def test_constructor_argument_errors(self, name):
        f = getattr(Heliodex, name)
        full = f"Heliodex.{name}()"
        cases = [
            ((), {}, f"{full} missing 1 required positional argument: 'path'"),
            (("a", "b"), {}, f"{full} takes 1 positional arguments but 2 were given"),
            ((), {"file": "a"}, f"{full} got an unexpected keyword argument 'file'"),
            (("a",), {"path": "a"}, f"{full} got multiple values for argument 'path'"),
            (
                (pathlib.Path("x"),),
                {},
                "argument 'path': 'PosixPath' object cannot be converted to 'PyString'",
            ),
            ((b"x",), {}, "argument 'path': 'bytes' object cannot be converted to 'PyString'"),
            ((None,), {}, "argument 'path': 'NoneType' object cannot be converted to 'PyString'"),
        ]
        for args, kwargs, message in cases:
            with pytest.raises(TypeError) as info:
                f(*args, **kwargs)
            assert str(info.value) == message
            assert type(info.value) is TypeError

    def test_method_argument_errors(self, h):
        d = datetime.date(2000, 1, 1)
        cases = [
            (
                lambda: h.get_range(),
                "Heliodex.get_range() missing 2 required positional arguments: 'start' and 'end'",
            ),
            (
                lambda: h.get_range(d),
                "Heliodex.get_range() missing 1 required positional argument: 'end'",
            ),
            (
                lambda: h.get_range(d, d, d),
                "Heliodex.get_range() takes 2 positional arguments but 3 were given",
            ),
            (lambda: h.get(), "Heliodex.get() missing 1 required positional argument: 'date'"),
            (lambda: h.get(d, date=d), "Heliodex.get() got multiple values for argument 'date'"),
            (lambda: h.merge(ot=h), "Heliodex.merge() got an unexpected keyword argument 'ot'"),
            (
                lambda: h.merge(5),
                "argument 'other': 'int' object cannot be converted to 'Heliodex'",
            ),
            (lambda: h.len(1), None),
            (lambda: h.date_range(x=1), None),
        ]
        for call, message in cases:
            with pytest.raises(TypeError) as info:
                call()
            if message:
                assert str(info.value) == message

    def test_keyword_and_subclass_forms(self, write):
        class S(str):
            pass

        path = write(HEADER + "\n" + csv_row("2000-01-01"))
        for arg in (path, S(path)):
            assert len(Heliodex.from_celestrak_csv(path=arg)) == 1
        a = Heliodex.from_celestrak_csv(path)
        assert len(a.get_range(end=datetime.date(2001, 1, 1), start=datetime.date(1999, 1, 1))) == 1


class TestFiles:
    @pytest.mark.parametrize("name", CONSTRUCTORS)
    def test_os_errors(self, name, tmp_path):
        f = getattr(Heliodex, name)
        missing = str(tmp_path / "missing")
        with pytest.raises(ValueError, match=f"^{os.strerror(errno.ENOENT)} \\(os error 2\\)$"):
            f(missing)
        with pytest.raises(ValueError) as info:
            f(str(tmp_path))
        assert str(info.value) == f"{os.strerror(errno.EISDIR)} (os error {errno.EISDIR})"
        with pytest.raises(ValueError, match="^file name contained an unexpected NUL byte$"):
            f("a\0b")
        with pytest.raises(UnicodeEncodeError):
            f("\udc80")

    @pytest.mark.skipif(os.geteuid() == 0, reason="root reads any file")
    def test_permission_denied(self, write):
        path = write("x")
        os.chmod(path, 0)
        with pytest.raises(ValueError) as info:
            Heliodex.from_celestrak_csv(path)
        assert str(info.value) == f"{os.strerror(errno.EACCES)} (os error {errno.EACCES})"

    @pytest.mark.parametrize(
        "name,content,message",
        [
            ("from_celestrak_csv", b"", "invalid or missing CSV header"),
            ("from_celestrak_csv", b"\xff\xfe", "invalid or missing CSV header"),
            (
                "from_celestrak_csv",
                (HEADER + "\n\n2000-02-31x").encode(),
                "parse error at row 3: invalid date",
            ),
            ("from_set_dtcfile", b"#\n\xff", "parse error at row 0: invalid utf-8"),
            ("from_set_dtcfile", b"# a\n#b\n\nDTC 2000", "parse error at row 4: line too short"),
            ("from_set_solfsmy", b"  1997   1" + b" " * 54, "parse error at row 1: F10.7"),
        ],
    )
    def test_format_errors(self, write, name, content, message):
        with pytest.raises(ValueError) as info:
            getattr(Heliodex, name)(write(content))
        assert str(info.value) == message and type(info.value) is ValueError

    @settings(max_examples=300, deadline=None)
    @given(data=st.binary(max_size=300), which=st.sampled_from(CONSTRUCTORS))
    def test_any_bytes_give_records_or_one_value_error(self, tmp_path_factory, data, which):
        path = tmp_path_factory.mktemp("fuzz") / "f"
        path.write_bytes(data)
        try:
            h = getattr(Heliodex, which)(str(path))
        except ValueError:
            return
        assert len(h) == h.len() >= 0
        h.date_range()


class TestMerge:
    def test_precedence_and_consumption(self, write):
        a = Heliodex.from_celestrak_csv(
            write(HEADER + "\n" + csv_row("2000-01-02", obs="100", ap=""))
        )
        b = Heliodex.from_celestrak_csv(
            write(
                HEADER
                + "\n"
                + csv_row("2000-01-02", obs="120", ap="7")
                + "\n"
                + csv_row("2000-01-03")
            )
        )
        assert a.merge(b) is None
        assert len(b) == 0 and b.date_range() is None
        assert len(a) == 2
        day = a.get(datetime.date(2000, 1, 2))
        assert day["f10_7_obs"] == 100.0 and day["ap_daily"] == 7.0
        Heliodex.merge(b, a)  # the unbound form; b receives everything
        assert len(b) == 2 and len(a) == 0

    def test_self_merge_refused(self, h):
        before = h.get_range(datetime.date(1, 1, 1), datetime.date(9999, 1, 1))
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            h.merge(h)
        assert h.get_range(datetime.date(1, 1, 1), datetime.date(9999, 1, 1)) == before

    def test_constructor_on_instance_leaves_it(self, h, samples):
        other = h.from_set_solfsmy(samples["sol"])
        assert isinstance(other, Heliodex) and other is not h
        assert len(h) == 1

    def test_reentrant_merge_from_a_date_attribute(self, h, write):
        other = Heliodex.from_celestrak_csv(write(HEADER + "\n" + csv_row("2001-01-01")))
        seen = []

        class Sneaky:
            month = 1
            day = 1

            @property
            def year(self):
                try:
                    h.merge(other)
                except RuntimeError as e:
                    seen.append(str(e))
                return 2000

        assert h.get(Sneaky())["f10_7_obs"] == 150.5
        assert len(h.get_range(Sneaky(), datetime.date(2100, 1, 1))) == 1
        assert seen == ["Already borrowed", "Already borrowed"]
        assert len(h) == 1 and len(other) == 1


def test_import_without_numpy():
    code = (
        "import sys; sys.modules['numpy'] = None\n"
        "import heliodex\n"
        "assert 'numpy' not in [m for m in sys.modules if sys.modules[m] is not None]\n"
        "h = heliodex.Heliodex.from_set_dtcfile('/dev/null')\n"
        "try:\n    h.to_numpy()\nexcept ImportError:\n    print('ok')\n"
    )
    out = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, env=os.environ
    )
    assert out.stdout.strip() == "ok", out.stderr


def test_import_does_not_load_numpy():
    code = "import sys, heliodex; print('numpy' in sys.modules)"
    out = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, env=os.environ
    )
    assert out.stdout.strip() == "False", out.stderr
