"""The raylib binding as the platform's ``rl``: ``pyray`` itself, with guards
where misuse would crash the process inside raylib, draw with another
target's GPU resource or lose what was drawn:

- render textures are loaded and drawn on the window's thread only, and only
  while alive: every function of the binding that takes a texture or a
  render texture refuses one whose render texture was unloaded or made in a
  window since closed;
- a draw of the texture of the render texture being drawn into is refused;
- raylib queues draws: what reads, changes or frees a texture, and a clear,
  first draws the queue, and reads of pixels also wait for GL to finish;
- ``unload_render_texture`` gives a live handle back once, does nothing for
  a dead one, and defers an unload from another thread to the window's;
  like ``load_render_texture``, it keeps the render texture being drawn
  into bound;
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
end_texture_mode = _native.end_texture_mode
unload_render_texture = _native.unload_render_texture

# The binding's reads of pixels from GL.
READS = ("load_image_from_texture", "load_image_from_screen", "take_screenshot",
         "rl_read_texture_pixels", "rl_read_screen_pixels", "rl_copy_framebuffer")
# The binding's clears: GL clears at once, while earlier draws wait in the queue.
CLEARS = ("clear_background", "rl_clear_screen_buffers")


def load_render_texture(width, height):
    """A new render texture of width x height pixels (ints >= 1)."""
    _native._guard()
    for name, value in (("width", width), ("height", height)):
        if not isinstance(value, int):
            raise TypeError(f"{name} must be an int, got {type(value).__name__}")
        if not 1 <= value <= 16384:
            raise ValueError(f"{name} must be 1-16384, got {value}")
    handle = _native._keeping_target(pyray.load_render_texture, width, height)
    if handle.id == 0:
        raise RuntimeError(f"raylib could not make a {width}x{height} render texture")
    _native._loaded(handle)
    return handle


def init_window(width, height, title):
    was_open = pyray.is_window_ready()
    pyray.init_window(width, height, title)
    if not was_open:
        _native._window_opened()


def rl_set_render_batch_active(batch):
    """Draw with another render batch (None: raylib's own) from now on."""
    pyray.rl_set_render_batch_active(batch)
    _native._batch_changed()


def close_window():
    """Close the window, if one is open, on its thread: every render texture
    made in it dies with it."""
    if pyray.is_window_ready():
        _native._window_closing()
        pyray.close_window()


def _guarded(function, positions, check, before_call):
    def guarded(*args):
        for i in positions:
            if i < len(args):
                check(args[i])
        if before_call is not None:
            before_call()
        return function(*args)

    guarded.__name__ = guarded.__qualname__ = function.__name__
    guarded.__doc__ = function.__doc__
    return guarded


def _guard_binding():
    """Every function of the binding that takes a texture or a render
    texture, save the queries (is_...) and those this module defines itself,
    checks them first: a draw (draw_...) that its texture is alive and not
    being drawn into, any other that it is alive, and then draws what is
    queued.  Reads and clears draw the queue too; reads then wait for GL."""
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
        before_call = (_native._finish_drawing if name in READS else
                       _native._draw_queued if name in CLEARS else None)
        if positions or before_call is not None:
            check = _native._check_draw if name.startswith("draw_") else _native._check
            globals()[name] = _guarded(function, positions, check, before_call)


_guard_binding()
