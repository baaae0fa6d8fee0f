"""Shared fixtures and helpers: the stand-in platform's call log (and how a
failing comparison of two logs is shown), fresh render targets, the native
test client and its native subclass, fresh interpreters for import-time
behaviour, failing at a given back-end call with reference counts checked,
and breaking the collaborators an operation reaches at call time."""

import contextlib
import gc
import importlib
import inspect
import json
import os
import subprocess
import sys
import textwrap
import traceback

import pytest

# This suite pins exact call orders, so it always runs on the recording
# platform; fresh interpreters started by the tests inherit the choice.
os.environ["LUMO_PLATFORM"] = "recording"

import lumo_standin as standin  # noqa: E402
from lumo_ui.core.state import lumo_state
from lumo_ui.fast.lmrendertex import lm_render_tex
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

MODULE = "lumo_ui.fast.lmrendertex.lm_render_tex"
PREFIX = MODULE + ".LmRenderTexture."
# The module's unpickling function, and the checksum of the record layout
# that pickles carry and that it accepts.
unpickle = lm_render_tex.__pyx_unpickle_LmRenderTexture
CHECKSUM = 226208704


def entries(excinfo, prefix=PREFIX, lines=False):
    """The module's traceback entries, outermost first, without the prefix;
    with `lines`, as (name, line) pairs."""
    found = [
        (frame.name[len(prefix):], frame.lineno)
        for frame in traceback.extract_tb(excinfo.tb)
        if frame.name.startswith(prefix)
    ]
    return found if lines else [name for name, _ in found]


def _is_call_log(value):
    return isinstance(value, list) and all(
        isinstance(entry, tuple) and entry and isinstance(entry[0], str) for entry in value)


def _first_difference(left, right):
    return next((i for i, (a, b) in enumerate(zip(left, right)) if a != b), min(len(left), len(right)))


def explain_call_logs(left, right):
    """Why two call logs differ, the differing entry and argument first:
    pytest cuts long explanations, and these lines must survive the cut."""
    at = _first_difference(left, right)
    if at == len(left) == len(right):
        return None  # no entry differs (an argument that is not equal to itself)
    if at == min(len(left), len(right)):
        longer, side = (left, "left") if len(left) > len(right) else (right, "right")
        return [f"call logs of {len(left)} and {len(right)} entries agree up to entry {at}, "
                f"which only the {side} has: {longer[at]!r}"]
    a, b = left[at], right[at]
    item = _first_difference(a, b)
    if item == 0:
        what = f"{a[0]!r} != {b[0]!r}"
    elif item < min(len(a), len(b)):
        what = f"{a[0]!r}, argument {item}: {a[item]!r} != {b[item]!r}"
    else:
        what = f"{a[0]!r}, {len(a) - 1} != {len(b) - 1} arguments"
    return [f"call logs differ at entry {at}: {what}", f"left:  {a!r}", f"right: {b!r}"]


def pytest_assertrepr_compare(op, left, right):
    """A failing `==` of two call logs is explained by explain_call_logs."""
    if op == "==" and _is_call_log(left) and _is_call_log(right):
        return explain_call_logs(left, right)
    return None


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


# Each test sibling's NativeSubclass (the C one's and the Cython one's) calls
# back here from each replaced entry of its method table: the entry is logged
# as ("sub.<entry>",) among the back-end's calls, then fails if
# fail_in_replaced armed it.
_replaced_failures = {}


def _replaced_entry_ran(entry):
    standin.calls.append(("sub." + entry,))
    if entry in _replaced_failures:
        raise _replaced_failures.pop(entry)


def fail_in_replaced(entry, error):
    """Arms the native subclass's replaced `entry` to fail with `error`."""
    _replaced_failures[entry] = error


@pytest.fixture(params=["lmrt_native_client", "lmrt_cython_client"])
def native_sub(request, log):
    """A loaded 64x32 target of a test sibling's native subclass, whose
    table replaces every entry a Python method reaches; its construction is
    not in the log."""
    sibling = importlib.import_module(request.param)
    sibling.replaced_entry_hook(_replaced_entry_ran)
    made = sibling.NativeSubclass(LmVector2(64.0, 32.0))
    log.clear()
    yield made
    sibling.replaced_entry_hook(None)
    _replaced_failures.clear()


def run_python(code, *, optimize=False, env=None):
    """Runs `code` in a fresh interpreter; returns the completed process."""
    command = [sys.executable]
    if optimize:
        command.append("-O")
    command += ["-c", textwrap.dedent(code)]
    full_env = dict(os.environ)
    full_env.update(env or {})
    return subprocess.run(command, capture_output=True, text=True, env=full_env, timeout=60)


@contextlib.contextmanager
def allocation_failing(n):
    """Fails the (n + 1)-th allocation from the start of the block, of any
    allocator, in this process."""
    import _testcapi

    _testcapi.set_nomemory(n, n + 1)
    try:
        yield
    finally:
        _testcapi.remove_mem_hooks()


# Fails the n-th allocation counted from the start of a block, each n from 0
# in a forked child of a fresh interpreter, until many children in a row got
# through (some failures are absorbed on the way). `child(n)` runs its block
# under `allocation_failing(n)` and returns 3 when the block got through, 0
# when the failure was handled as the test wants, anything else when it was
# not. The sweep prints the n that went wrong.
ALLOCATION_SWEEP = """
import contextlib, importlib.util, json, os, pickle, sys, _testcapi
import lumo_standin, lumo_ui.core.modules, lumo_ui.presentation.color, lumo_ui.core.state
import lumo_ui.core.annotations, lumo_ui.fast.raylib.lumo_raylib, lumo_ui.fast.lmrect.lmrect
import lumo_ui.fast.lmshader.lmshader
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

%(allocation_failing)s
%(child)s

wrong, n, through = [], -1, 0
while through < 30:
    n += 1
    pid = os.fork()
    if pid == 0:
        os._exit(child(n))
    status = os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
    through = through + 1 if status == 3 else 0
    if status not in (0, 3):
        wrong.append([n, status])
print(json.dumps({"tried": n, "wrong": wrong}))
"""


def sweep_allocation_failures(child, least=100):
    """Runs ALLOCATION_SWEEP with `child(n)` and checks that it tried more
    than `least` allocations and found nothing wrong."""
    pytest.importorskip("_testcapi")
    source = inspect.getsource(allocation_failing)
    result = run_python(ALLOCATION_SWEEP % {"allocation_failing": source, "child": child})
    assert result.returncode == 0, result.stderr[-2000:]
    outcome = json.loads(result.stdout)
    assert outcome["wrong"] == [] and outcome["tried"] > least, outcome


@contextlib.contextmanager
def references_kept(*objects):
    """The block must leave the reference counts of `objects` as it found
    them, once the call log (which holds arguments) is cleared and the
    cycles of raised errors' tracebacks are collected."""
    before = [sys.getrefcount(item) for item in objects]
    yield
    standin.calls.clear()
    gc.collect()
    assert [sys.getrefcount(item) for item in objects] == before


def fail_at_call(failing, call, arm=standin.fail_at):
    """Arms the stand-in call `failing` (or what `arm` names) to raise, runs
    `call`, and checks that the armed error is the one that comes out.
    Returns the names in the call log and the module's traceback entries."""
    error = RuntimeError("back-end failed")
    arm(failing, error)
    with pytest.raises(RuntimeError) as excinfo:
        call()
    assert excinfo.value is error
    return standin.names(), entries(excinfo)


def _raising(error):
    """A callable raising a fresh copy of `error`, so that no traceback (and
    no argument it holds) outlives the failed call."""
    def fail(*args):
        raise type(error)(*error.args)

    return fail


# Ways to break what an operation reaches at call time. Each takes pytest's
# monkeypatch and the error an armed call raises.
BREAKAGES = {
    "no md": lambda patch, error: patch.delattr(lm_render_tex, "md"),
    "md without rl": lambda patch, error: patch.setattr(lm_render_tex, "md", object()),
    "unload raises": lambda patch, error: standin.fail_at("unload_render_texture", error),
    "window check raises": lambda patch, error: standin.fail_at("is_window_ready", error),
    "no lumo_state": lambda patch, error: patch.delattr(lm_render_tex, "lumo_state"),
    "lumo_state without window": lambda patch, error: patch.setattr(
        lm_render_tex, "lumo_state", object()),
    "display raises": lambda patch, error: patch.setattr(
        lumo_state.window.display, "fast_blit_pro", _raising(error)),
}


def break_collaborator(monkeypatch, breakage, error=None):
    """Applies the breakage named `breakage` (a key of BREAKAGES)."""
    BREAKAGES[breakage](monkeypatch, error)
