"""Self-tests of the stand-in platform.

The back-end C API and the method tables are driven through ctypes, the way
a native client reaches them: capsule -> function pointer -> call.
"""

import ctypes
import os
import pickle
import subprocess
import sys
import textwrap

import pytest

import lumo_standin
from lumo_standin import calllog
from lumo_ui.core import state as state_mod
from lumo_ui.core.annotations import Annotations
from lumo_ui.core.modules import rl
from lumo_ui.fast.lmrect.lmrect import LmRect
from lumo_ui.fast.lmshader.lmshader import LmShader
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2
from lumo_ui.fast.raylib import lumo_raylib
from lumo_ui.presentation.color import Color

api = ctypes.pythonapi
api.PyCapsule_GetName.restype = ctypes.c_char_p
api.PyCapsule_GetName.argtypes = [ctypes.py_object]
api.PyCapsule_GetPointer.restype = ctypes.c_void_p
api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]

P = ctypes.py_object
I = ctypes.c_int

EXPECTED_CAPI = [
    ("c_clear_background", "void (PyObject *)", [P]),
    ("c_draw_texture_rec", "void (PyObject *, PyObject *, PyObject *, PyObject *)", [P, P, P, P]),
    ("c_draw_texture_vec", "void (PyObject *, PyObject *, PyObject *, int)", [P, P, P, I]),
    ("begin_texture_mode", "void (PyObject *, int __pyx_skip_dispatch)", [P, I]),
    ("clear_background", "void (PyObject *, int __pyx_skip_dispatch)", [P, I]),
    ("end_blend_mode", "void (int __pyx_skip_dispatch)", [I]),
    ("end_texture_mode", "void (int __pyx_skip_dispatch)", [I]),
    ("begin_blend_mode", "void (int, int __pyx_skip_dispatch)", [I, I]),
    (
        "c_draw_lmtexture_lmvec",
        "void (struct __pyx_obj_7lumo_ui_4fast_11lmrendertex_13lm_render_tex_LmRenderTexture *, "
        "struct __pyx_obj_7lumo_ui_4fast_9lmvector2_9lmvector2_LmVector2 *, "
        "struct __pyx_obj_7lumo_ui_4fast_6lmrect_6lmrect_LmRect *, int)",
        [P, P, P, I],
    ),
]
ARGTYPES = {name: argtypes for name, _, argtypes in EXPECTED_CAPI}


def capi(name):
    cap = lumo_raylib.__pyx_capi__[name]
    ptr = api.PyCapsule_GetPointer(cap, api.PyCapsule_GetName(cap))
    return ctypes.PYFUNCTYPE(None, *ARGTYPES[name])(ptr)


def vtable_entry(type_, restype, *argtypes):
    ptr = api.PyCapsule_GetPointer(type_.__dict__["__pyx_vtable__"], None)
    fn_addr = ctypes.c_void_p.from_address(ptr).value
    return ctypes.PYFUNCTYPE(restype, *argtypes)(fn_addr)


@pytest.fixture(autouse=True)
def clean_log():
    lumo_standin.reset()
    yield
    lumo_standin.reset()


def run_broken(tokens, code):
    env = dict(os.environ, LUMO_STANDIN_BREAK=tokens)
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        env=env,
        capture_output=True,
        text=True,
        timeout=60,
    )


# ---- back-end C API ------------------------------------------------------


def test_capi_names_order_and_capsule_names():
    got = [
        (name, api.PyCapsule_GetName(cap).decode())
        for name, cap in lumo_raylib.__pyx_capi__.items()
    ]
    assert got == [(name, sig) for name, sig, _ in EXPECTED_CAPI]


def test_capi_calls_record_objects_themselves_in_order():
    color, tex, src, dest, pos, rt = object(), object(), LmRect(), LmRect(), LmVector2(), object()
    capi("begin_texture_mode")(rt, 0)
    capi("c_clear_background")(color)
    capi("clear_background")(color, 0)
    capi("begin_blend_mode")(2, 0)
    capi("c_draw_texture_rec")(tex, src, dest, color)
    capi("c_draw_texture_vec")(tex, pos, color, 1)
    capi("c_draw_lmtexture_lmvec")(rt, pos, None, 0)
    capi("end_blend_mode")(0)
    capi("end_texture_mode")(0)
    assert lumo_standin.calls == [
        ("begin_texture_mode", rt),
        ("c_clear_background", color),
        ("clear_background", color),
        ("begin_blend_mode", 2),
        ("c_draw_texture_rec", tex, src, dest, color),
        ("c_draw_texture_vec", tex, pos, color, 1),
        ("c_draw_lmtexture_lmvec", rt, pos, None, 0),
        ("end_blend_mode",),
        ("end_texture_mode",),
    ]
    assert lumo_standin.calls[0][1] is rt
    assert lumo_standin.calls[4][2] is src
    assert lumo_standin.bad_skip_dispatch == []


def test_nonzero_skip_dispatch_is_refused_and_kept_apart():
    with pytest.raises(AssertionError, match="skip_dispatch"):
        capi("end_texture_mode")(1)
    with pytest.raises(AssertionError):
        capi("begin_blend_mode")(0, 7)
    assert lumo_standin.calls == []
    assert lumo_standin.bad_skip_dispatch == [("end_texture_mode", 1), ("begin_blend_mode", 7)]


def test_python_forms_of_backend_functions_share_the_log():
    lumo_raylib.begin_blend_mode(rl.BlendMode.BLEND_ADDITIVE)
    lumo_raylib.end_blend_mode()
    assert lumo_standin.calls == [("begin_blend_mode", 1), ("end_blend_mode",)]
    with pytest.raises(TypeError):
        lumo_raylib.begin_blend_mode("alpha")


# ---- failure arming ------------------------------------------------------


def test_fail_at_nth_call_records_then_raises():
    lumo_standin.fail_at("c_clear_background", ValueError("boom"), nth=2)
    capi("c_clear_background")(1)
    with pytest.raises(ValueError, match="boom"):
        capi("c_clear_background")(2)
    capi("c_clear_background")(3)  # fired once only
    assert lumo_standin.names() == ["c_clear_background"] * 3
    assert [c[1] for c in lumo_standin.calls] == [1, 2, 3]
    assert lumo_standin.pending_failures() == []


def test_several_armed_failures_and_base_exception_classes():
    lumo_standin.fail_at("end_texture_mode", KeyboardInterrupt)
    lumo_standin.fail_at("end_texture_mode", ValueError("second"))
    lumo_standin.fail_at("is_window_ready", RuntimeError("not now"))
    with pytest.raises(KeyboardInterrupt):
        capi("end_texture_mode")(0)
    with pytest.raises(ValueError, match="second"):
        capi("end_texture_mode")(0)
    with pytest.raises(RuntimeError):
        rl.is_window_ready()
    capi("end_texture_mode")(0)
    assert lumo_standin.names() == ["end_texture_mode"] * 2 + ["is_window_ready", "end_texture_mode"]


def test_vtable_constructor_failure_returns_null_with_error():
    new = vtable_entry(LmVector2, ctypes.py_object, ctypes.c_double, ctypes.c_double)
    lumo_standin.fail_at("LmVector2.new", MemoryError)
    with pytest.raises(MemoryError):
        new(1.0, 2.0)
    assert lumo_standin.calls == [("LmVector2.new", 1.0, 2.0)]


def test_fail_at_rejects_bad_arguments():
    with pytest.raises(ValueError):
        lumo_standin.fail_at("c_clear_backgroud", ValueError)
    with pytest.raises(TypeError):
        lumo_standin.fail_at("c_clear_background", "boom")
    with pytest.raises(ValueError):
        lumo_standin.fail_at("c_clear_background", ValueError, nth=0)
    assert lumo_standin.pending_failures() == []


def test_reset_disarms_and_restores_defaults():
    lumo_standin.fail_at("end_blend_mode", ValueError)
    lumo_standin.set_window_ready(False)
    lumo_standin.set_quiet(True)
    lumo_standin.reset()
    capi("end_blend_mode")(0)
    assert rl.is_window_ready() is True
    assert lumo_standin.names() == ["end_blend_mode", "is_window_ready"]


# ---- quiet mode ----------------------------------------------------------


def test_quiet_mode_records_nothing_and_fires_nothing():
    lumo_standin.fail_at("c_clear_background", ValueError)
    new = vtable_entry(LmVector2, ctypes.py_object, ctypes.c_double, ctypes.c_double)
    with lumo_standin.quiet():
        assert lumo_standin.is_quiet()
        capi("c_clear_background")(1)
        v = new(3.0, 4.0)
        state_mod.lumo_state.window.display.fast_blit_pro(1, 2, 0, 3)
        handle = rl.load_render_texture(4, 4)
    assert not lumo_standin.is_quiet()
    assert (v.x, v.y) == (3.0, 4.0)
    assert handle.texture.width == 4
    assert lumo_standin.calls == []
    with pytest.raises(ValueError):
        capi("c_clear_background")(2)


# ---- native types --------------------------------------------------------


@pytest.mark.parametrize("type_", [LmVector2, LmRect, LmShader])
def test_record_sizes_names_and_vtables(type_):
    assert type_.__basicsize__ == 40
    assert f"{type_.__module__}.{type_.__qualname__}" == {
        LmVector2: "lumo_ui.fast.lmvector2.lmvector2.LmVector2",
        LmRect: "lumo_ui.fast.lmrect.lmrect.LmRect",
        LmShader: "lumo_ui.fast.lmshader.lmshader.LmShader",
    }[type_]
    cap = type_.__dict__["__pyx_vtable__"]
    assert api.PyCapsule_GetName(cap) is None
    assert api.PyCapsule_GetPointer(cap, None)


def test_vtable_constructors_build_and_record():
    vnew = vtable_entry(LmVector2, ctypes.py_object, ctypes.c_double, ctypes.c_double)
    rnew = vtable_entry(LmRect, ctypes.py_object, *[ctypes.c_float] * 4)
    v = vnew(1.5, -2.0)
    r = rnew(1.0, 2.0, 3.5, 0.1)
    assert type(v) is LmVector2 and (v.x, v.y) == (1.5, -2.0)
    assert type(r) is LmRect and (r.x, r.w) == (1.0, 3.5)
    assert r.h == pytest.approx(0.1, rel=1e-6) and r.h != 0.1  # single precision
    assert sys.getrefcount(v) == 2
    assert lumo_standin.calls[0] == ("LmVector2.new", 1.5, -2.0)
    name, *args = lumo_standin.calls[1]
    assert name == "LmRect.new" and all(type(a) is float for a in args)


def test_shader_vtable_entry_is_a_stub():
    create = vtable_entry(LmShader, ctypes.py_object, ctypes.py_object, ctypes.py_object)
    with pytest.raises(NotImplementedError):
        create("v", "f")
    assert LmShader().id == 0
    with pytest.raises(TypeError):
        LmShader(1)


def test_value_types_behave():
    v = LmVector2(1, y=2)
    assert repr(v) == "LmVector2(1.0, 2.0)"
    assert v == LmVector2(1.0, 2.0) and v != LmVector2(1.0, 2.5)
    assert v != (1.0, 2.0)
    v.x = 5
    assert v.x == 5.0 and type(v.x) is float
    with pytest.raises(TypeError):
        v.y = "a"
    with pytest.raises(TypeError):
        del v.x
    with pytest.raises(TypeError):
        LmVector2(1, 2, 3)
    assert repr(LmRect(1, 2, 3, 4)) == "LmRect(1.0, 2.0, 3.0, 4.0)"
    assert LmRect(w=3) == LmRect(0, 0, 3, 0)
    assert lumo_standin.calls == []  # Python construction is not a platform call


def test_pickling_keeps_type_and_values():
    assert pickle.loads(pickle.dumps(LmVector2(1, 2))) == LmVector2(1, 2)
    assert pickle.loads(pickle.dumps(LmRect(1, 2, 3, 4))) == LmRect(1, 2, 3, 4)

    s = _Vec(3, 4)
    s.tag = "t"
    back = pickle.loads(pickle.dumps(s))
    assert type(back) is _Vec and back == s and back.tag == "t"


class _Vec(LmVector2):
    pass


def test_floor_noop():
    floor = lumo_standin.Floor()
    assert floor.noop() is None
    assert floor.noop(1, 2, a=3) is None
    assert not hasattr(floor, "__dict__")
    assert lumo_standin.calls == []


# ---- Python-level platform objects -----------------------------------------


def test_render_textures():
    a = rl.load_render_texture(64, 32)
    b = rl.load_render_texture(8, 8)
    assert len({a.id, a.texture.id, a.depth.id, b.id, b.texture.id, b.depth.id}) == 6
    assert (a.texture.width, a.texture.height, a.texture.mipmaps, a.texture.format) == (64, 32, 1, 7)
    assert "64x32" in repr(a)
    copy = pickle.loads(pickle.dumps(a))
    assert type(copy) is rl.RenderTexture and copy.id == a.id and copy.texture.width == 64
    assert lumo_standin.live_render_textures() == [a, b]
    rl.unload_render_texture(a)
    rl.unload_render_texture(copy)  # not a loaded handle: logged, nothing freed
    assert lumo_standin.live_render_textures() == [b]
    assert lumo_standin.calls == [
        ("load_render_texture", 64, 32),
        ("load_render_texture", 8, 8),
        ("unload_render_texture", a),
        ("unload_render_texture", copy),
    ]


def test_window_ready_flag_and_blend_mode():
    assert rl.is_window_ready() is True
    lumo_standin.set_window_ready(False)
    assert rl.is_window_ready() is False
    assert rl.BlendMode.BLEND_ALPHA == 0 and rl.BlendMode.BLEND_MULTIPLIED == 2
    assert lumo_standin.names() == ["is_window_ready"] * 2


def test_state_color_annotations():
    display = state_mod.lumo_state.window.display
    assert display.fast_blit_pro("t", "d", 1, Color.White) is None
    assert lumo_standin.calls == [("fast_blit_pro", "t", "d", 1, Color.White)]
    assert Color.White == (255, 255, 255, 255)
    assert Color.Black == (0, 0, 0, 255) and Color.Blank == (0, 0, 0, 0)
    assert isinstance(Annotations, type)


def test_lumo_ui_folders_are_namespace_packages():
    import lumo_ui
    import lumo_ui.core
    import lumo_ui.fast
    import lumo_ui.fast.lmvector2

    for pkg in (lumo_ui, lumo_ui.fast, lumo_ui.core, lumo_ui.fast.lmvector2):
        assert getattr(pkg, "__file__", None) is None, pkg


def test_no_reference_leaks_on_record_and_failure_paths():
    color = object()
    before = sys.getrefcount(color)
    draw = capi("c_draw_texture_vec")
    for _ in range(200):
        draw(color, color, color, 0)
    lumo_standin.fail_at("c_draw_texture_vec", ValueError)
    with pytest.raises(ValueError):
        draw(color, color, color, 0)
    with pytest.raises(AssertionError):
        capi("clear_background")(color, 1)
    lumo_standin.reset()
    assert sys.getrefcount(color) == before


# ---- broken variants -------------------------------------------------------


def test_break_sizes():
    res = run_broken(
        "size-smaller:LmVector2,size-larger:LmRect",
        """
        from lumo_ui.fast.lmvector2.lmvector2 import LmVector2
        from lumo_ui.fast.lmrect.lmrect import LmRect
        from lumo_ui.fast.lmshader.lmshader import LmShader
        v = LmVector2(1, 2)
        try:
            v.y
        except AttributeError:
            pass
        else:
            raise SystemExit("y should be absent")
        print(LmVector2.__basicsize__, LmRect.__basicsize__, LmShader.__basicsize__, v.x)
        """,
    )
    assert res.returncode == 0, res.stderr
    assert res.stdout.split() == ["32", "48", "40", "1.0"]


def test_break_capi():
    res = run_broken(
        "capi-missing:end_blend_mode,capi-signature:c_clear_background",
        """
        import ctypes
        from lumo_ui.fast.raylib.lumo_raylib import __pyx_capi__ as capi
        name = ctypes.pythonapi.PyCapsule_GetName
        name.restype = ctypes.c_char_p
        name.argtypes = [ctypes.py_object]
        print("end_blend_mode" in capi, len(capi), name(capi["c_clear_background"]).decode())
        """,
    )
    assert res.returncode == 0, res.stderr
    assert res.stdout.strip() == "False 8 void (long)"


def test_break_vtables_and_not_a_type():
    res = run_broken(
        "no-vtable:LmRect,vtable-not-capsule:LmShader,not-a-type:LmVector2",
        """
        from lumo_ui.fast.lmvector2.lmvector2 import LmVector2
        from lumo_ui.fast.lmrect.lmrect import LmRect
        from lumo_ui.fast.lmshader.lmshader import LmShader
        print(isinstance(LmVector2, type), "__pyx_vtable__" in LmRect.__dict__,
              type(LmShader.__dict__["__pyx_vtable__"]).__name__)
        """,
    )
    assert res.returncode == 0, res.stderr
    assert res.stdout.split() == ["False", "False", "int"]


def test_break_modules_and_color():
    res = run_broken(
        "raise-on-import:lumo_ui.core.modules,"
        "missing-name:lumo_ui.core.annotations.Annotations,color-white-list,"
        "getattr-raises:lumo_ui.core.state.lumo_state",
        """
        import lumo_ui.core.annotations as ann
        import lumo_ui.core.state as state
        from lumo_ui.presentation.color import Color
        for attempt in (lambda: __import__("lumo_ui.core.modules"), lambda: state.lumo_state):
            try:
                attempt()
            except RuntimeError as exc:
                print(exc)
        print(hasattr(ann, "Annotations"), hasattr(state, "other"), Color.White)
        """,
    )
    assert res.returncode == 0, res.stderr
    assert res.stdout.splitlines() == [
        "stand-in import failure: lumo_ui.core.modules",
        "stand-in attribute failure: lumo_ui.core.state.lumo_state",
        "False False [255, 255, 255, 255]",
    ]


@pytest.mark.parametrize(
    "tokens", ["size-smaler:LmRect", "no-vtable:LmPoint", "color-white-list:x", "size-smaller:LmRect,size-larger:LmRect"]
)
def test_bad_break_tokens_are_refused(tokens):
    res = run_broken(tokens, "import lumo_ui.presentation.color")
    assert res.returncode != 0
    assert "ValueError: LUMO_STANDIN_BREAK" in res.stderr
