"""The drawing scope, clear and fill, and copy, seen through the back-end's
call log."""

import collections

import pytest
from conftest import entries, fail_at_call, references_kept, run_python

import lumo_standin as standin
from lumo_ui.fast.lmrendertex import lm_render_tex
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2
from lumo_ui.presentation.color import Color

RED = (255, 0, 0, 255)
CLEAR_METHODS = ["clear", "fast_clear", "fill"]


class Sub(LmRenderTexture):
    pass


# ---- drawing scope ---------------------------------------------------------


def test_scope_binds_target_and_brackets_body(target, log):
    with target as bound:
        assert bound is target
        assert log == [("begin_texture_mode", target.render_texture)]
    assert log == [("begin_texture_mode", target.render_texture), ("end_texture_mode",)]


def test_scope_ends_once_and_reraises_body_error(target, log):
    error = KeyError("body")
    with pytest.raises(KeyError) as excinfo:
        with target:
            raise error
    assert excinfo.value is error
    assert standin.names() == ["begin_texture_mode", "end_texture_mode"]


@pytest.mark.parametrize("assertions_hit", ["enter", "clear", "fast_clear", "fill", "copy"])
def test_unloaded_target_asserts_before_any_call(target, log, assertions_hit):
    target.loaded = False
    actions = {
        "enter": lambda: target.__enter__(),
        "clear": lambda: target.clear(RED),
        "fast_clear": lambda: target.fast_clear(RED),
        "fill": lambda: target.fill(RED),
        "copy": lambda: target.copy(),
    }
    with pytest.raises(AssertionError, match="^Render texture not loaded$"):
        actions[assertions_hit]()
    assert log == []


def test_exit_without_enter_ends_texture_mode(target, log):
    assert target.__exit__(None, None, None) is None
    assert target.__exit__(None, None, exc_tb=None) is None
    assert standin.names() == ["end_texture_mode", "end_texture_mode"]


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda t: t.__enter__(1), r"__enter__\(\) takes exactly 0 positional arguments \(1 given\)"),
        (lambda t: t.__enter__(x=1), r"__enter__\(\) got an unexpected keyword argument 'x'"),
        (lambda t: t.__exit__(), r"__exit__\(\) takes exactly 3 positional arguments \(0 given\)"),
        (lambda t: t.__exit__(1, 2, 3, 4), r"__exit__\(\) takes exactly 3 positional arguments \(4 given\)"),
        (lambda t: t.__exit__(1, 2, 3, tb=3), r"__exit__\(\) got an unexpected keyword argument 'tb'"),
        (lambda t: t.__exit__(1, 2, 3, exc_val=3), r"__exit__\(\) got multiple values for keyword argument 'exc_val'"),
    ],
)
def test_scope_argument_errors_make_no_call(target, log, call, message):
    with pytest.raises(TypeError, match=f"^{message}$"):
        call(target)
    assert log == []


def test_failed_enter_skips_body_and_exit(target, log):
    standin.fail_at("begin_texture_mode", RuntimeError("no target"))
    ran = []
    with pytest.raises(RuntimeError, match="no target") as excinfo:
        with target:
            ran.append(True)
    assert ran == []
    assert standin.names() == ["begin_texture_mode"]
    assert entries(excinfo) == ["__enter__"]


def test_failed_exit_replaces_body_error(target, log):
    standin.fail_at("end_texture_mode", RuntimeError("end failed"))
    with pytest.raises(RuntimeError, match="end failed") as excinfo:
        with target:
            raise KeyError("body")
    assert isinstance(excinfo.value.__context__, KeyError)
    assert entries(excinfo) == ["__exit__"]


# ---- clear and fill --------------------------------------------------------


@pytest.mark.parametrize("method", ["clear", "fill"])
@pytest.mark.parametrize("color", [RED, None, ()])
def test_clear_brackets_the_clear(target, log, method, color):
    assert getattr(target, method)(color) is None
    assert log == [
        ("begin_texture_mode", target.render_texture),
        ("c_clear_background", color),
        ("end_texture_mode",),
    ]
    assert log[1][1] is color


def test_fast_clear_only_clears(target, log):
    assert target.fast_clear(color=RED) is None
    assert log == [("c_clear_background", RED)]
    assert log[0][1] is RED


@pytest.mark.parametrize("method", CLEAR_METHODS)
@pytest.mark.parametrize(
    "color, type_name",
    [
        ([255, 0, 0, 255], "list"),
        (collections.namedtuple("Rgba", "r g b a")(1, 2, 3, 4), "Rgba"),
        (0, "int"),
    ],
)
def test_clear_refuses_non_tuple_colour(target, log, method, color, type_name):
    message = rf"^Argument 'color' has incorrect type \(expected tuple, got {type_name}\)$"
    with pytest.raises(TypeError, match=message) as excinfo:
        getattr(target, method)(color)
    assert log == []
    assert entries(excinfo) == [method]


@pytest.mark.parametrize("method", CLEAR_METHODS)
@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, r"{}\(\) takes exactly 1 positional argument \(0 given\)"),
        ((RED, RED), {}, r"{}\(\) takes exactly 1 positional argument \(2 given\)"),
        ((RED,), {"colour": RED}, r"{}\(\) got an unexpected keyword argument 'colour'"),
        ((RED,), {"color": RED}, r"{}\(\) got multiple values for keyword argument 'color'"),
    ],
)
def test_clear_argument_errors(target, log, method, args, kwargs, message):
    with pytest.raises(TypeError, match="^" + message.format(method) + "$"):
        getattr(target, method)(*args, **kwargs)
    assert log == []


@pytest.mark.parametrize(
    "method, failing, expected_log, expected_entries",
    [
        ("clear", "begin_texture_mode", ["begin_texture_mode"], ["clear", "clear", "c_clear"]),
        (
            "fill",
            "c_clear_background",
            ["begin_texture_mode", "c_clear_background"],
            ["fill", "fill", "c_clear", "c_fast_clear"],
        ),
        (
            "clear",
            "end_texture_mode",
            ["begin_texture_mode", "c_clear_background", "end_texture_mode"],
            ["clear", "clear", "c_clear"],
        ),
        ("fast_clear", "c_clear_background", ["c_clear_background"], ["fast_clear", "fast_clear", "c_fast_clear"]),
    ],
)
def test_clear_stops_at_failing_call(target, log, method, failing, expected_log, expected_entries):
    color = tuple([9, 9, 9, 9])
    with references_kept(color):
        outcome = fail_at_call(failing, lambda: getattr(target, method)(color))
        assert outcome == (expected_log, expected_entries)


def test_python_override_may_call_base_without_recursion(log):
    seen = []

    class Recording(LmRenderTexture):
        def clear(self, color):
            seen.append(color)
            super().clear(color)

    target = Recording(LmVector2(8.0, 8.0))
    log.clear()
    target.clear(RED)
    assert seen == [RED]
    assert standin.names() == ["begin_texture_mode", "c_clear_background", "end_texture_mode"]
    # Reached through the type, the base method runs its own body.
    log.clear()
    LmRenderTexture.clear(target, RED)
    assert seen == [RED]
    assert standin.names() == ["begin_texture_mode", "c_clear_background", "end_texture_mode"]


# ---- native entries and override dispatch --------------------------------


class OverridesClear(LmRenderTexture):
    def clear(self, color):
        self.seen.append(color)
        return "ignored"


@pytest.fixture
def overriding(log):
    made = OverridesClear(LmVector2(8.0, 8.0))
    made.seen = []
    log.clear()
    return made


BRACKETED_CLEAR = ["begin_texture_mode", "c_clear_background", "end_texture_mode"]


@pytest.mark.parametrize(
    "entry, skip_dispatch, overridden, expected_log",
    [
        ("clear", 0, True, []),
        ("clear", 1, False, BRACKETED_CLEAR),
        ("fill", 0, False, BRACKETED_CLEAR),  # only its own name is looked up
        ("fast_clear", 0, False, ["c_clear_background"]),
    ],
)
def test_native_dispatch_reaches_python_override(client, overriding, log, entry, skip_dispatch, overridden, expected_log):
    assert getattr(client, entry)(overriding, RED, skip_dispatch) is None
    assert overriding.seen == ([RED] if overridden else [])
    assert standin.names() == expected_log


def test_instance_attribute_overrides_too(client, log):
    target = Sub(LmVector2(8.0, 8.0))
    seen = []
    target.fast_clear = seen.append
    log.clear()
    client.fast_clear(target, RED, 0)
    assert seen == [RED]
    assert log == []


def test_base_method_through_type_runs_base_body(overriding, log):
    LmRenderTexture.clear(overriding, RED)
    assert overriding.seen == []
    assert standin.names() == BRACKETED_CLEAR


def test_raising_override_propagates(client, log):
    class Raising(LmRenderTexture):
        def fill(self, color):
            raise KeyError(color)

    target = Raising(LmVector2(8.0, 8.0))
    log.clear()
    with pytest.raises(KeyError) as excinfo:
        client.fill(target, RED, 0)
    assert entries(excinfo) == ["fill"]
    assert log == []


@pytest.mark.parametrize("entry, expected_log", [("c_clear", BRACKETED_CLEAR), ("c_fast_clear", ["c_clear_background"])])
def test_inner_entries_skip_loaded_check(client, target, log, entry, expected_log):
    target.loaded = False
    getattr(client, entry)(target, None)
    assert standin.names() == expected_log
    assert log[expected_log.index("c_clear_background")] == ("c_clear_background", None)


@pytest.mark.parametrize("entry", CLEAR_METHODS)
@pytest.mark.parametrize("skip_dispatch", [0, 1])
def test_dispatching_entries_check_loaded(client, target, log, entry, skip_dispatch):
    target.loaded = False
    with pytest.raises(AssertionError, match="^Render texture not loaded$") as excinfo:
        getattr(client, entry)(target, RED, skip_dispatch)
    assert log == []
    assert entries(excinfo) == [entry]


# Native entries called from C find a failing back-end call on their own and
# add their entries, innermost last.
@pytest.mark.parametrize(
    "entry, args, failing, expected_entries",
    [
        ("c_fast_clear", (RED,), "c_clear_background", ["c_fast_clear"]),
        ("c_clear", (RED,), "c_clear_background", ["c_clear", "c_fast_clear"]),
        ("c_clear", (RED,), "end_texture_mode", ["c_clear"]),
        ("fast_clear", (RED, 1), "c_clear_background", ["fast_clear", "c_fast_clear"]),
        ("clear", (RED, 0), "begin_texture_mode", ["clear", "c_clear"]),
        ("fill", (RED, 1), "end_texture_mode", ["fill", "c_clear"]),
        ("c_fast_blit", ("SRC", (1, 2), 1, None), "c_draw_texture_vec", ["c_fast_blit"]),
        ("c_fast_lmblit", ("SRC", "VEC", 0, 1, None), "c_draw_lmtexture_lmvec", ["c_fast_lmblit"]),
    ],
)
def test_native_entries_report_a_failing_back_end_call(client, target, source, log, entry, args,
                                                        failing, expected_entries):
    stand_ins = {"SRC": source, "VEC": LmVector2(1.0, 2.0)}
    args = [stand_ins.get(arg, arg) if isinstance(arg, str) else arg for arg in args]
    names, traceback_entries = fail_at_call(failing, lambda: getattr(client, entry)(target, *args))
    assert names[-1] == failing and traceback_entries == expected_entries


# ---- copy ------------------------------------------------------------------


def test_copy_without_md_fails_before_drawing(target, log, monkeypatch):
    monkeypatch.delattr(lm_render_tex, "md")
    with pytest.raises(NameError, match="^name 'md' is not defined$") as excinfo:
        target.copy()
    assert entries(excinfo) == ["copy", "__init__"]
    assert log == []


@pytest.mark.parametrize("method", ["clear", "fill"])
def test_clear_takes_its_colour_by_keyword(target, log, method):
    getattr(target, method)(color=(1, 2, 3, 4))
    assert log == [("begin_texture_mode", target.render_texture),
                   ("c_clear_background", (1, 2, 3, 4)), ("end_texture_mode",)]


def test_copy_draws_source_into_new_target(target, log):
    duplicate = target.copy()
    assert type(duplicate) is LmRenderTexture
    assert duplicate is not target
    assert duplicate.size is target.size
    assert duplicate.loaded
    assert log == [
        ("load_render_texture", 64, 32),
        ("begin_texture_mode", duplicate.render_texture),
        ("c_clear_background", (0, 0, 0, 0)),
        ("begin_blend_mode", int(standin.rl.BlendMode.BLEND_ALPHA)),
        ("c_draw_texture_vec", target.render_texture.texture, (0, 0), Color.White, 1),
        ("end_blend_mode",),
        ("end_texture_mode",),
    ]


@pytest.mark.parametrize(
    "args, kwargs, flip", [((), {}, 1), ((False,), {}, 0), ((), {"flip": 1}, 1), ((None,), {}, 0), (([],), {}, 0)]
)
def test_copy_hands_flip_to_the_draw(target, log, args, kwargs, flip):
    target.copy(*args, **kwargs)
    draws = [entry for entry in log if entry[0] == "c_draw_texture_vec"]
    assert draws == [("c_draw_texture_vec", target.render_texture.texture, (0, 0), Color.White, flip)]


def test_copy_of_subclass_instance_is_exact(log):
    source = Sub(LmVector2(4.0, 4.0))
    assert type(source.copy()) is LmRenderTexture


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((True, True), {}, r"copy\(\) takes at most 1 positional argument \(2 given\)"),
        ((), {"flipped": True}, r"copy\(\) got an unexpected keyword argument 'flipped'"),
    ],
)
def test_copy_argument_errors(target, log, args, kwargs, message):
    with pytest.raises(TypeError, match=f"^{message}$"):
        target.copy(*args, **kwargs)
    assert log == []


def test_copy_truth_error_stops_before_creation(target, log):
    class Untruthful:
        def __bool__(self):
            raise ZeroDivisionError("no truth")

    with pytest.raises(ZeroDivisionError) as excinfo:
        target.copy(Untruthful())
    assert log == []
    assert entries(excinfo) == ["copy"]


@pytest.mark.parametrize(
    "failing, expected_log",
    [
        ("c_clear_background", ["begin_texture_mode", "c_clear_background", "end_texture_mode"]),
        ("begin_blend_mode", ["begin_texture_mode", "c_clear_background", "begin_blend_mode", "end_texture_mode"]),
        (
            "c_draw_texture_vec",
            ["begin_texture_mode", "c_clear_background", "begin_blend_mode", "c_draw_texture_vec", "end_texture_mode"],
        ),
        (
            "end_blend_mode",
            [
                "begin_texture_mode",
                "c_clear_background",
                "begin_blend_mode",
                "c_draw_texture_vec",
                "end_blend_mode",
                "end_texture_mode",
            ],
        ),
    ],
)
def test_copy_failure_in_scope_leaves_scope_and_frees_target(target, log, failing, expected_log):
    error = RuntimeError("draw failed")
    standin.fail_at(failing, error)
    with pytest.raises(RuntimeError) as excinfo:
        target.copy()
    assert excinfo.value is error
    assert excinfo.value.__context__ is None
    new_handle = log[1][1]
    # The new target goes at once: its deallocation unloads it.
    assert standin.names()[1:] == expected_log + ["is_window_ready", "unload_render_texture"]
    assert log[-1] == ("unload_render_texture", new_handle)
    assert entries(excinfo)[0] == "copy"
    assert entries(excinfo).count("copy") == 1


def test_copy_exit_failure_after_body_failure_chains(target, log):
    draw_error = RuntimeError("draw failed")
    standin.fail_at("c_draw_texture_vec", draw_error)
    standin.fail_at("end_texture_mode", ValueError("end failed"))
    with pytest.raises(ValueError, match="end failed") as excinfo:
        target.copy()
    assert excinfo.value.__context__ is draw_error
    assert entries(excinfo) == ["copy", "__exit__"]


def test_copy_failed_enter_does_not_exit(target, log):
    standin.fail_at("begin_texture_mode", RuntimeError("no target"))
    with pytest.raises(RuntimeError):
        target.copy()
    assert "end_texture_mode" not in standin.names()


@pytest.mark.parametrize("alpha, error", [("alpha", TypeError), (2**31, OverflowError)])
def test_copy_blend_mode_conversion_fails_before_begin(target, log, monkeypatch, alpha, error):
    class Modes:
        BLEND_ALPHA = alpha

    monkeypatch.setattr(lm_render_tex.md.rl, "BlendMode", Modes)
    with pytest.raises(error):
        target.copy()
    assert "begin_blend_mode" not in standin.names()
    assert standin.names()[-3:] == ["end_texture_mode", "is_window_ready", "unload_render_texture"]


def test_optimised_interpreter_skips_loaded_checks():
    result = run_python(
        """
        import lumo_standin as standin
        from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
        from lumo_ui.fast.lmvector2.lmvector2 import LmVector2
        t = LmRenderTexture(LmVector2(4.0, 4.0))
        source = LmRenderTexture(LmVector2(2.0, 2.0))
        t.loaded = False
        standin.reset()
        with t:
            t.fast_clear((1, 2, 3, 4))
        t.clear(None)
        t.blit(source, (0, 0))
        t.blit_texture(None, None)
        print(",".join(standin.names()))
        """,
        optimize=True,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip().split(",") == [
        *["begin_texture_mode", "c_clear_background", "end_texture_mode"] * 2,
        "begin_blend_mode", "begin_texture_mode", "c_draw_texture_vec", "end_texture_mode", "end_blend_mode",
        "begin_blend_mode", "begin_texture_mode", "fast_blit_pro", "end_texture_mode", "end_blend_mode",
    ]
