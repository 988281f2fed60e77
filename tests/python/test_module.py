"""The module and class as Python sees them: names, signatures, slots and initialisation."""

import ctypes
import gc
import os
import weakref

import heliodex
import pytest
from conftest import CONSTRUCTORS, VALID
from heliodex import Heliodex

SIGNATURES = {  # in the order in which the class lists them
    "from_celestrak_csv": "(path)", "from_set_solfsmy": "(path)", "from_set_dtcfile": "(path)",
    "get": "($self, date)", "get_range": "($self, start, end)", "merge": "($self, other)",
    "len": "($self)", "date_range": "($self)", "to_numpy": "($self)",
}  # fmt: skip


@pytest.fixture
def h(load):
    return load("from_celestrak_csv", VALID["from_celestrak_csv"])


def test_module_surface():
    assert heliodex.__all__ == ["Heliodex"]
    assert heliodex.__doc__ == ""
    # Only the class is public; the internal fault class is not reachable from the module.
    assert [n for n in vars(heliodex) if not n.startswith("__")] == ["Heliodex"]
    assert not any("fault" in n.lower() for n in dir(heliodex))


def test_class_surface():
    assert Heliodex.__name__ == Heliodex.__qualname__ == "Heliodex"
    assert Heliodex.__module__ == "builtins"
    assert Heliodex.__doc__ is None
    assert Heliodex.__bases__ == (object,)
    assert [n for n in vars(Heliodex) if not n.startswith("__")] == list(SIGNATURES)
    # __len__ is the one special method of its own; the rest is object's.
    dunders = {n for n in vars(Heliodex) if n.startswith("__")}
    assert dunders == {"__new__", "__len__", "__doc__", "__module__"}
    for name in ("__repr__", "__eq__", "__hash__", "__init__"):
        assert getattr(Heliodex, name) is getattr(object, name)
    for name in ("__iter__", "__getitem__", "__contains__", "__bool__"):
        assert not hasattr(Heliodex, name)
    assert all(isinstance(vars(Heliodex)[n], staticmethod) for n in CONSTRUCTORS)


@pytest.mark.parametrize("name,signature", SIGNATURES.items())
def test_method_signatures(h, name, signature):
    for method in (getattr(Heliodex, name), getattr(h, name)):
        assert method.__text_signature__ == signature
        assert method.__doc__ is None


@pytest.mark.parametrize(
    "call", [lambda: Heliodex(), lambda: Heliodex(1, a=2), lambda: Heliodex.__new__(Heliodex)]
)
def test_no_constructor(call):
    with pytest.raises(TypeError, match=r"^No constructor defined for Heliodex$"):
        call()


def test_not_subclassable():
    with pytest.raises(TypeError, match="is not an acceptable base type"):
        type("Sub", (Heliodex,), {})


def test_immutable_type():
    with pytest.raises(TypeError, match="immutable type"):
        Heliodex.extra = 1
    with pytest.raises(TypeError, match="immutable type"):
        del Heliodex.get


def test_instance_layout(h):
    assert not hasattr(h, "__dict__")
    with pytest.raises(AttributeError):
        h.extra = 1
    with pytest.raises(TypeError, match="cannot create weak reference"):
        weakref.ref(h)
    assert not gc.is_tracked(h)
    assert repr(h).startswith("<builtins.Heliodex object at ")


def test_second_initialisation_returns_the_cached_module():
    lib = ctypes.PyDLL(heliodex.__file__)
    lib.PyInit_heliodex.restype = ctypes.py_object
    assert lib.PyInit_heliodex() is heliodex
    assert heliodex.__all__ == ["Heliodex"]  # the module body did not run again
    assert heliodex.Heliodex is Heliodex


@pytest.mark.parametrize("config", ["isolated", "legacy"])
def test_sub_interpreter_import_fails(config):
    interpreters = pytest.importorskip("_interpreters")
    interp = interpreters.create(config)
    try:
        where = os.path.dirname(heliodex.__file__)
        failure = interpreters.run_string(
            interp, f"import sys; sys.path.insert(0, {where!r}); import heliodex"
        )
    finally:
        interpreters.destroy(interp)
    assert failure is not None and failure.type.__name__ == "ImportError"
    if config == "legacy":  # the interpreter does not refuse for us here; the module does
        assert "sub-interpreters" in failure.msg
