"""Each drawing operation of the render target, compared pixel for pixel
with the same draws made directly through the raylib binding."""

import copy
import gc
import os
import tempfile
from contextlib import nullcontext
from fractions import Fraction
from types import SimpleNamespace

import pyray as rl
import pytest
from conftest import in_texture_mode, on_worker, pixels, reference, reopen_window, shared
from raylib import ffi

import lumo_ui.core.modules as md
from lumo_ui.fast.lmrect.lmrect import LmRect
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2
from lumo_rlplatform.png import save_png

SIZE = (40, 24)
BACKDROP = (30, 60, 90, 255)
PAINT = (200, 40, 120, 255)
TINT = (200, 100, 50, 180)
WHITE = (255, 255, 255, 255)
SW, SH = 12, 8  # the source's size


def _source():
    made = LmRenderTexture(LmVector2(SW, SH))
    with made:
        made.fast_clear((250, 10, 10, 255))
        rl.draw_rectangle(0, 0, 4, 3, (10, 250, 10, 255))
        rl.draw_rectangle(6, 4, 6, 4, (20, 20, 240, 128))
    return made


def _plain():
    image = rl.gen_image_color(10, 6, (240, 200, 20, 255))
    rl.image_draw_rectangle(image, 0, 0, 3, 2, (20, 20, 20, 255))
    texture = rl.load_texture_from_image(image)
    rl.unload_image(image)
    return texture


@pytest.fixture
def source():
    """A render target with four unequal quadrants, one half transparent,
    so that position, scale, flips, tints and blends all show."""
    return shared(_source)


@pytest.fixture
def plain():
    """A plain texture (not a render target), upright and asymmetric."""
    return shared(_plain)


def rec(texture, w, h, flip, dest, tint=WHITE):
    """The binding's draw of the whole texture into dest (x, y[, w, h])."""
    source = (0, 0, w, -h if flip else h)
    if len(dest) == 2:
        return lambda: rl.draw_texture_rec(texture, source, dest, tint)
    return lambda: rl.draw_texture_pro(texture, source, dest, (0, 0), 0, tint)


# name: (what the render target does, what the binding does to the same effect)
# Each gets (target or handle, source, plain texture); every scene starts on BACKDROP.
SCENES = {
    "clear": (lambda t, s, p: t.clear(PAINT),
              lambda h, s, p: in_texture_mode(h, lambda: rl.clear_background(PAINT))),
    "fill": (lambda t, s, p: t.fill(PAINT),
             lambda h, s, p: in_texture_mode(h, lambda: rl.clear_background(PAINT))),
    "clear None is transparent": (
        lambda t, s, p: t.clear(None),
        lambda h, s, p: in_texture_mode(h, lambda: rl.clear_background((0, 0, 0, 0)))),
    "blit at a position": (
        lambda t, s, p: t.blit(s, (3, 5)),
        lambda h, s, p: in_texture_mode(h, rec(s.texture, SW, SH, True, (3, 5)), blend=0)),
    "blit at a position, no flip": (
        lambda t, s, p: t.blit(s, (3, 5), flip=False),
        lambda h, s, p: in_texture_mode(h, rec(s.texture, SW, SH, False, (3, 5)), blend=0)),
    "blit into a rectangle": (
        lambda t, s, p: t.blit(s, (2, 3, 30, 16)),
        lambda h, s, p: in_texture_mode(h, rec(s.texture, SW, SH, True, (2, 3, 30, 16)), blend=0)),
    "blit into a rectangle, no flip": (
        lambda t, s, p: t.blit(s, (2, 3, 30, 16), flip=False),
        lambda h, s, p: in_texture_mode(h, rec(s.texture, SW, SH, False, (2, 3, 30, 16)), blend=0)),
    "blit tinted": (
        lambda t, s, p: t.blit(s, (3, 5), color=TINT),
        lambda h, s, p: in_texture_mode(h, rec(s.texture, SW, SH, True, (3, 5), TINT), blend=0)),
    "blit tint None is untinted": (
        lambda t, s, p: t.blit(s, (3, 5), color=None),
        lambda h, s, p: in_texture_mode(h, rec(s.texture, SW, SH, True, (3, 5)), blend=0)),
    **{
        f"blit blend {mode.name}": (
            lambda t, s, p, mode=mode: t.blit(s, (3, 5), blend_mode=mode, color=TINT),
            lambda h, s, p, mode=mode: in_texture_mode(
                h, rec(s.texture, SW, SH, True, (3, 5), TINT), blend=mode))
        for mode in (rl.BlendMode.BLEND_ADDITIVE, rl.BlendMode.BLEND_MULTIPLIED,
                     rl.BlendMode.BLEND_ADD_COLORS, rl.BlendMode.BLEND_SUBTRACT_COLORS,
                     rl.BlendMode.BLEND_ALPHA_PREMULTIPLY)
    },
    "lmblit, default tint": (
        lambda t, s, p: t.lmblit(s, LmVector2(3, 5)),
        lambda h, s, p: in_texture_mode(h, rec(s.texture, SW, SH, True, (3, 5)), blend=0)),
    "lmblit, tint None is untinted": (
        lambda t, s, p: t.lmblit(s, LmVector2(3, 5), color=None),
        lambda h, s, p: in_texture_mode(h, rec(s.texture, SW, SH, True, (3, 5)), blend=0)),
    "lmblit, LmRect tint (r, g, b, transparency)": (
        lambda t, s, p: t.lmblit(s, LmVector2(3, 5), flip=False, color=LmRect(200, 100, 50, 75)),
        lambda h, s, p: in_texture_mode(h, rec(s.texture, SW, SH, False, (3, 5), TINT), blend=0)),
    "blit at numbers of other kinds (a Fraction, a bool)": (
        lambda t, s, p: t.blit(s, (Fraction(7, 2), True)),
        lambda h, s, p: in_texture_mode(h, rec(s.texture, SW, SH, True, (3.5, 1)), blend=0)),
    "blit_texture at a position and into a rectangle": (
        lambda t, s, p: (t.blit_texture(p, (1, 1), flip=False),
                         t.blit_texture(p, (14, 2, 20, 18), color=TINT)),
        lambda h, s, p: (in_texture_mode(h, rec(p, 10, 6, False, (1, 1)), blend=0),
                         in_texture_mode(h, rec(p, 10, 6, True, (14, 2, 20, 18), TINT), blend=0))),
    "fast_ forms inside a with scope": (
        lambda t, s, p: _fast_forms(t, s, p),
        lambda h, s, p: in_texture_mode(
            h, lambda: rl.clear_background(PAINT), rec(s.texture, SW, SH, True, (3, 5)),
            rec(s.texture, SW, SH, False, (20, 2, 6, 16), TINT), rec(p, 10, 6, False, (28, 14)))),
    # raylib queues draws until texture mode ends: what frees, reads, clears
    # or makes a render texture inside a block must not lose them.
    "source killed inside the with block that drew it": (
        lambda t, s, p: _drawn_then_given_back(t, lambda box: box[0].kill()),
        lambda h, s, p: in_texture_mode(h, rec(s.texture, SW, SH, True, (3, 5)))),
    "source dropped inside the with block that drew it": (
        lambda t, s, p: _drawn_then_given_back(t, list.clear),
        lambda h, s, p: in_texture_mode(h, rec(s.texture, SW, SH, True, (3, 5)))),
    "PNG saved inside its own with block": (
        lambda t, s, p: _saved_inside_its_block(t),
        lambda h, s, p: in_texture_mode(h, lambda: rl.draw_rectangle(3, 5, 8, 6, PAINT),
                                        lambda: rl.draw_rectangle(26, 10, 8, 6, PAINT))),
    "fast_clear after a fast_blit in a with block": (
        lambda t, s, p: _inside(t, lambda: (t.fast_blit(s, (3, 5)), t.fast_clear(PAINT),
                                            t.fast_blit(s, (20, 2)))),
        lambda h, s, p: in_texture_mode(h, lambda: rl.clear_background(PAINT),
                                        rec(s.texture, SW, SH, True, (20, 2)))),
    "target made inside a with block": (
        lambda t, s, p: _target_made_inside(t, s),
        lambda h, s, p: in_texture_mode(h, rec(s.texture, SW, SH, True, (3, 5)),
                                        rec(s.texture, SW, SH, True, (20, 2)))),
}


def _fast_forms(target, source, plain):
    with target:
        target.fast_clear(PAINT)
        target.fast_blit(source, (3, 5))
        target.fast_blit(source, (20, 2, 6, 16), flip=False, color=TINT)
        target.fast_blit_texture(plain, (28, 14), flip=False)


def _drawn_then_given_back(target, give_back):
    """A fresh source drawn in a with block, then given back there (its
    box emptied or its target killed) while the draw is still queued."""
    box = [_source()]
    with target:
        target.fast_blit(box[0], (3, 5))
        give_back(box)


def _saved_inside_its_block(target):
    """What the block drew before save_png must be in the file, what it
    drew after must be in the target: the file's left half, drawn back over
    the target's, holds the first rectangle, the right half the second."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "inside.png")
        with target:
            md.rl.draw_rectangle(3, 5, 8, 6, PAINT)
            save_png(target, path)
            md.rl.draw_rectangle(26, 10, 8, 6, PAINT)
        saved = md.rl.load_texture(path)
    with target:
        md.rl.draw_texture_rec(saved, (0, 0, 20, SIZE[1]), (0, 0), WHITE)
    md.rl.unload_texture(saved)


def _target_made_inside(target, source):
    """raylib binds the window's framebuffer when it makes a render texture."""
    with target:
        target.fast_blit(source, (3, 5))
        made = LmRenderTexture(LmVector2(4, 4))
        target.fast_blit(source, (20, 2))
    made.kill()


def backdrop(handle):
    in_texture_mode(handle, lambda: rl.clear_background(BACKDROP))


@pytest.mark.parametrize("scene", SCENES)
def test_scene_matches_the_binding(scene, source, plain):
    ours, theirs = SCENES[scene]
    target = LmRenderTexture(LmVector2(*SIZE))
    target.clear(BACKDROP)
    ours(target, source, plain)
    got = pixels(target.render_texture.texture)
    target.kill()
    want = reference(SIZE, lambda h: (backdrop(h), theirs(h, source.render_texture, plain)))
    assert got == want
    assert len(set(got)) > 2 or scene.startswith(("clear", "fill"))


def test_copy_matches_the_binding(source):
    made = source.copy()
    got = pixels(made.render_texture.texture)
    made.kill()

    def draw(handle):
        rl.begin_texture_mode(handle)
        rl.clear_background((0, 0, 0, 0))
        rl.begin_blend_mode(rl.BlendMode.BLEND_ALPHA)
        rec(source.render_texture.texture, SW, SH, True, (0, 0))()
        rl.end_blend_mode()
        rl.end_texture_mode()

    assert got == reference((SW, SH), draw)


def test_second_release_of_a_shared_handle_spares_a_later_target():
    first = LmRenderTexture(LmVector2(*SIZE))
    shared = copy.copy(first)
    first.kill()
    later = LmRenderTexture(LmVector2(*SIZE))  # may get the GL ids just freed
    later.fill(PAINT)
    want = pixels(later.render_texture.texture)
    del shared
    gc.collect()
    assert pixels(later.render_texture.texture) == want
    later.kill()


def _not_a_render_texture():
    return ffi.new("Texture *", {"id": 1, "width": 4, "height": 4})[0]


def _lookalike():
    """Has the attributes the render target reads, but no raylib struct."""
    return SimpleNamespace(id=1, depth=None, texture=SimpleNamespace(width=4, height=4, id=1))


def _killed():
    killed = LmRenderTexture(LmVector2(SW, SH))
    killed.kill()
    return killed


def _outlived_window():
    """A target (in a box, so a case can drop it) of a window that was
    closed. It was the first made in its window, as the next target made in
    the new one will be, so both get the same GL ids."""
    reopen_window()
    box = [LmRenderTexture(LmVector2(*SIZE))]
    reopen_window()
    return box


def _inside(target, draw):
    with target:
        draw()


# Bad input or a dead resource that reaches the platform: no crash and no
# draw, but the exception given (none: a quiet no-op).  Optional last items
# make what the case needs before its target is made, passed after the source.
BAD = {
    "colour of 3": (lambda t, s: t.fill((1, 2, 3)), ValueError, "4 components"),
    "colour of strings": (lambda t, s: t.blit(s, (0, 0), color=(1, 2, "3", 4)), TypeError, "integers"),
    "colour of floats": (lambda t, s: t.fill((1.0, 2, 3, 4)), TypeError, "integers"),
    "colour out of range": (lambda t, s: t.fill((1, 2, 3, 256)), ValueError, "0-255"),
    "colour below range": (lambda t, s: t.fill((-1, 2, 3, 4)), ValueError, "0-255"),
    "colour of a huge int": (lambda t, s: t.fill((1, 2, 3, 2**70)), ValueError, "0-255"),
    "LmRect tint out of range": (
        lambda t, s: t.lmblit(s, LmVector2(0, 0), color=LmRect(0, 0, 0, -1)), ValueError, "0-255"),
    "position of strings": (lambda t, s: t.blit(s, ("a", 0)), TypeError, "real number"),
    "texture that is not one": (lambda t, s: t.blit_texture(object(), (0, 0)), TypeError, "Texture"),
    "adopted look-alike handle as target": (
        lambda t, s: LmRenderTexture.from_rl_render_texture(_lookalike()).fill(PAINT),
        TypeError, "RenderTexture"),
    "adopted look-alike handle as source": (
        lambda t, s: t.blit(LmRenderTexture.from_rl_render_texture(_lookalike()), (0, 0)),
        TypeError, "Texture"),
    "render_texture setter with a Texture": (
        lambda t, s: (setattr(t, "render_texture", _not_a_render_texture()), t.fill(PAINT)),
        TypeError, "RenderTexture"),
    "blend mode above the binding's": (
        lambda t, s: t.blit(s, (0, 0), blend_mode=99), ValueError, "blend mode 99"),
    "blend mode below the binding's": (
        lambda t, s: t.blit(s, (0, 0), blend_mode=-1), ValueError, "blend mode -1"),
    "killed source, blit": (
        lambda t, s, k: t.blit(k, (0, 0)), ValueError, "^the source render texture was unloaded$",
        _killed),
    "killed source, lmblit": (
        lambda t, s, k: t.lmblit(k, LmVector2(0, 0)), ValueError,
        "^the source render texture was unloaded$", _killed),
    "killed source, fast_blit in a with block": (
        lambda t, s, k: _inside(t, lambda: t.fast_blit(k, (0, 0, 9, 9))), ValueError,
        "^the source render texture was unloaded$", _killed),
    "killed source's texture through the display": (
        lambda t, s, k: t.blit_texture(k.render_texture.texture, (0, 0)), ValueError,
        "^the texture's render texture was unloaded$", _killed),
    "killed source's texture through the platform's rl": (
        lambda t, s, k: _inside(t, lambda: md.rl.draw_texture(k.render_texture.texture, 0, 0, WHITE)),
        ValueError, "^the texture's render texture was unloaded$", _killed),
    # GL would read the pixels it writes: a staircase of smears.
    "drawn into itself, blit": (
        lambda t, s: t.blit(t, (10, 10)), ValueError, r"into itself .*target\.copy\(\)"),
    "drawn into itself, lmblit": (
        lambda t, s: t.lmblit(t, LmVector2(10, 10)), ValueError, r"target\.copy\(\)"),
    "drawn into itself, fast_blit in a with block": (
        lambda t, s: _inside(t, lambda: t.fast_blit(t, (10, 10, 20, 9))), ValueError,
        r"target\.copy\(\)"),
    "its own texture through the display": (
        lambda t, s: t.blit_texture(t.texture, (10, 10)), ValueError, r"target\.copy\(\)"),
    "its own texture through the platform's rl": (
        lambda t, s: _inside(t, lambda: md.rl.draw_texture(t.texture, 10, 10, WHITE)),
        ValueError, r"target\.copy\(\)"),
    "clear from another thread": (
        lambda t, s: on_worker(lambda: t.clear(PAINT)), RuntimeError, "thread that opened"),
    "new target on another thread": (
        lambda t, s: on_worker(lambda: LmRenderTexture(LmVector2(4, 4))), RuntimeError,
        "thread that opened"),
    "target of a closed window, cleared": (
        lambda t, s, old: old[0].clear(PAINT), ValueError,
        "^the target render texture was made in a window that was closed$", _outlived_window),
    "target of a closed window, as source": (
        lambda t, s, old: t.blit(old[0], (0, 0)), ValueError,
        "^the source render texture was made in a window that was closed$", _outlived_window),
    "target of a closed window, killed": (
        lambda t, s, old: old[0].kill(), None, "", _outlived_window),
    "target of a closed window, dropped": (
        lambda t, s, old: old.clear(), None, "", _outlived_window),
}


@pytest.mark.parametrize("case", BAD)
def test_bad_input_or_a_dead_resource_draws_nothing(case, source):
    act, error, words, *needs = BAD[case]
    made = [make() for make in needs]
    target = LmRenderTexture(LmVector2(*SIZE))
    target.clear(BACKDROP)
    handle = target.render_texture
    before = pixels(handle.texture)
    with pytest.raises(error, match=words) if error else nullcontext():
        act(target, source, *made)
    rl.end_texture_mode()  # a failed bracketed call leaves its modes begun
    rl.end_blend_mode()
    assert pixels(handle.texture) == before
    rl.unload_render_texture(handle)


def test_a_dest_list_changed_while_read_draws_what_it_held(plain):
    """float() of an item may empty the list being read: the draw uses the
    items as they were when the call began (no read past the list's end)."""
    from lumo_rlplatform._native import fast_blit_pro  # the display's blit

    class Shrinking:
        def __float__(self):
            dest.clear()
            return 2.0

    dest = [Shrinking(), 3, 20, 12]
    target = LmRenderTexture(LmVector2(*SIZE))
    target.clear(BACKDROP)
    with target:
        fast_blit_pro(plain, dest, False, WHITE)
    got = pixels(target.render_texture.texture)
    target.kill()
    draw = rec(plain, 10, 6, False, (2, 3, 20, 12))
    want = reference(SIZE, lambda h: (backdrop(h), in_texture_mode(h, draw)))
    assert got == want


def test_a_target_dropped_on_another_thread_is_unloaded_on_the_window_thread():
    """GL works on the window's thread only: the unload waits for that
    thread's next call (here, making a target, which gets the ids freed)."""
    box = [LmRenderTexture(LmVector2(*SIZE))]
    ids = (box[0].id, box[0].texture.id)
    on_worker(box.clear)
    later = LmRenderTexture(LmVector2(*SIZE))
    assert (later.id, later.texture.id) == ids
