"""Importing the module: namespace, method binding, captured defaults, and
every import failure in a fresh interpreter."""

import importlib
import inspect
import json
import pickle
import sys
import weakref

import pytest

import lumo_standin as standin
import lumo_ui.core.modules
from conftest import CHECKSUM, MODULE, entries, run_python, sweep_allocation_failures, unpickle
from lumo_ui.fast.lmrendertex import lm_render_tex
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2
from lumo_ui.presentation.color import Color

WHITE = (255, 255, 255, 255)

# Imports the module in a fresh interpreter and prints what happened: the
# exception, its init traceback entries, warnings, and whether a second
# attempt behaves the same.
IMPORT_PROBE = """
import json, sys, traceback, warnings
def attempt():
    try:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            import lumo_ui.fast.lmrendertex.lm_render_tex as m
    except BaseException as error:
        entries = [(f.name, f.lineno) for f in traceback.extract_tb(error.__traceback__)
                   if f.name.startswith("init ")]
        return {"error": type(error).__name__, "message": str(error), "entries": entries}
    return {"error": None, "warnings": [f"{w.category.__name__}: {w.message}" for w in caught]}
first = attempt()
second = attempt()
print(json.dumps({"first": first, "second": second, "in_sys_modules": "%s" in sys.modules}))
""" % MODULE


def probe_import(breaks):
    result = run_python(IMPORT_PROBE, env={"LUMO_STANDIN_BREAK": breaks})
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout)


def test_namespace_holds_the_bindings_and_hides_the_constant():
    namespace = vars(lm_render_tex)
    assert namespace["LmRenderTexture"] is LmRenderTexture
    assert namespace["md"] is lumo_ui.core.modules
    assert namespace["Color"] is Color
    assert namespace["__builtins__"] is sys.modules["builtins"]
    assert namespace["__test__"] == {}
    assert callable(namespace["__pyx_unpickle_LmRenderTexture"])
    assert {"lumo_state", "Annotations"} <= namespace.keys()
    assert not hasattr(lm_render_tex, "lm_render_tex_base_color")
    spec = lm_render_tex.__spec__
    assert (lm_render_tex.__loader__, lm_render_tex.__file__, lm_render_tex.__package__) == (
        spec.loader, spec.origin, spec.parent)
    assert not hasattr(lm_render_tex, "__path__")


def test_import_after_removal_from_sys_modules_returns_the_same_module(monkeypatch):
    monkeypatch.delitem(sys.modules, MODULE)
    again = importlib.import_module(MODULE)
    assert again is lm_render_tex
    assert again.LmRenderTexture is LmRenderTexture


METHODS = [
    # name, signature through the type, defaults
    ("blit", "(self, lm_texture, dest, blend_mode=0, flip=True, color=%r)" % (WHITE,), (0, True, WHITE)),
    ("fast_blit", "(self, lm_texture, dest, flip=True, color=%r)" % (WHITE,), (True, WHITE)),
    ("blit_texture", "(self, texture: 'object', dest, blend_mode=0, flip=True, color=%r)" % (WHITE,),
     (0, True, WHITE)),
    ("fast_blit_texture", "(self, texture: 'object', dest, flip=True, color=%r)" % (WHITE,), (True, WHITE)),
    ("clear", "(self, color)", None),
    ("fast_clear", "(self, color)", None),
    ("fill", "(self, color)", None),
    ("kill", "(self)", None),
    ("get_rect", "(self)", None),
    ("get_height", "(self)", None),
    ("get_width", "(self)", None),
    ("copy", "(self, flip=True)", (True,)),
    ("__enter__", "(self)", None),
    ("__exit__", "(self, exc_type, exc_val, exc_tb)", None),
    ("__reduce_cython__", "(self)", None),
    ("__setstate_cython__", "(self, __pyx_state)", None),
]


@pytest.mark.parametrize("name, signature, defaults", METHODS)
def test_methods_introspect_like_functions(name, signature, defaults):
    method = getattr(LmRenderTexture, name)
    assert method is vars(LmRenderTexture)[name]
    assert str(inspect.signature(method)) == signature
    assert method.__defaults__ == defaults
    assert method.__name__ == name
    assert method.__qualname__ == "LmRenderTexture." + name
    assert method.__module__ == MODULE


# ---- source lines of traceback entries and code objects ----------------------

# The line each traceback entry of the module shows (named without the
# module and type prefix), which is also the first line of the code of the
# method of that name. Callers' tracebacks and tools show these.
LINES = {
    "from_rl_render_texture": 12, "__init__": 16, "new": 31, "blit": 43, "lmblit": 51,
    "c_fast_blit": 59, "c_fast_lmblit": 71, "fast_blit": 73, "c_fast_blit_texture": 76,
    "blit_texture": 80, "fast_blit_texture": 88, "c_fast_clear": 93, "c_clear": 95, "clear": 99,
    "fast_clear": 103, "fill": 107, "kill": 111, "get_rect": 116, "get_height": 119,
    "get_width": 120, "c_get_texture": 123, "copy": 127, "__enter__": 143, "__exit__": 148,
    "height.__get__": 158, "size.__set__": 158,
    "__reduce_cython__": 1, "__setstate_cython__": 1,
    "__pyx_unpickle_LmRenderTexture": 1, "__pyx_unpickle_LmRenderTexture__set_state": 1,
}
PYTHON_METHODS = [name for name, *_ in METHODS] + ["lmblit", "from_rl_render_texture"]


@pytest.mark.parametrize("function", [*(getattr(LmRenderTexture, name) for name in PYTHON_METHODS), unpickle],
                         ids=lambda function: function.__name__)
def test_code_objects_start_at_the_methods_line(function):
    assert function.__code__.co_firstlineno == LINES[function.__name__]


# A failing call of every Python method and every native entry, on a bare
# object (not loaded, no handle, no size), with the back-end call armed to
# fail where one must; and its traceback entries, outermost first.
FAILING_CALLS = [
    *((lambda t, c, name=name: getattr(t, name)(*range(6)), None, [name]) for name in PYTHON_METHODS),
    (lambda t, c: LmRenderTexture(), None, ["__init__"]),
    (lambda t, c: unpickle(), None, ["__pyx_unpickle_LmRenderTexture"]),
    (lambda t, c: unpickle(LmRenderTexture, CHECKSUM, ("x",)), None,
     ["__pyx_unpickle_LmRenderTexture", "__pyx_unpickle_LmRenderTexture__set_state"]),
    (lambda t, c: setattr(t, "size", 1), None, ["size.__set__"]),
    (lambda t, c: c.new(None), None, ["new"]),
    (lambda t, c: c.c_get_texture(t), None, ["c_get_texture"]),
    (lambda t, c: c.c_fast_blit(t, t, (1, 2), 1, None), None, ["c_fast_blit", "height.__get__"]),
    (lambda t, c: c.c_fast_lmblit(t, t, LmVector2(), 0, 1, None), "c_draw_lmtexture_lmvec", ["c_fast_lmblit"]),
    (lambda t, c: c.c_fast_blit_texture(t, None, (1, 2), 1, None), "fast_blit_pro", ["c_fast_blit_texture"]),
    (lambda t, c: c.c_fast_clear(t, None), "c_clear_background", ["c_fast_clear"]),
    (lambda t, c: c.c_clear(t, None), "begin_texture_mode", ["c_clear"]),
    *((lambda t, c, name=name: getattr(c, name)(t, None, 1), None, [name]) for name in ("clear", "fast_clear", "fill")),
    *((lambda t, c, name=name: getattr(c, name)(t, 1), None, [name])
      for name in ("kill", "get_rect", "get_height", "get_width")),
]


@pytest.mark.parametrize("call, failing, names", FAILING_CALLS, ids=[" ".join(row[2]) for row in FAILING_CALLS])
def test_traceback_entries_show_their_source_lines(client, log, call, failing, names):
    bare = LmRenderTexture.__new__(LmRenderTexture)
    if failing:
        standin.fail_at(failing, RuntimeError("back-end failed"))
    with pytest.raises(Exception) as excinfo:
        call(bare, client)
    shown = entries(excinfo, MODULE + ".", lines=True)
    assert [(name.removeprefix("LmRenderTexture."), line) for name, line in shown] == [
        (name, LINES[name]) for name in names]


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_functions_pickle_by_reference(protocol):
    for function in (LmRenderTexture.blit, lm_render_tex.__pyx_unpickle_LmRenderTexture):
        assert pickle.loads(pickle.dumps(function, protocol)) is function


def test_lmblit_defaults_to_the_hidden_base_colour():
    blend_mode, flip, color = LmRenderTexture.lmblit.__defaults__
    assert (blend_mode, flip) == (0, True)
    assert (color.x, color.y, color.w, color.h) == (255.0, 255.0, 255.0, 0.0)


def test_texture_methods_carry_the_annotation():
    for name in ("blit_texture", "fast_blit_texture"):
        assert getattr(LmRenderTexture, name).__annotations__ == {"texture": "object"}
    assert LmRenderTexture.blit.__annotations__ == {}


def test_pickling_operations_are_carried_under_both_names():
    namespace = vars(LmRenderTexture)
    assert namespace["__reduce__"] is namespace["__reduce_cython__"]
    assert namespace["__setstate__"] is namespace["__setstate_cython__"]


def test_bound_methods_skip_self_in_their_signature(target):
    assert str(inspect.signature(target.fill)) == "(color)"
    assert target.blit.__self__ is target


def test_static_method_behaves_alike_on_type_and_instance(target, log):
    handle = lumo_ui.core.modules.rl.load_render_texture(4, 2)
    log.clear()
    from_type = LmRenderTexture.from_rl_render_texture(handle)
    from_instance = target.from_rl_render_texture(rl_render_texture=handle)
    for made in (from_type, from_instance):
        assert type(made) is LmRenderTexture and made.render_texture is handle
    assert str(inspect.signature(LmRenderTexture.from_rl_render_texture)) == "(rl_render_texture)"
    assert target.size.x == 64.0


def test_default_colour_is_captured_at_import(target, source, monkeypatch, log):
    monkeypatch.setattr(Color, "White", (1, 2, 3, 4))
    target.fast_blit(source, (0, 0))
    target.fast_blit_texture(None, (0, 0))
    assert [entry[-2 if entry[0] == "c_draw_texture_vec" else -1] for entry in log] == [WHITE, WHITE]
    assert LmRenderTexture.blit.__defaults__[-1] == WHITE


@pytest.mark.parametrize("name", ["clear", "kill", "blit", "__enter__", "__reduce_cython__"])
def test_method_through_the_type_needs_its_object(name, log):
    method = getattr(LmRenderTexture, name)
    with pytest.raises(TypeError, match=r"^%s\(\) needs an argument$" % name):
        method()
    for foreign in (None, 1, object(), LmRenderTexture):
        with pytest.raises(TypeError, match="doesn't apply to a"):
            method(foreign, (1, 2, 3, 4))
    assert log == []


def test_method_through_the_type_runs_on_its_object(target, log):
    LmRenderTexture.fast_clear(target, (9, 9, 9, 9))
    assert log == [("c_clear_background", (9, 9, 9, 9))]


def test_type_has_no_instance_dict_or_weak_references(target):
    assert not hasattr(target, "__dict__")
    with pytest.raises(AttributeError):
        target.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(target)
    assert LmRenderTexture.__doc__ is None
    assert LmRenderTexture.__module__ == MODULE
    assert hash(target) == hash(target) and target != LmRenderTexture.__new__(LmRenderTexture)


def test_type_publishes_its_method_table(client):
    capsule = vars(LmRenderTexture)["__pyx_vtable__"]
    assert type(capsule).__name__ == "PyCapsule"
    assert client.table_is_published()


def test_python_subclass_with_dict_and_weak_references(log):
    class Layer(LmRenderTexture):
        pass

    layer = Layer.__new__(Layer)
    layer.note = "kept"
    assert weakref.ref(layer)() is layer
    assert (layer.loaded, layer.size, layer.render_texture) == (False, None, None)


# ---- import failures, each in a fresh interpreter ----------------------------

VECTOR = "lumo_ui.fast.lmvector2.lmvector2.LmVector2"
BACKEND = "lumo_ui.fast.raylib.lumo_raylib"

IMPORT_FAILURES = [
    ("capi-missing:c_draw_lmtexture_lmvec", "ImportError",
     f"{BACKEND} does not export expected C function c_draw_lmtexture_lmvec", 1),
    ("capi-missing:c_clear_background", "ImportError",
     f"{BACKEND} does not export expected C function c_clear_background", 1),
    ("capi-signature:begin_blend_mode", "TypeError",
     f"C function {BACKEND}.begin_blend_mode has wrong signature "
     "(expected void (int, int __pyx_skip_dispatch), got void (long))", 1),
    ("size-smaller:LmVector2", "ValueError",
     f"{VECTOR} size changed, may indicate binary incompatibility. "
     "Expected 40 from C header, got 32 from PyObject", 1),
    ("not-a-type:LmVector2", "TypeError", f"{VECTOR} is not a type object", 1),
    ("no-vtable:LmShader", "KeyError", "'__pyx_vtable__'", 1),
    ("vtable-not-capsule:LmRect", "ValueError", "PyCapsule_GetPointer called with invalid PyCapsule object", 1),
    ("raise-on-import:lumo_ui.core.modules", "RuntimeError", "stand-in import failure: lumo_ui.core.modules", 1),
    ("raise-on-import:lumo_ui.presentation.color", "RuntimeError",
     "stand-in import failure: lumo_ui.presentation.color", 4),
    ("missing-name:lumo_ui.core.state.lumo_state", "ImportError",
     "cannot import name 'lumo_state' from 'lumo_ui.core.state'", 5),
    ("missing-name:lumo_ui.core.annotations.Annotations", "ImportError",
     "cannot import name 'Annotations' from 'lumo_ui.core.annotations'", 6),
    # Only a missing name is an ImportError; any other failure is itself.
    ("getattr-raises:lumo_ui.core.state.lumo_state", "RuntimeError",
     "stand-in attribute failure: lumo_ui.core.state.lumo_state", 5),
    ("color-white-list", "TypeError", "Expected tuple, got list", 43),
]


@pytest.mark.parametrize("breaks, error, message, line", IMPORT_FAILURES)
def test_failed_import_reports_and_starts_again(breaks, error, message, line):
    outcome = probe_import(breaks)
    first = outcome["first"]
    assert (first["error"], first["message"].split(" (/")[0]) == (error, message)
    assert first["entries"] == [[f"init {MODULE}", line]]
    # The failed module is forgotten: a second import runs every step again.
    assert outcome["second"] == first
    assert not outcome["in_sys_modules"]


def test_larger_collaborator_record_only_warns():
    outcome = probe_import("size-larger:LmRect")
    assert outcome["first"] == {
        "error": None,
        "warnings": ["RuntimeWarning: lumo_ui.fast.lmrect.lmrect.LmRect size changed, may indicate "
                     "binary incompatibility. Expected 40 from C header, got 48 from PyObject"],
    }


def test_larger_collaborator_record_fails_when_warnings_are_errors():
    result = run_python(f"import {MODULE}", env={"LUMO_STANDIN_BREAK": "size-larger:LmRect",
                                                  "PYTHONWARNINGS": "error::RuntimeWarning"})
    assert result.returncode == 1
    assert "RuntimeWarning: lumo_ui.fast.lmrect.lmrect.LmRect size changed" in result.stderr


def test_import_succeeds_once_the_cause_is_gone():
    result = run_python(f"""
        import lumo_ui.presentation.color as color
        try:
            import {MODULE}
        except TypeError:
            pass
        color.Color.White = (1, 2, 3, 4)
        from {MODULE} import LmRenderTexture
        print(LmRenderTexture.fast_blit.__defaults__)
    """, env={"LUMO_STANDIN_BREAK": "color-white-list"})
    assert result.stdout.strip() == "(True, (1, 2, 3, 4))", result.stderr


# A failed import is retried; the retry makes whole objects.
RETRY_CHILD = """
def child(n):
    try:
        with allocation_failing(n):
            import %(module)s
        return 3
    except BaseException:
        pass
    sys.modules.pop("%(module)s", None)
    from %(module)s import LmRenderTexture
    target = LmRenderTexture(LmVector2(2.0, 3.0))
    copy = pickle.loads(pickle.dumps(target))
    whole = target.__reduce__()[1][1] == 0xd7babc0 and copy.width == 2.0
    return 0 if whole else 1
""" % {"module": MODULE}


# CPython 3.13.0 itself crashes when an allocation fails while an extension
# module's import runs or is retried (stdlib _decimal, _csv and _datetime
# alike); 3.12 does not.
interpreter_survives_failed_allocations = pytest.mark.skipif(
    sys.version_info[:3] == (3, 13, 0),
    reason="CPython 3.13.0 crashes in its own import and type set-up after a failed allocation "
           "(stdlib _decimal, _csv and _datetime alike)")


@interpreter_survives_failed_allocations
def test_import_retried_after_any_allocation_failure_makes_whole_objects():
    sweep_allocation_failures(RETRY_CHILD)


# The module's own create and exec steps, found beforehand: the interpreter's
# import machinery around them has failures of its own when memory runs out.
# Whichever step meets the failure, MemoryError comes out.
MEMORY_ERROR_CHILD = """
spec = importlib.util.find_spec("%(module)s")

def child(n):
    try:
        with allocation_failing(n):
            spec.loader.exec_module(importlib.util.module_from_spec(spec))
        return 3
    except MemoryError:
        return 0
    except BaseException as error:
        print(n, type(error).__name__, error, file=sys.stderr)
        return 1
""" % {"module": MODULE}


@interpreter_survives_failed_allocations
def test_allocation_failure_during_import_raises_memory_error():
    sweep_allocation_failures(MEMORY_ERROR_CHILD)


def test_backend_that_is_not_a_module_fails_the_import_by_name():
    # sys.modules may hold any object under the back-end's name.
    stand_in = f"import sys, types\nsys.modules[{BACKEND!r}] = types.SimpleNamespace(__pyx_capi__={{}})\n"
    result = run_python(stand_in + IMPORT_PROBE)
    first = json.loads(result.stdout)["first"]
    assert (first["error"], first["message"]) == (
        "ImportError", f"{BACKEND} does not export expected C function c_clear_background")


def test_none_is_an_accepted_default_colour():
    result = run_python(f"""
        import lumo_ui.presentation.color as color
        color.Color.White = None
        from {MODULE} import LmRenderTexture
        print(LmRenderTexture.blit.__defaults__)
    """)
    assert result.stdout.strip() == "(0, True, None)", result.stderr


def test_assertion_flag_is_read_at_import():
    result = run_python(f"""
        from lumo_ui.fast.lmvector2.lmvector2 import LmVector2
        from {MODULE} import LmRenderTexture
        import lumo_standin
        target = LmRenderTexture(LmVector2(2, 2))
        target.loaded = False
        with target:
            pass
        print(lumo_standin.names())
    """, optimize=True)
    assert result.stdout.strip() == "['LmRect.new', 'load_render_texture', 'begin_texture_mode', 'end_texture_mode']", result.stderr


def test_second_interpreter_is_refused():
    pytest.importorskip("_testcapi")
    inner = f"try:\n    import {MODULE}\nexcept ImportError as error:\n    print(error)\n"
    result = run_python(f"import _testcapi, {MODULE}\n_testcapi.run_in_subinterp({inner!r})\n")
    assert result.stdout.strip() == (
        "Interpreter change detected - this module can only be loaded into one interpreter per process.")


def test_white_is_read_twice_for_each_method_that_defaults_to_it():
    result = run_python(f"""
        import lumo_ui.presentation.color as color
        reads = []
        class Meta(type):
            @property
            def White(cls):
                reads.append(len(reads))
                return (len(reads),)
        color.Color = Meta("Color", (), {{}})
        from {MODULE} import LmRenderTexture as T
        from lumo_ui.fast.lmvector2.lmvector2 import LmVector2
        import lumo_standin
        print(len(reads), T.blit.__defaults__[2], T.fast_blit.__defaults__[1],
              T.blit_texture.__defaults__[2], T.fast_blit_texture.__defaults__[1])
        target = T(LmVector2(1, 1))
        target.fast_blit_texture(None, ())
        print(lumo_standin.calls[-1][-1])
    """)
    # Each method reads once for its stored default, then once for __defaults__;
    # calls use the stored one.
    assert result.stdout.split() == ["8", "(2,)", "(4,)", "(6,)", "(8,)", "(7,)"], result.stderr


def test_type_left_over_from_a_failed_import_makes_no_objects():
    result = run_python(f"""
        try:
            import {MODULE}
        except TypeError as error:
            namespace = error.__traceback__.tb_next.tb_frame.f_globals
        T = namespace["LmRenderTexture"]
        for make in (lambda: T(None), lambda: T.__new__(T), lambda: T.from_rl_render_texture(1)):
            try:
                make()
            except RuntimeError as error:
                print(error)
    """, env={"LUMO_STANDIN_BREAK": "color-white-list"})
    assert result.stdout.splitlines() == [f"{MODULE} was not imported successfully"] * 3, result.stderr
