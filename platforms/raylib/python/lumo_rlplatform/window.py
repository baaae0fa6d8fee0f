"""A hidden raylib window: the GL context that render textures need when
nothing is shown on screen (tests, the example, off-screen rendering).  The
thread that opens it is the only one that may load and draw render textures;
closing it ends the life of every render texture made in it."""

import os
import time

import pyray

from lumo_rlplatform import rl

ATTEMPTS = 12
PAUSE = 0.02  # seconds before the second attempt, doubling up to MAX_PAUSE
MAX_PAUSE = 0.5


def open_hidden(width=16, height=16, title="lumo"):
    """Open a hidden window once; later calls do nothing.  Raises
    RuntimeError when no GL context can be had (no display, no GL)."""
    if pyray.is_window_ready():
        return
    pyray.set_trace_log_level(pyray.TraceLogLevel.LOG_WARNING)
    # After a window was closed, Mesa's GLX under Xvfb now and then finds no
    # frame-buffer configuration, and an Xvfb whose last client left resets
    # and refuses connections for a moment (on a loaded machine, for several
    # attempts in a row): later attempts, after a pause, get a window.
    pause = PAUSE
    with_display = os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")
    for attempt in range(ATTEMPTS if with_display else 1):
        if attempt:
            time.sleep(pause)
            pause = min(2 * pause, MAX_PAUSE)
        pyray.set_config_flags(pyray.ConfigFlags.FLAG_WINDOW_HIDDEN)
        rl.init_window(width, height, title)
        if pyray.is_window_ready():
            return
    raise RuntimeError("raylib could not open a window (is there a display and GL?)")


def close():
    """Close the window if one is open.  GPU resources die with it."""
    rl.close_window()
