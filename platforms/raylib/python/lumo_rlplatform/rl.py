"""The raylib binding as the platform's ``rl``: ``pyray`` itself, with guards
where misuse would crash the process inside raylib or draw with another
target's GPU resource:

- render textures are loaded and drawn on the window's thread only, and only
  while alive: every function of the binding that takes a texture or a
  render texture refuses one whose render texture was unloaded or made in a
  window since closed;
- ``unload_render_texture`` gives a live handle back once, does nothing for
  a dead one, and defers an unload from another thread to the window's;
- ``init_window`` and ``close_window`` keep the platform's record of the
  window (its thread, and which handles belong to it).
"""

import inspect

import pyray
from pyray import *  # noqa: F401,F403  (the whole binding)
from raylib import ffi
from raylib import rl as _lib

from lumo_rlplatform import _native

begin_texture_mode = _native.begin_texture_mode
unload_render_texture = _native.unload_render_texture


def load_render_texture(width, height):
    """A new render texture of width x height pixels (ints >= 1)."""
    _native._guard()
    for name, value in (("width", width), ("height", height)):
        if not isinstance(value, int):
            raise TypeError(f"{name} must be an int, got {type(value).__name__}")
        if not 1 <= value <= 16384:
            raise ValueError(f"{name} must be 1-16384, got {value}")
    handle = pyray.load_render_texture(width, height)
    if handle.id == 0:
        raise RuntimeError(f"raylib could not make a {width}x{height} render texture")
    _native._loaded(handle)
    return handle


def init_window(width, height, title):
    was_open = pyray.is_window_ready()
    pyray.init_window(width, height, title)
    if not was_open:
        _native._window_opened()


def close_window():
    """Close the window, if one is open, on its thread: every render texture
    made in it dies with it."""
    if pyray.is_window_ready():
        _native._window_closing()
        pyray.close_window()


def _checked(function, positions):
    def checked(*args):
        for i in positions:
            if i < len(args):
                _native._check(args[i])
        return function(*args)

    checked.__name__ = checked.__qualname__ = function.__name__
    checked.__doc__ = function.__doc__
    return checked


def _guard_texture_users():
    """Every function of the binding that takes a texture or a render
    texture, save the queries (is_...) and those this module defines itself,
    checks them first."""
    textures = (ffi.typeof("Texture"), ffi.typeof("RenderTexture"))
    for c_name, c_function in inspect.getmembers(_lib):
        try:
            ctype = ffi.typeof(c_function)
        except TypeError:
            continue
        name = pyray._underscore(c_name)
        function = getattr(pyray, name, None)
        if ctype.kind != "function" or c_name.startswith("Is") or globals().get(name) is not function:
            continue
        positions = [i for i, arg in enumerate(ctype.args) if arg in textures]
        if positions:
            globals()[name] = _checked(function, positions)


_guard_texture_users()
