"""Shared fixtures: the stand-in platform's call log, fresh render targets,
the native test client and fresh interpreters for import-time behaviour."""

import gc
import os
import subprocess
import sys
import textwrap
import traceback

import pytest

import lumo_standin as standin
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

MODULE = "lumo_ui.fast.lmrendertex.lm_render_tex"
PREFIX = MODULE + ".LmRenderTexture."


def entries(excinfo, prefix=PREFIX):
    """The module's traceback entries, outermost first, without the prefix."""
    return [
        frame.name[len(prefix):]
        for frame in traceback.extract_tb(excinfo.tb)
        if frame.name.startswith(prefix)
    ]


@pytest.fixture(autouse=True)
def log():
    """The platform's ordered call log, empty at the start of every test.

    Garbage of earlier tests is collected first, and the collector stays off
    during the test, so that no deallocation lands in the middle of a log."""
    gc.collect()
    standin.reset()
    gc.disable()
    try:
        yield standin.calls
    finally:
        gc.enable()
        standin.reset()


@pytest.fixture
def target(log):
    """A loaded 64x32 target; its construction is not in the log."""
    made = LmRenderTexture(LmVector2(64.0, 32.0))
    log.clear()
    return made


@pytest.fixture
def source(log):
    """A second loaded target, 16x8, to draw from."""
    made = LmRenderTexture(LmVector2(16.0, 8.0))
    log.clear()
    return made


@pytest.fixture(scope="session")
def client():
    """A sibling native module compiled against the public header alone."""
    import lmrt_native_client

    return lmrt_native_client


def run_python(code, *, optimize=False, env=None):
    """Runs `code` in a fresh interpreter; returns the completed process."""
    command = [sys.executable]
    if optimize:
        command.append("-O")
    command += ["-c", textwrap.dedent(code)]
    full_env = dict(os.environ)
    full_env.update(env or {})
    return subprocess.run(command, capture_output=True, text=True, env=full_env, timeout=60)
