"""The one ordered log of every call made into the stand-in platform.

Entries are tuples ``(name, *args)`` holding the arguments exactly as
received (the objects themselves).  The native back-end and the native
constructors reached through method tables record here too.
"""

from contextlib import contextmanager

from . import _native

#: Every name that can appear as the first item of an entry: the native
#: back-end's and constructors', and the calls recorded from Python.
NAMES = frozenset(_native.CALL_NAMES) | {
    "load_render_texture",
    "unload_render_texture",
    "is_window_ready",
    "fast_blit_pro",
}

#: The log itself.  Never rebound: reset() clears it in place.
calls = []

#: (name, value) for every call that passed a non-zero skip_dispatch.
bad_skip_dispatch = []


class _Armed:
    __slots__ = ("name", "countdown", "exc")

    def __init__(self, name, countdown, exc):
        self.name = name
        self.countdown = countdown
        self.exc = exc


_armed = []
_quiet = False
_window_ready = True
_live = {}  # id(handle) -> render texture handle not yet unloaded


def record(name, *args):
    """Append ``(name, *args)``; then raise the failure armed for this call,
    if any.  Does nothing in quiet mode."""
    if _quiet:
        return
    calls.append((name, *args))
    if _armed:
        _fire(name)


def _fire(name):
    due = None
    for entry in _armed:
        if entry.name == name:
            entry.countdown -= 1
            if entry.countdown <= 0 and due is None:
                due = entry
    if due is not None:
        _armed.remove(due)
        raise due.exc


def _report_skip_dispatch(name, value):
    bad_skip_dispatch.append((name, value))


def fail_at(name, exc, nth=1):
    """Arm a failure: the nth next call of ``name`` is recorded and then
    raises ``exc`` (an exception instance or class).  Several failures can
    be armed, also for one name; each counts calls from its arming on, and
    when two fall due on the same call the earlier armed is raised and the
    other on the next call of that name."""
    if name not in NAMES:
        raise ValueError(f"unknown call name {name!r}")
    if not (
        isinstance(exc, BaseException)
        or (isinstance(exc, type) and issubclass(exc, BaseException))
    ):
        raise TypeError(f"exc must be an exception instance or class, not {exc!r}")
    if isinstance(nth, bool) or not isinstance(nth, int) or nth < 1:
        raise ValueError(f"nth must be an int >= 1, not {nth!r}")
    _armed.append(_Armed(name, nth, exc))


def pending_failures():
    """The armed failures not yet raised, as (name, calls_to_go, exc)."""
    return [(e.name, max(e.countdown, 1), e.exc) for e in _armed]


def names():
    """The names of the logged calls, in order."""
    return [entry[0] for entry in calls]


def set_quiet(flag):
    """Quiet mode: record nothing, fire no armed failure, and let the native
    back-end return at once.  For benchmarks."""
    global _quiet
    _quiet = bool(flag)
    _native._set_quiet(_quiet)


def is_quiet():
    return _quiet


@contextmanager
def quiet():
    """Quiet mode for the duration of a with block."""
    previous = _quiet
    set_quiet(True)
    try:
        yield
    finally:
        set_quiet(previous)


def set_window_ready(flag):
    """What rl.is_window_ready() answers from now on."""
    global _window_ready
    _window_ready = bool(flag)


def window_ready():
    return _window_ready


def live_render_textures():
    """Render textures loaded and not yet unloaded, in load order."""
    return list(_live.values())


def reset():
    """Clear the log, disarm failures, window ready again, quiet off, and
    forget the live render textures."""
    calls.clear()
    bad_skip_dispatch.clear()
    _armed.clear()
    _live.clear()
    set_window_ready(True)
    set_quiet(False)
