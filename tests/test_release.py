"""kill and deallocation of LmRenderTexture: what is unloaded, when, and what
becomes of errors raised while an object dies."""

import ctypes
import gc
import sys
import types
import weakref

import pytest
from conftest import break_collaborator, entries, run_python

import lumo_standin
from lumo_standin import rl
from lumo_ui.fast.lmrendertex import lm_render_tex
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

MODULE = "lumo_ui.fast.lmrendertex.lm_render_tex"
DEALLOC_CONTEXT = f"{MODULE}.LmRenderTexture.__dealloc__"
NOT_LOADED = "Render texture not loaded"


class Sub(LmRenderTexture):
    pass


class SlottedSub(LmRenderTexture):
    __slots__ = ()


class OwnFinaliser(LmRenderTexture):
    def __del__(self):
        lumo_standin.calls.append(("__del__",))


@pytest.fixture
def unraisable(monkeypatch):
    """The unraisable-exception reports, in place of the interpreter's hook."""
    reports = []
    monkeypatch.setattr(
        sys, "unraisablehook", lambda report: reports.append((report.exc_type, report.object))
    )
    return reports


def make(cls=LmRenderTexture):
    """A loaded target, with the construction calls cleared from the log."""
    target = cls(LmVector2(8.0, 4.0))
    lumo_standin.calls.clear()
    return target


def allocated():
    return LmRenderTexture.__new__(LmRenderTexture)


def unload_entries(log):
    return [entry for entry in log if entry[0] == "unload_render_texture"]


# ---- kill --------------------------------------------------------------------


@pytest.mark.parametrize("cls", [LmRenderTexture, Sub, SlottedSub])
def test_kill_unloads_once_and_keeps_the_handle(log, cls):
    target = make(cls)
    handle, size = target.render_texture, target.size
    assert target.kill() is None
    assert log == [("unload_render_texture", handle)]
    assert target.loaded is False
    assert target.render_texture is handle and target.size is size
    assert lumo_standin.live_render_textures() == []


@pytest.mark.parametrize("subject", [lambda: killed(), allocated], ids=["killed", "allocated"])
def test_kill_of_an_unloaded_object_asserts(log, subject):
    target = subject()
    log.clear()
    with pytest.raises(AssertionError, match=NOT_LOADED) as excinfo:
        target.kill()
    assert log == []
    assert "kill" in entries(excinfo)


def killed():
    target = make()
    target.kill()
    return target


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda t: t.kill(None, force=True), "kill() takes exactly 0 positional arguments (1 given)"),
        (lambda t: t.kill(force=True), "kill() got an unexpected keyword argument 'force'"),
        (lambda t: LmRenderTexture.kill(t, 1), "kill() takes exactly 0 positional arguments (1 given)"),
    ],
)
def test_kill_refuses_arguments_before_unloading(log, call, message):
    target = make()
    with pytest.raises(TypeError) as excinfo:
        call(target)
    assert str(excinfo.value) == message
    assert log == [] and target.loaded is True


@pytest.mark.parametrize(
    "breakage, error",
    [
        ("unload raises", RuntimeError),
        ("no md", NameError),
        ("md without rl", AttributeError),
    ],
)
def test_failed_kill_keeps_the_object_loaded(log, monkeypatch, breakage, error):
    target = make()
    break_collaborator(monkeypatch, breakage, RuntimeError("gpu"))
    with pytest.raises(error) as excinfo:
        target.kill()
    if breakage == "no md":
        assert str(excinfo.value) == "name 'md' is not defined"
    assert target.loaded is True
    assert "kill" in entries(excinfo)


def test_without_assertions_kill_always_unloads():
    result = run_python(
        """
        import lumo_standin
        from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
        from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

        target = LmRenderTexture(LmVector2(4.0, 2.0))
        handle = target.render_texture
        bare = LmRenderTexture.__new__(LmRenderTexture)
        lumo_standin.reset()
        target.kill()
        target.kill()
        bare.kill()
        print([(name, arg is handle, arg is None) for name, arg in lumo_standin.calls])
        print(target.loaded, bare.loaded)
        """,
        optimize=True,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        str([("unload_render_texture", True, False)] * 2 + [("unload_render_texture", False, True)]),
        "False False",
    ]


class OverridingKill(LmRenderTexture):
    def kill(self):
        lumo_standin.calls.append(("override",))
        return "ignored"


@pytest.mark.parametrize(
    "cls, caller, expected",
    [
        (LmRenderTexture, "dispatching", "unload_render_texture"),
        (Sub, "dispatching", "unload_render_texture"),
        (OverridingKill, "dispatching", "override"),
        (OverridingKill, "skipping", "unload_render_texture"),
        (OverridingKill, "own method", "unload_render_texture"),
    ],
)
def test_kill_dispatches_to_overrides_only_when_asked(log, client, cls, caller, expected):
    target = make(cls)
    if caller == "own method":
        LmRenderTexture.kill(target)
    else:
        client.kill(target, 0 if caller == "dispatching" else 1)
    assert lumo_standin.names() == [expected]
    assert target.loaded is (expected == "override")


def test_native_kill_reports_a_failing_override(log, client):
    class Failing(LmRenderTexture):
        def kill(self):
            raise LookupError("override")

    target = make(Failing)
    with pytest.raises(LookupError, match="override") as excinfo:
        client.kill(target, 0)
    assert entries(excinfo) == ["kill"] and target.loaded is True


# ---- deallocation -------------------------------------------------------------


@pytest.mark.parametrize("cls", [LmRenderTexture, Sub, SlottedSub])
@pytest.mark.parametrize("ready", [True, False])
def test_dropping_a_loaded_object(log, capsys, unraisable, cls, ready):
    lumo_standin.set_window_ready(ready)
    target = make(cls)
    handle = target.render_texture
    del target
    expected = [("is_window_ready",)]
    if ready:
        expected.append(("unload_render_texture", handle))
    assert log == expected
    assert capsys.readouterr() == ("", "")
    assert unraisable == []


def failed_construction():
    with pytest.raises(AttributeError):
        LmRenderTexture.from_rl_render_texture(object())


def loaded_cleared():
    target = make()
    target.loaded = False
    return target


@pytest.mark.parametrize(
    "subject",
    [killed, allocated, loaded_cleared, failed_construction],
    ids=["killed", "allocated", "loaded cleared", "failed construction"],
)
def test_dropping_an_unloaded_object_calls_nothing(log, subject):
    target = subject()
    log.clear()
    del target
    assert log == []


@pytest.mark.parametrize(
    "breakage, error, none_handle",
    [
        ("unload raises", ValueError("gpu"), False),
        ("window check raises", OSError("display"), False),
        ("no md", None, False),
        ("md without rl", None, False),
        ("unload raises", TypeError("not a render texture"), True),
    ],
)
def test_ordinary_errors_vanish_silently(log, capfd, unraisable, monkeypatch, breakage, error,
                                         none_handle):
    target = make()
    if none_handle:
        target.render_texture = None
    break_collaborator(monkeypatch, breakage, error)
    del target
    assert lumo_standin.pending_failures() == []
    assert capfd.readouterr() == ("", "")
    assert unraisable == []


@pytest.mark.parametrize("error", [KeyboardInterrupt("stop"), GeneratorExit()])
def test_other_exceptions_are_printed_and_reported(log, capsys, unraisable, error):
    target = make()
    lumo_standin.fail_at("unload_render_texture", error)
    del target
    err = capsys.readouterr().err
    assert "Traceback (most recent call last)" in err
    assert type(error).__name__ in err
    assert unraisable == [(type(error), DEALLOC_CONTEXT)]
    assert sys.exc_info() == (None, None, None)


def test_system_exit_does_not_end_the_process():
    result = run_python(
        """
        import lumo_standin
        from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
        from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

        target = LmRenderTexture(LmVector2(4.0, 2.0))
        lumo_standin.fail_at("unload_render_texture", SystemExit(7))
        del target
        print("survived")
        """
    )
    assert (result.returncode, result.stdout) == (0, "survived\n")
    assert "SystemExit: 7" in result.stderr
    assert f"Exception ignored in: '{DEALLOC_CONTEXT}'" in result.stderr


def test_a_pending_exception_survives(log):
    # The list display's first item is dropped while ZeroDivisionError is
    # already set: the clean-up must neither lose nor swallow it.
    with pytest.raises(ZeroDivisionError):
        [LmRenderTexture(LmVector2(1.0, 1.0)), 1 / 0]
    assert lumo_standin.names()[-2:] == ["is_window_ready", "unload_render_texture"]


@pytest.mark.parametrize("failure", [None, ValueError("gpu")])
def test_the_handled_exception_survives(log, failure):
    target = make()
    if failure is not None:
        lumo_standin.fail_at("unload_render_texture", failure)
    try:
        raise KeyError("outer")
    except KeyError as outer:
        del target
        assert sys.exc_info()[1] is outer
    assert lumo_standin.names() == ["is_window_ready", "unload_render_texture"]


# ---- the binding, read at every call -----------------------------------------------

# How each of the binding's functions comes to be called.
BINDING_USES = {
    "load_render_texture": lambda: LmRenderTexture(LmVector2(8.0, 4.0)).kill(),
    "unload_render_texture": lambda: make().kill(),
    "is_window_ready": make,  # and dropped
}


@pytest.mark.parametrize("name", BINDING_USES)
def test_a_function_replaced_in_the_binding_is_the_one_called_next(monkeypatch, log, name):
    BINDING_USES[name]()
    original, calls = getattr(rl, name), []
    monkeypatch.setattr(rl, name, lambda *args: calls.append(args) or original(*args))
    BINDING_USES[name]()
    assert len(calls) == 1


def recording_binding(seen):
    """A stand-in of rl whose functions note their names in `seen`."""
    def noting(name):
        function = getattr(rl, name)
        return lambda *args: seen.append(name) or function(*args)

    return types.SimpleNamespace(**{name: noting(name) for name in BINDING_USES})


def module_serving_rl(binding):
    """A module whose `rl` comes from its __getattr__, not its namespace."""
    module = types.ModuleType("lazy")
    module.__getattr__ = lambda name: binding if name == "rl" else None
    return module


@pytest.mark.parametrize("md", [module_serving_rl, lambda binding: types.SimpleNamespace(rl=binding)],
                         ids=["module __getattr__", "plain object"])
def test_md_replaced_after_use_is_the_one_read(monkeypatch, log, md):
    make().kill()
    seen = []
    monkeypatch.setattr(lm_render_tex, "md", md(recording_binding(seen)))
    make()
    assert seen == ["load_render_texture", "is_window_ready", "unload_render_texture"]


# ---- resurrection ---------------------------------------------------------------


def object_at(address):
    """A new reference to the object at `address`, as code with a stray
    pointer to a dying object could take one."""
    return ctypes.cast(address, ctypes.py_object).value


class Survivors(list):
    """What a resurrecting unload kept; arm(address) makes it keep one more."""

    def __init__(self):
        super().__init__()
        self.armed = []

    def arm(self, address):
        self.armed.append(address)


@pytest.fixture
def resurrecting_unload(monkeypatch):
    """md.rl.unload_render_texture, taking a reference to the dying object
    once armed with its address."""
    survivors = Survivors()
    original = rl.unload_render_texture

    def unload(handle):
        if survivors.armed:
            survivors.append(object_at(survivors.armed.pop()))
        original(handle)

    monkeypatch.setattr(rl, "unload_render_texture", unload)
    return survivors


@pytest.mark.parametrize("cls", [LmRenderTexture, Sub, SlottedSub, OwnFinaliser])
def test_clean_up_that_keeps_the_object(log, resurrecting_unload, cls):
    base = sys.getrefcount(cls)
    target = make(cls)
    handle = target.render_texture
    resurrecting_unload.arm(id(target))
    del target
    (survivor,) = resurrecting_unload
    resurrecting_unload.clear()
    # The resource went back at the first death, and the survivor knows it.
    assert unload_entries(log) == [("unload_render_texture", handle)]
    assert survivor.loaded is False
    assert survivor.render_texture is handle and survivor.get_width() == 8.0
    assert gc.is_tracked(survivor)
    # A cycle through it is still found by the collector, and its second
    # death gives nothing back.
    log.clear()
    handle.owner = survivor
    handle = weakref.ref(handle)
    del survivor
    gc.collect()
    assert handle() is None and log == []
    assert sys.getrefcount(cls) == base


def test_clean_up_that_keeps_the_object_during_collection(log, resurrecting_unload):
    gc.collect()
    target = make()
    handle = rl.RenderTexture(1, rl.Texture(2, 8, 4), rl.Texture(3, 8, 4))
    handle.owner = target
    target.render_texture = handle
    resurrecting_unload.arm(id(target))
    del target, handle
    gc.collect()
    (survivor,) = resurrecting_unload
    # The finaliser ran before anything was cleared, so the cycle is whole.
    assert gc.is_tracked(survivor) and survivor.loaded is False
    assert survivor.render_texture.owner is survivor
    del survivor
    resurrecting_unload.clear()
    log.clear()
    gc.collect()
    assert log == []


def test_property_of_a_subclass_keeping_the_object(log):
    kept, armed = [], [True]

    class Clinging(LmRenderTexture):
        @property
        def render_texture(self):
            if armed:
                kept.append(self)
                armed.clear()
            return LmRenderTexture.render_texture.__get__(self)

    base = sys.getrefcount(Clinging)
    target = make(Clinging)
    del target
    (survivor,) = kept
    assert gc.is_tracked(survivor)
    assert not survivor.loaded and survivor.get_rect().w == 8.0
    survivor.note = "attributes still work"
    del survivor
    kept.clear()
    assert sys.getrefcount(Clinging) == base
    # The clean-up goes on after the lookup kept the object; the second death
    # gives nothing back again.
    assert lumo_standin.names() == ["is_window_ready", "unload_render_texture", "LmRect.new"]


def test_finaliser_that_keeps_the_object(log):
    kept = []

    class Lingering(LmRenderTexture):
        def __del__(self):
            kept.append(self)

    base = sys.getrefcount(Lingering)
    target = make(Lingering)
    del target
    (survivor,) = kept
    kept.clear()
    # Nothing was given back yet, and the survivor is whole and collectable.
    assert log == [] and survivor.loaded is True and survivor.get_width() == 8.0
    assert gc.is_tracked(survivor)
    survivor.me = survivor
    del survivor
    assert log == []
    gc.collect()  # the finaliser runs once only; now the cycle goes
    assert lumo_standin.names() == ["is_window_ready", "unload_render_texture"]
    assert sys.getrefcount(Lingering) == base


def test_dropping_releases_the_fields(log):
    lumo_standin.set_window_ready(False)
    vector = LmVector2(8.0, 4.0)
    target = LmRenderTexture(vector)
    handle = target.render_texture
    log.clear()
    before = sys.getrefcount(vector), sys.getrefcount(handle)
    del target
    assert (sys.getrefcount(vector), sys.getrefcount(handle)) == (before[0] - 1, before[1] - 1)
