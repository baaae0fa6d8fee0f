"""Platform choice and the guards that stand where raylib would crash."""

import importlib
import os
import subprocess
import sys

import pytest

MAKE_TARGET = (
    "from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture\n"
    "from lumo_ui.fast.lmvector2.lmvector2 import LmVector2\n"
    "LmRenderTexture(LmVector2(4, 4))\n"
)


@pytest.mark.parametrize("env, code, words", [
    ({}, MAKE_TARGET, "RuntimeError: no raylib window is open"),
    ({}, "from lumo_ui.core.modules import rl\nrl.unload_render_texture(None)",
     "TypeError: expected a raylib RenderTexture, got NoneType"),
    ({"LUMO_PLATFORM": "vulkan"}, MAKE_TARGET, "ImportError: LUMO_PLATFORM='vulkan' names no platform"),
])
def test_fails_cleanly_in_a_fresh_process(env, code, words):
    full = dict(os.environ, **env)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env=full, timeout=60)
    assert done.returncode == 1 and words in done.stderr, done.stderr


# A number whose float() closes the window, read by a draw after it has
# checked for one: the draw must raise, not call raylib without a context.
CLOSES_WINDOW = """
import pyray as rl
from lumo_rlplatform import window
from lumo_rlplatform._native import fast_blit_pro
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2
window.open_hidden()
target, source = LmRenderTexture(LmVector2(8, 8)), LmRenderTexture(LmVector2(4, 4))
class Closes:
    def __float__(self):
        window.close()
        return 1.0
try:
    {draw}
except RuntimeError as error:
    print(error)
"""


@pytest.mark.parametrize("draw", [
    "fast_blit_pro(source.render_texture.texture, (Closes(), 0), False, None)",
    "target.blit(source, (Closes(), 0))",
    "target.blit(source, (0, 0, Closes(), 4))",
])
def test_a_draw_whose_numbers_close_the_window_raises(draw):
    done = subprocess.run([sys.executable, "-c", CLOSES_WINDOW.format(draw=draw)],
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0 and "no raylib window is open" in done.stdout, done.stderr


SIGNATURES = """
import ctypes
import lumo_ui.core.modules as md
from lumo_ui.fast.raylib import lumo_raylib
name = ctypes.pythonapi.PyCapsule_GetName
name.restype, name.argtypes = ctypes.c_char_p, [ctypes.py_object]
print(md.rl.__name__)
for key, capsule in lumo_raylib.__pyx_capi__.items():
    print(key, name(capsule).decode())
"""


def _platform_says(platform):
    done = subprocess.run([sys.executable, "-c", SIGNATURES], capture_output=True, text=True,
                          env=dict(os.environ, LUMO_PLATFORM=platform), timeout=60)
    assert done.returncode == 0, done.stderr
    return done.stdout.splitlines()


def test_both_platforms_offer_the_same_back_end_signatures():
    real, recording = _platform_says("raylib"), _platform_says("recording")
    assert (real[0], recording[0]) == ("lumo_rlplatform.rl", "lumo_standin.rl")
    assert sorted(real[1:]) == sorted(recording[1:]) and len(real) == 10


@pytest.mark.parametrize("change, error, words", [
    (lambda v: setattr(v, "y", "3"), TypeError, "real number"),
    (lambda v: delattr(v, "x"), TypeError, "can't delete"),
])
def test_vector_components_read_write_and_refuse_like_numbers(change, error, words):
    from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

    vector = LmVector2(1, 2.5)
    vector.x = 7
    assert (vector.x, vector.y) == (7.0, 2.5) and type(vector.x) is float
    with pytest.raises(error, match=words):
        change(vector)
    assert (vector.x, vector.y) == (7.0, 2.5)


@pytest.mark.parametrize("path, values", [
    ("lumo_ui.fast.lmvector2.lmvector2.LmVector2", (1.0, 2.5)),
    ("lumo_ui.fast.lmrect.lmrect.LmRect", (1.0, 2.5, 3.0, 4.0)),
])
def test_a_failed_init_leaves_the_value_as_it_was(path, values):
    module, _, name = path.rpartition(".")
    value = getattr(importlib.import_module(module), name)(*values)
    with pytest.raises(TypeError, match="real number"):
        value.__init__(*values[:-1], "3")
    assert value.__reduce__()[1] == values
