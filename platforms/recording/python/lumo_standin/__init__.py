"""Stand-ins for the UI platform modules, with an ordered call log.

A real installation of the platform brings its own modules; these exist so
that code built against the platform can be imported and tested here.
"""

import os

# The native half first: setting it up imports _breaks, which refuses a bad
# LUMO_STANDIN_BREAK before any type is built (and which reads the back-end's
# names from it, so it cannot come first).
from . import _native
from . import _breaks  # noqa: F401
from . import calllog, rl
from .calllog import (
    bad_skip_dispatch,
    calls,
    fail_at,
    is_quiet,
    live_render_textures,
    names,
    pending_failures,
    quiet,
    reset,
    set_quiet,
    set_window_ready,
    window_ready,
)

_native._connect(calllog.record, calllog._report_skip_dispatch)

Floor = _native.Floor


def get_include():
    """The folder holding lumo_standin_types.h."""
    return os.path.join(os.path.dirname(__file__), "include")


__all__ = [
    "Floor",
    "bad_skip_dispatch",
    "calllog",
    "calls",
    "fail_at",
    "get_include",
    "is_quiet",
    "live_render_textures",
    "names",
    "pending_failures",
    "quiet",
    "reset",
    "rl",
    "set_quiet",
    "set_window_ready",
    "window_ready",
]
