"""Pixel tests on real raylib: a hidden window for the whole session (tests
may replace it with a new one), resources shared per window, and read-back
helpers.  Run with LUMO_PLATFORM=raylib in a process of their own
(one process imports the render target with one platform)."""

import os
import threading

import pytest

if os.environ.get("LUMO_PLATFORM", "raylib") != "raylib":
    pytest.exit("these tests need LUMO_PLATFORM=raylib", returncode=2)

# Mesa hands out GL names just freed again, as drivers may: a release of
# something already released then hits a live target and shows.
os.environ.setdefault("force_gl_names_reuse", "true")

import pyray as rl  # noqa: E402
from raylib import ffi  # noqa: E402

import lumo_ui.core.modules as md  # noqa: E402
from lumo_rlplatform import window  # noqa: E402


@pytest.fixture(scope="session", autouse=True)
def gl_window():
    try:
        window.open_hidden()
    except RuntimeError as error:
        # CI sets LUMO_REQUIRE_GL: there a missing window is a failure, not
        # a reason to skip every pixel test.
        if os.environ.get("LUMO_REQUIRE_GL"):
            raise
        pytest.skip(f"no GL window: {error}")
    yield
    window.close()


_shared = {}


def shared(make):
    """What make() gives, made once per window: the tests share it until the
    window closes, and it dies with the window."""
    if make not in _shared:
        _shared[make] = make()
    return _shared[make]


def reopen_window():
    """Close the window and open a new one: what was made in the old one is
    dead, and shared resources are made again when next asked for."""
    _shared.clear()
    window.close()
    window.open_hidden()


def on_worker(act):
    """Run act() on another thread and raise here what it raised there."""
    raised = []

    def run():
        try:
            act()
        except BaseException as error:  # noqa: BLE001  (handed to the caller)
            raised.append(error)

    worker = threading.Thread(target=run)
    worker.start()
    worker.join()
    if raised:
        raise raised[0]


def pixels(texture):
    """The texture's RGBA bytes, as raylib reads them back through the
    platform (which draws what is queued and lets GL finish first)."""
    image = md.rl.load_image_from_texture(texture)
    try:
        return bytes(ffi.buffer(image.data, image.width * image.height * 4))
    finally:
        rl.unload_image(image)


def reference(size, draw):
    """The pixels that `draw(handle)` gives on a fresh binding-made target."""
    handle = rl.load_render_texture(*size)
    try:
        draw(handle)
        return pixels(handle.texture)
    finally:
        rl.unload_render_texture(handle)


def in_texture_mode(handle, *draws, blend=None):
    """Run the draws into handle, inside a blend mode when one is given."""
    if blend is not None:
        rl.begin_blend_mode(blend)
    rl.begin_texture_mode(handle)
    for draw in draws:
        draw()
    rl.end_texture_mode()
    if blend is not None:
        rl.end_blend_mode()
