"""A sibling written in Cython against the installed lm_render_tex.pxd gets
what the C sibling built against the header gets, entry by entry: the same
calls, results and errors, with skip_dispatch and overrides alike."""

import pytest

import lumo_standin as standin
from lumo_ui.fast.lmrect.lmrect import LmRect
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

RED = (255, 0, 0, 255)


class Overriding(LmRenderTexture):
    def clear(self, color):
        standin.calls.append(("override clear", color))

    def kill(self):
        standin.calls.append(("override kill",))

    def get_width(self):
        return 7.5

    def get_rect(self):
        return None


# Stand for the scene's objects in a row's arguments.
SOURCE, VECTOR, TEXTURE = "source", "vector", "texture"

# entry, arguments after the target, a back-end call armed to fail (or None),
# what the scene changes first (None, "subclass" or "no size").
ENTRIES = [
    ("c_fast_blit", (SOURCE, (1, 2), 1, RED), None, None),
    ("c_fast_blit", (SOURCE, (1, 2, 3, 4), 0, None), "c_draw_texture_rec", None),
    ("c_fast_blit_texture", (TEXTURE, (1, 2), 1, RED), None, None),
    ("c_fast_lmblit", (SOURCE, VECTOR, 3, 1, None), None, None),
    ("c_fast_lmblit", (SOURCE, VECTOR, 3, 0, None), "c_draw_lmtexture_lmvec", None),
    ("c_fast_clear", (RED,), None, None),
    ("c_clear", (RED,), "end_texture_mode", None),
    ("clear", (RED, 0), None, "subclass"),
    ("clear", (RED, 1), None, "subclass"),
    ("fast_clear", (RED, 0), "c_clear_background", None),
    ("fill", (None, 1), None, None),
    ("kill", (0,), None, "subclass"),
    ("kill", (1,), "unload_render_texture", "subclass"),
    ("get_rect", (0,), None, "subclass"),
    ("get_rect", (1,), None, "subclass"),
    ("get_rect", (1,), None, "no size"),
    ("get_height", (1,), None, None),
    ("get_height", (0,), None, "no size"),
    ("get_width", (0,), None, "subclass"),
    ("get_width", (1,), None, "no size"),
    ("c_get_texture", (), None, None),
    ("c_get_texture", (), None, "no render_texture"),
]


def stable(value):
    """What a call or result shows, without the stand-ins' running ids."""
    if value is None or isinstance(value, (bool, int, float, str, tuple)):
        return value
    if isinstance(value, (LmRect, LmVector2)):
        return repr(value)
    if isinstance(value, LmRenderTexture):
        return type(value).__name__, repr(value.size), value.loaded
    return type(value).__name__


def outcome(client, entry, args, failing, change):
    standin.calls.clear()  # the last scene's objects go now, not in this log
    target = (Overriding if change == "subclass" else LmRenderTexture)(LmVector2(4.0, 3.0))
    scene = {SOURCE: LmRenderTexture(LmVector2(2.0, 1.0)), VECTOR: LmVector2(5.0, 6.0),
             TEXTURE: target.texture}
    if change == "no size":
        del target.size
    elif change == "no render_texture":
        del target.render_texture
    standin.calls.clear()
    if failing:
        standin.fail_at(failing, RuntimeError("back-end failed"))
    try:
        answer = stable(getattr(client, entry)(target, *(scene.get(a, a) for a in args)))
    except Exception as error:
        answer = type(error).__name__, str(error)
    calls = [tuple(stable(item) for item in call) for call in standin.calls]
    return answer, calls, stable(target)


@pytest.fixture(scope="session")
def cython_client():
    """A sibling module written in Cython against the installed .pxd."""
    import lmrt_cython_client

    return lmrt_cython_client


@pytest.mark.parametrize("entry, args, failing, change", ENTRIES)
def test_cython_sibling_gets_what_the_c_sibling_gets(client, cython_client, log, entry, args,
                                                     failing, change):
    expected = outcome(client, entry, args, failing, change)
    assert outcome(cython_client, entry, args, failing, change) == expected
    # Each row is one that gets somewhere: an error only where one was set up.
    assert (isinstance(expected[0], tuple) and expected[0][0].endswith("Error")) == bool(
        failing or change in ("no size", "no render_texture"))


def test_cython_sibling_makes_targets_reads_and_writes_their_fields(cython_client, log):
    size = LmVector2(2.0, 5.0)
    target = cython_client.new(size)
    handle = target.render_texture
    assert cython_client.fields(target) == (handle, size, True)
    other = LmVector2(1.0, 1.0)
    cython_client.set_size(target, other)
    assert target.size is other and target.width == 1.0
