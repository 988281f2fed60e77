"""Argument rules shared by every method: counts, keywords and the two converted parameters."""

import datetime
import functools
import pathlib

import pytest
from conftest import CONSTRUCTORS, VALID, raises
from heliodex import Heliodex

D = datetime.date(2000, 1, 1)
METHODS = [*CONSTRUCTORS, "get", "get_range", "merge"]
PARAMS = {"get": ("date",), "get_range": ("start", "end"), "merge": ("other",)}


class Outer:
    class Inner:
        pass


@pytest.fixture
def call_of(load, write):
    """name, form -> (callable, parameter names, one valid value per parameter)."""
    h = load("from_celestrak_csv", VALID["from_celestrak_csv"])
    values = {"get": (D,), "get_range": (D, D), "merge": (load("from_set_dtcfile", ""),)}

    def _call_of(name, form):
        if name in CONSTRUCTORS:
            f = getattr(Heliodex if form == "class" else h, name)
            return f, ("path",), (write(VALID[name]),)
        f = (
            getattr(h, name)
            if form == "instance"
            else functools.partial(getattr(Heliodex, name), h)
        )
        return f, PARAMS[name], values[name]

    return _call_of


def too_many(p, extra):
    return f"takes {len(p)} positional arguments but {len(p) + extra} were given"


def missing(names):
    plural = "s" * (len(names) > 1)
    return f"missing {len(names)} required positional argument{plural}: " + " and ".join(
        f"'{n}'" for n in names
    )


CASES = {  # (parameter names, valid values) -> (args, kwargs, message after the full name)
    "too_many": lambda p, v: ((*v, 0), {}, too_many(p, 1)),
    "far_too_many": lambda p, v: ((*v, 0, 0), {}, too_many(p, 2)),
    "unexpected": lambda p, v: (v, {"bogus": 1}, "got an unexpected keyword argument 'bogus'"),
    "twice": lambda p, v: (v, {p[0]: v[0]}, f"got multiple values for argument '{p[0]}'"),
    "twice_last": lambda p, v: (v, {p[-1]: v[0]}, f"got multiple values for argument '{p[-1]}'"),
    "missing_all": lambda p, v: ((), {}, missing(p)),
    "missing_last": lambda p, v: (v[:-1], {}, missing(p[-1:])),
    "missing_first": lambda p, v: ((), {p[-1]: v[-1]} if len(p) > 1 else {}, missing(p[:1])),
}


@pytest.mark.parametrize("form", ["class", "instance"])
@pytest.mark.parametrize("case", CASES)
@pytest.mark.parametrize("name", METHODS)
def test_argument_errors(call_of, name, case, form):
    f, params, values = call_of(name, form)
    args, kwargs, message = CASES[case](params, values)
    raises(TypeError, f"Heliodex.{name}() {message}", f, *args, **kwargs)


@pytest.mark.parametrize("form", ["class", "instance"])
@pytest.mark.parametrize("split", [0, 1, 2])
@pytest.mark.parametrize("name", METHODS)
def test_every_parameter_by_position_or_keyword(call_of, name, split, form):
    f, params, values = call_of(name, form)
    result = f(*values[:split], **dict(zip(params[split:], values[split:], strict=True)))
    assert type(result) is {"get": dict, "get_range": list, "merge": type(None)}.get(name, Heliodex)


TYPES = [(pathlib.Path("/tmp"), "PosixPath"), (b"/tmp", "bytes"), (None, "NoneType"), (5, "int"),
         ("x", "str"), (Heliodex, "type"), (Outer.Inner(), "Outer.Inner")]  # fmt: skip


@pytest.mark.parametrize("keyword", [False, True])
@pytest.mark.parametrize("value,type_name", [t for t in TYPES if t[1] != "str"])
@pytest.mark.parametrize("name", CONSTRUCTORS)
def test_path_must_be_str(name, value, type_name, keyword):
    message = f"argument 'path': '{type_name}' object cannot be converted to 'PyString'"
    args, kwargs = ((), {"path": value}) if keyword else ((value,), {})
    assert raises(TypeError, message, getattr(Heliodex, name), *args, **kwargs).__cause__ is None


@pytest.mark.parametrize("name", CONSTRUCTORS)
def test_path_str_subclass_accepted(write, name):
    class Name(str):
        pass

    assert len(getattr(Heliodex, name)(Name(write(VALID[name])))) == 1


@pytest.mark.parametrize("keyword", [False, True])
@pytest.mark.parametrize("value,type_name", TYPES)
def test_other_must_be_heliodex(load, value, type_name, keyword):
    h = load("from_celestrak_csv", VALID["from_celestrak_csv"])
    message = f"argument 'other': '{type_name}' object cannot be converted to 'Heliodex'"
    args, kwargs = ((), {"other": value}) if keyword else ((value,), {})
    assert raises(TypeError, message, h.merge, *args, **kwargs).__cause__ is None
    assert h.get(D)["dtc"] is None and len(h) == 1
    h.merge(load("from_set_dtcfile", VALID["from_set_dtcfile"]))  # the borrow was released
    assert h.get(D)["dtc"] == 12.5


def test_counts_are_checked_before_conversion(call_of):
    raises(TypeError, f"Heliodex.merge() {too_many('p', 1)}", call_of("merge", "instance")[0], 5, 5)
    f = Heliodex.from_set_dtcfile
    raises(TypeError, f"Heliodex.from_set_dtcfile() {too_many('p', 1)}", f, pathlib.Path(), 5)


def test_unbound_method_on_wrong_self():
    message = "descriptor 'get' for 'builtins.Heliodex' objects doesn't apply to a 'int' object"
    raises(TypeError, message, Heliodex.get, 5, D)


@pytest.mark.parametrize(
    "args,kwargs,message",
    [((1,), {}, "takes no arguments (1 given)"), ((), {"x": 1}, "takes no keyword arguments")],
)
@pytest.mark.parametrize("name", ["len", "date_range", "to_numpy"])
def test_methods_without_arguments_reject_any(load, name, args, kwargs, message):
    f = getattr(load("from_celestrak_csv", VALID["from_celestrak_csv"]), name)
    raises(TypeError, f"Heliodex.{name}() {message}", f, *args, **kwargs)
