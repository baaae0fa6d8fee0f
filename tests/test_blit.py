"""Blits of render textures and of plain textures, seen through the
back-end's call log."""

import collections
import re

import pytest
from conftest import break_collaborator, entries, fail_at_call, references_kept

import lumo_standin as standin
from lumo_ui.fast.lmrect.lmrect import LmRect
from lumo_ui.fast.lmrendertex import lm_render_tex
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2
from lumo_ui.presentation.color import Color

TYPE_NAME = "lumo_ui.fast.lmrendertex.lm_render_tex.LmRenderTexture"
WHITE = Color.White
RED = (255, 0, 0, 255)
Point = collections.namedtuple("Point", "x y")


def bracket(target, draw, mode=0):
    return [
        ("begin_blend_mode", mode),
        ("begin_texture_mode", target.render_texture),
        draw,
        ("end_texture_mode",),
        ("end_blend_mode",),
    ]


# ---- blit and fast_blit ----------------------------------------------------


def test_blit_at_position_with_defaults(target, source, log):
    assert target.blit(source, (10, 20)) is None
    texture = source.render_texture.texture
    assert log == bracket(target, ("c_draw_texture_vec", texture, (10, 20), WHITE, 1))
    assert log[2][3] is WHITE


@pytest.mark.parametrize("flip, height", [(False, 8.0), (True, -8.0)])
def test_blit_into_rect_covers_whole_source(target, source, log, flip, height):
    dest = (0, 0, 64, 32)
    target.blit(source, dest, 3, flip, RED)
    draw = ("c_draw_texture_rec", source.render_texture.texture, (0, 0, 16.0, height), dest, RED)
    assert log == bracket(target, draw, mode=3)
    assert log[2][3] is dest


def test_fast_blit_only_draws(target, source, log):
    target.loaded = False  # not tested by fast_blit
    assert target.fast_blit(source, (1, 2, 3, 4), flip=False, color=None) is None
    assert log == [("c_draw_texture_rec", source.render_texture.texture, (0, 0, 16.0, 8.0), (1, 2, 3, 4), None)]


def test_source_size_is_read_through_properties(target, log):
    class Sized(LmRenderTexture):
        width = property(lambda self: 5)
        height = property(lambda self: 7)

    sized = Sized(LmVector2(16.0, 8.0))
    log.clear()
    target.fast_blit(sized, (0, 0, 1, 1))
    assert log[0][2] == (0, 0, 5, -7)


def test_a_source_rectangle_the_back_end_keeps_stays_as_it_was_given(target, source, log):
    other = LmRenderTexture(LmVector2(3.0, 5.0))
    for drawn in (source, other, source):
        target.fast_blit(drawn, (0, 0, 1, 1))
    kept = [call[2] for call in log if call[0] == "c_draw_texture_rec"]
    assert kept == [(0, 0, 16.0, -8.0), (0, 0, 3.0, -5.0), (0, 0, 16.0, -8.0)]


class Width:
    """A width whose release is seen, and draws into a rectangle itself."""

    released = []

    def __init__(self, target, source):
        self.target, self.source = target, source

    def __del__(self):
        self.target.fast_blit(self.source, (0, 0, 1, 1))
        Width.released.append(self)


def test_a_rect_draw_keeps_no_size_alive_and_may_run_one_as_it_lets_go(target, source):
    """With nothing logged, the source rectangle is used again; the sizes it
    carried go when the draw ends, and the draw their release makes needs a
    rectangle while the first one is being emptied."""
    sized = type("Sized", (LmRenderTexture,), {"width": property(lambda self: Width(target, source))})(
        LmVector2(16.0, 8.0))
    Width.released.clear()
    with standin.quiet():
        for _ in range(3):
            target.fast_blit(sized, (0, 0, 1, 1))
            assert len(Width.released) == 1
            Width.released.clear()
    target.fast_blit(source, (0, 0, 1, 1))
    assert standin.calls[-1][2] == (0, 0, 16.0, -8.0)


@pytest.mark.parametrize("method", ["blit", "fast_blit"])
@pytest.mark.parametrize("dest", [(), (1,), (1, 2, 3), (1, 2, 3, 4, 5)])
def test_bad_dest_length(target, source, log, method, dest):
    message = "^" + re.escape(f"Invalid dest argument - {dest}, must be (x, y) or (x, y, width, height)") + "$"
    with pytest.raises(ValueError, match=message) as excinfo:
        getattr(target, method)(source, dest)
    expected = ["begin_blend_mode", "begin_texture_mode"] if method == "blit" else []
    assert standin.names() == expected
    assert entries(excinfo) == [method, "c_fast_blit"]


@pytest.mark.parametrize("method", ["blit", "fast_blit"])
@pytest.mark.parametrize(
    "args, name, expected, got",
    [
        (("S", [1, 2]), "dest", "tuple", "list"),
        (("S", Point(1, 2)), "dest", "tuple", "Point"),
        ((object(), (1, 2)), "lm_texture", TYPE_NAME, "object"),
        (("S", (1, 2), True, [1, 2, 3, 4]), "color", "tuple", "list"),
    ],
)
def test_wrong_argument_types_draw_nothing(target, source, log, method, args, name, expected, got):
    args = tuple(source if a == "S" else a for a in args)
    if method == "blit" and len(args) == 4:
        args = args[:2] + (0,) + args[2:]
    message = rf"^Argument '{name}' has incorrect type \(expected {expected}, got {got}\)$"
    with pytest.raises(TypeError, match=message):
        getattr(target, method)(*args)
    assert log == []


@pytest.mark.parametrize("name", ["lm_texture", "dest"])
def test_blit_refuses_none_source_and_dest(target, source, log, name):
    kwargs = {"lm_texture": source, "dest": (1, 2), name: None}
    expected = TYPE_NAME if name == "lm_texture" else "tuple"
    message = rf"^Argument '{name}' has incorrect type \(expected {expected}, got NoneType\)$"
    with pytest.raises(TypeError, match=message):
        target.blit(**kwargs)
    assert log == []


def test_fast_blit_none_source_fails_reading_height(target, log):
    with pytest.raises(AttributeError, match="height"):
        target.fast_blit(None, (1, 2))
    assert log == []


def test_fast_blit_none_dest_has_no_len(target, source, log):
    with pytest.raises(TypeError, match=r"^object of type 'NoneType' has no len\(\)$"):
        target.fast_blit(source, None)
    assert log == []


@pytest.mark.parametrize("flip, flag", [(None, 0), (0, 0), ("", 0), ([0], 1), (2, 1)])
def test_flip_truth(target, source, log, flip, flag):
    target.blit(source, (0, 0), 0, flip)
    target.fast_blit(source, (0, 0), flip)
    draws = [entry for entry in log if entry[0] == "c_draw_texture_vec"]
    assert [entry[4] for entry in draws] == [flag, flag]


@pytest.mark.parametrize(
    "blend_mode, outcome",
    [
        (2**31, OverflowError),
        (-(2**31) - 1, OverflowError),
        ("1", TypeError),
        (1.9, 1),
        (True, 1),
        (-(2**31), -(2**31)),
    ],
)
def test_blend_mode_conversion(target, source, log, blend_mode, outcome):
    if isinstance(outcome, type):
        with pytest.raises(outcome):
            target.blit(source, (0, 0), blend_mode)
        assert log == []
    else:
        target.blit(source, (0, 0), blend_mode)
        assert log[0] == ("begin_blend_mode", outcome)


def test_checks_run_in_declared_order(target, log):
    # blend_mode, flip, then the types: the first bad one is reported.
    with pytest.raises(OverflowError):
        target.blit(None, None, 2**40, None, [])
    with pytest.raises(TypeError, match="lm_texture"):
        target.blit(None, None, 0, True, [])
    with pytest.raises(TypeError, match="dest"):
        target.lmblit(target, None, 0, True, ())


@pytest.mark.parametrize(
    "method, args, message",
    [
        ("blit", (), r"blit\(\) takes at least 2 positional arguments \(0 given\)"),
        ("blit", (1, 2, 3, 4, 5, 6), r"blit\(\) takes at most 5 positional arguments \(6 given\)"),
        ("lmblit", (1,), r"lmblit\(\) takes at least 2 positional arguments \(1 given\)"),
        ("fast_blit", (1, 2, 3, 4, 5), r"fast_blit\(\) takes at most 4 positional arguments \(5 given\)"),
        ("blit_texture", (1,), r"blit_texture\(\) takes at least 2 positional arguments \(1 given\)"),
        ("fast_blit_texture", (1, 2, 3, 4, 5), r"fast_blit_texture\(\) takes at most 4 positional arguments \(5 given\)"),
    ],
)
def test_argument_counts(target, log, method, args, message):
    with pytest.raises(TypeError, match=f"^{message}$"):
        getattr(target, method)(*args)
    assert log == []


def fresh(name):
    """`name` as a string equal to the interned one but a different object."""
    return "".join(list(name))


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((), {"lm_texture": None, "dest": (1, 2), "flip": False, "color": RED}),
        ((None,), {"color": RED, "dest": (1, 2), "flip": False}),
        ((None, (1, 2)), {fresh("flip"): False, fresh("color"): RED}),
        ((None, (1, 2)), {"flip": False, fresh("color"): RED}),
    ],
)
def test_keywords_bind_in_any_order_and_spelling(target, source, log, args, kwargs):
    args = tuple(source if a is None else a for a in args)
    kwargs = {k: source if v is None else v for k, v in kwargs.items()}
    target.fast_blit(*args, **kwargs)
    assert log == [("c_draw_texture_vec", source.render_texture.texture, (1, 2), RED, 0)]


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((1,), {"flip": 0}, r"fast_blit\(\) takes at least 2 positional arguments \(1 given\)"),
        ((1, 2), {"dest": 0}, r"fast_blit\(\) got multiple values for keyword argument 'dest'"),
        ((1, 2), {fresh("lm_texture"): 0}, r"fast_blit\(\) got multiple values for keyword argument 'lm_texture'"),
        ((1, 2), {"flip": 0, "colour": 0}, r"fast_blit\(\) got an unexpected keyword argument 'colour'"),
        ((1, 2, 3, 4), {"flip": 0}, r"fast_blit\(\) got multiple values for keyword argument 'flip'"),
        ((1, 2, 3, 4, 5), {"flip": 0}, r"fast_blit\(\) takes at most 4 positional arguments \(5 given\)"),
    ],
)
def test_keyword_errors(target, log, args, kwargs, message):
    with pytest.raises(TypeError, match=f"^{message}$"):
        target.fast_blit(*args, **kwargs)
    assert log == []


@pytest.mark.parametrize("method", ["blit", "lmblit", "blit_texture"])
def test_bracketed_forms_assert_loaded(target, source, log, method):
    target.loaded = False
    dest = LmVector2(1.0, 2.0) if method == "lmblit" else (1, 2)
    with pytest.raises(AssertionError, match="^Render texture not loaded$"):
        getattr(target, method)(source, dest)
    assert log == []


@pytest.mark.parametrize(
    "failing, expected_log, expected_entries",
    [
        ("begin_blend_mode", ["begin_blend_mode"], ["blit"]),
        ("begin_texture_mode", ["begin_blend_mode", "begin_texture_mode"], ["blit"]),
        ("c_draw_texture_vec", ["begin_blend_mode", "begin_texture_mode", "c_draw_texture_vec"], ["blit", "c_fast_blit"]),
        (
            "end_texture_mode",
            ["begin_blend_mode", "begin_texture_mode", "c_draw_texture_vec", "end_texture_mode"],
            ["blit"],
        ),
        (
            "end_blend_mode",
            ["begin_blend_mode", "begin_texture_mode", "c_draw_texture_vec", "end_texture_mode", "end_blend_mode"],
            ["blit"],
        ),
    ],
)
def test_blit_stops_at_failing_call(target, source, log, failing, expected_log, expected_entries):
    dest, color = tuple([1, 2]), tuple([1, 2, 3, 4])
    with references_kept(dest, color, source):
        outcome = fail_at_call(failing, lambda: target.blit(source, dest, 0, True, color))
        assert outcome == (expected_log, expected_entries)


@pytest.mark.parametrize("failing", ["texture", "width"])
def test_rect_draw_fails_cleanly_on_attribute_error(target, log, failing):
    class Broken(LmRenderTexture):
        width = property(lambda self: 1 / 0 if failing == "width" else 4)

    broken = Broken(LmVector2(4.0, 4.0))
    if failing == "texture":
        broken.render_texture = object()
        expected = AttributeError
    else:
        expected = ZeroDivisionError
    log.clear()
    dest = tuple([1, 2, 3, 4])
    with references_kept(dest):
        with pytest.raises(expected):
            target.fast_blit(broken, dest)
        assert log == []


@pytest.mark.parametrize("dest, flip", [((1, 2), 1), ((1, 2), 0), ((1, 2, 3, 4), 5)])
def test_native_fast_blit(client, target, source, log, dest, flip):
    client.c_fast_blit(target, source, dest, flip, None)
    texture = source.render_texture.texture
    if len(dest) == 2:
        assert log == [("c_draw_texture_vec", texture, dest, None, flip)]
    else:
        assert log == [("c_draw_texture_rec", texture, (0, 0, 16.0, -8.0), dest, None)]


@pytest.mark.parametrize(
    "dest, error, message",
    [(None, TypeError, r"^object of type 'NoneType' has no len\(\)$"), (5, TypeError, r"^object of type 'int' has no len\(\)$")],
)
def test_native_fast_blit_unsized_dest(client, target, source, log, dest, error, message):
    with pytest.raises(error, match=message) as excinfo:
        client.c_fast_blit(target, source, dest, 1, None)
    assert log == []
    assert entries(excinfo) == ["c_fast_blit"]


def test_native_lmblit_ignores_blend_mode(client, target, source, log):
    dest = LmVector2(1.0, 2.0)
    client.c_fast_lmblit(target, source, dest, 7, 0, None)
    assert log == [("c_draw_lmtexture_lmvec", source, dest, None, 0)]


# ---- lmblit ----------------------------------------------------------------


def test_lmblit_hands_objects_to_the_back_end(target, source, log):
    dest = LmVector2(3.0, 4.0)
    assert target.lmblit(source, dest, 1) is None
    assert log == bracket(target, ("c_draw_lmtexture_lmvec", source, dest, log[2][3], 1), mode=1)
    tint = log[2][3]
    assert type(tint) is LmRect
    assert (tint.x, tint.y, tint.w, tint.h) == (255.0, 255.0, 255.0, 0.0)
    target.lmblit(source, dest, color=None, flip=False)
    assert log[-3] == ("c_draw_lmtexture_lmvec", source, dest, None, 0)
    target.lmblit(source, dest)
    assert log[-3][3] is tint


def test_lmblit_accepts_subclasses(target, source, log):
    class Vec(LmVector2):
        pass

    class Rect(LmRect):
        pass

    dest, color = Vec(1.0, 1.0), Rect(1.0, 2.0, 3.0, 4.0)
    target.lmblit(source, dest, 0, True, color)
    assert log[2] == ("c_draw_lmtexture_lmvec", source, dest, color, 1)


@pytest.mark.parametrize(
    "dest, color, name",
    [((1.0, 2.0), None, "dest"), ("V", (255, 255, 255, 255), "color")],
)
def test_lmblit_refuses_tuples(target, source, log, dest, color, name):
    dest = LmVector2(1.0, 2.0) if dest == "V" else dest
    with pytest.raises(TypeError, match=rf"^Argument '{name}' has incorrect type \(expected .*, got tuple\)$"):
        target.lmblit(source, dest, 0, True, color)
    assert log == []


def test_lmblit_draw_failure(target, source, log):
    outcome = fail_at_call("c_draw_lmtexture_lmvec", lambda: target.lmblit(source, LmVector2(0.0, 0.0)))
    assert outcome == (["begin_blend_mode", "begin_texture_mode", "c_draw_lmtexture_lmvec"],
                       ["lmblit", "c_fast_lmblit"])


# ---- blit_texture and fast_blit_texture ------------------------------------


def test_blit_texture_brackets_the_display_draw(target, log):
    texture = object()
    assert target.blit_texture(texture, (3, 4)) is None
    assert log == bracket(target, ("fast_blit_pro", texture, (3, 4), True, WHITE))


@pytest.mark.parametrize("failing", ["begin_blend_mode", "begin_texture_mode", "fast_blit_pro",
                                     "end_texture_mode", "end_blend_mode"])
def test_blit_texture_stops_at_the_failing_call(target, log, failing):
    texture = object()
    standin.fail_at(failing, OSError(failing))
    with pytest.raises(OSError, match=failing) as excinfo:
        target.blit_texture(texture, (3, 4), color=None)
    full = bracket(target, ("fast_blit_pro", texture, (3, 4), True, None))
    assert log == full[: [entry[0] for entry in full].index(failing) + 1]
    assert entries(excinfo)[0] == "blit_texture"


def test_blit_hands_a_none_colour_through(target, source, log):
    target.blit(source, (1, 2), color=None)
    assert log == bracket(target, ("c_draw_texture_vec", source.texture, (1, 2), None, 1))


def test_fast_blit_texture_only_draws(target, log):
    target.loaded = False  # not tested
    assert target.fast_blit_texture(None, (), 0, None) is None
    assert log == [("fast_blit_pro", None, (), False, None)]


@pytest.mark.parametrize("flip, passed", [(1, True), (0, False), (None, False), ("", False), ("x", True)])
@pytest.mark.parametrize("method", ["blit_texture", "fast_blit_texture"])
def test_texture_flip_becomes_bool(target, log, method, flip, passed):
    getattr(target, method)("tex", None, flip=flip)
    assert [entry for entry in log if entry[0] == "fast_blit_pro"] == [("fast_blit_pro", "tex", None, passed, WHITE)]


@pytest.mark.parametrize("method, expected_log", [("blit_texture", ["begin_blend_mode", "begin_texture_mode"]), ("fast_blit_texture", [])])
def test_texture_dest_must_be_tuple(target, log, method, expected_log):
    with pytest.raises(TypeError, match="^Expected tuple, got list$") as excinfo:
        getattr(target, method)("tex", [3, 4])
    assert standin.names() == expected_log
    assert entries(excinfo) == [method]


@pytest.mark.parametrize("method", ["blit_texture", "fast_blit_texture"])
def test_texture_colour_must_be_tuple(target, log, method):
    with pytest.raises(TypeError, match=r"^Argument 'color' has incorrect type \(expected tuple, got list\)$"):
        getattr(target, method)("tex", (1, 2), color=[1, 2, 3, 4])
    assert log == []


def test_display_chain_is_read_at_each_call(target, log, monkeypatch):
    drawn = []

    class Display:
        def fast_blit_pro(self, *args):
            drawn.append(args)
            return "ignored"

    class Window:
        display = Display()

    class State:
        window = Window()

    target.fast_blit_texture("a", (1, 2))
    monkeypatch.setattr(lm_render_tex, "lumo_state", State())
    target.fast_blit_texture("b", (1, 2))
    assert drawn == [("b", (1, 2), True, WHITE)]
    assert standin.names() == ["fast_blit_pro"]


@pytest.mark.parametrize(
    "breakage, error, message",
    [
        ("no lumo_state", NameError, "^name 'lumo_state' is not defined$"),
        ("lumo_state without window", AttributeError, "window"),
        ("display raises", KeyError, "draw"),
    ],
)
def test_display_failures(target, log, monkeypatch, breakage, error, message):
    break_collaborator(monkeypatch, breakage, KeyError("draw"))
    texture, dest = object(), tuple([1, 2])
    with references_kept(texture, dest):
        with pytest.raises(error, match=message) as excinfo:
            target.blit_texture(texture, dest)
        assert standin.names() == ["begin_blend_mode", "begin_texture_mode"]
        assert entries(excinfo)[:2] == ["blit_texture", "c_fast_blit_texture"]
        del excinfo
