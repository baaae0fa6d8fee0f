"""The raylib binding as the platform's ``rl``: ``pyray`` itself, with thin
guards on the calls whose misuse would crash the process inside raylib
(no window open, a handle that is not a render texture)."""

import pyray
from pyray import *  # noqa: F401,F403  (the whole binding)
from raylib import ffi

_RENDER_TEXTURE = ffi.typeof("RenderTexture")


def _require_window(what):
    if not pyray.is_window_ready():
        raise RuntimeError(
            f"{what} needs an open raylib window: call lumo_rlplatform.window.open_hidden() "
            "(or init_window) first"
        )


def _require_render_texture(handle):
    if not (isinstance(handle, ffi.CData) and ffi.typeof(handle) is _RENDER_TEXTURE):
        raise TypeError(f"expected a raylib RenderTexture, got {type(handle).__name__}")


def load_render_texture(width, height):
    """A new render texture of width x height pixels (ints >= 1)."""
    _require_window("load_render_texture")
    for name, value in (("width", width), ("height", height)):
        if not isinstance(value, int):
            raise TypeError(f"{name} must be an int, got {type(value).__name__}")
        if not 1 <= value <= 16384:
            raise ValueError(f"{name} must be 1-16384, got {value}")
    handle = pyray.load_render_texture(width, height)
    if handle.id == 0:
        raise RuntimeError(f"raylib could not make a {width}x{height} render texture")
    return handle


def unload_render_texture(handle):
    """Give the handle's GPU framebuffer and textures back."""
    _require_render_texture(handle)
    _require_window("unload_render_texture")
    pyray.unload_render_texture(handle)


def begin_texture_mode(handle):
    _require_render_texture(handle)
    _require_window("begin_texture_mode")
    if handle.id == 0:
        raise ValueError("the RenderTexture is not loaded (id 0)")
    pyray.begin_texture_mode(handle)
