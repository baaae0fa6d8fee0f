"""Holding and giving back handles, driven by Hypothesis against a model.

Hundreds of targets are made, copied, adopt each other's handles, have them
stored, restored and replaced, are killed, dropped in any order or left in
cycles for the collector, and run out of memory on the way. The model is a
count of loaded holders per handle. After every step the back-end's calls
must be exactly the model's: a handle goes back when its last loaded holder
lets go, once, and never while a loaded target holds it.

Derandomized and short by default, and a failure is shown with all its
steps as found. LUMO_MODEL_EXAMPLES=N runs N examples from a random seed
instead (e.g. 500, for a long run), and shrinks a failure it finds."""

import collections
import copy
import dataclasses
import faulthandler
import gc
import importlib.util
import os
import sys
import time

import pytest
from conftest import CHECKSUM, MODULE, allocation_failing, unpickle
from hypothesis import HealthCheck, Phase, settings
from hypothesis import strategies as st
from hypothesis.stateful import (
    RuleBasedStateMachine, initialize, invariant, precondition, rule, run_state_machine_as_test)

import lumo_standin as standin
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

LONG_RUN = int(os.environ.get("LUMO_MODEL_EXAMPLES", "0"))

SETTINGS = settings(
    max_examples=LONG_RUN or 10,
    stateful_step_count=80,
    derandomize=not LONG_RUN,
    database=None,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
    # Shrinking a run of hundreds of targets takes minutes. Explaining is
    # left out: it traces every line, also inside blocks that fail
    # allocations.
    phases=[Phase.generate] + [Phase.shrink] * bool(LONG_RUN),
)

CAN_FAIL_ALLOCATIONS = importlib.util.find_spec("_testcapi") is not None

GPU_CALLS = {"load_render_texture", "unload_render_texture", "is_window_ready"}


class Cyclic(LmRenderTexture):
    """Has an instance dict, so that a dropped one can refer to itself."""


def key(handle):
    """A handle as the model knows it: the stand-in's id, unique per process,
    so the model holds no handle alive."""
    return None if handle is None else handle.id


def gpu_calls():
    """The log's loads and give-backs, handles by key."""
    return [
        (name, key(args[0])) if name == "unload_render_texture" else (name, *args)
        for name, *args in standin.calls
        if name in GPU_CALLS
    ]


@dataclasses.dataclass(eq=False)
class Held:
    target: LmRenderTexture | None  # None once the machine dropped it
    loaded: bool = False
    handle: int | None = None


@dataclasses.dataclass
class Totals:
    examples: int = 0
    steps: int = 0
    peak: int = 0
    memory_errors: int = 0
    in_the_module: int = 0  # raised by the module itself, not a collaborator
    sole_holder_moved: int = 0


class HolderModel(RuleBasedStateMachine):
    """Runs with the collector off (the suite's log fixture sees to it), so
    that cyclic garbage dies only at the collect rule."""

    totals = Totals()

    def __init__(self):
        super().__init__()
        standin.reset()
        self.alive = []  # Held, for each target the machine references
        self.garbage = []  # Held, for each dropped target a cycle keeps
        self.holders = collections.Counter()  # handle -> loaded holders
        self.given_back = set()
        self.expected = []  # the calls the running step must make
        self.in_any_order = False  # the collector's order is its own
        self.running_out = False  # under the out-of-memory rule
        self.started = False
        HolderModel.totals.examples += 1

    # ---- the model ----

    def hold(self, held, loaded, handle):
        if held.loaded and loaded and handle not in (None, held.handle):
            # Counted when the only loaded target with a handle takes another.
            HolderModel.totals.sole_holder_moved += self.holders.total() == 1
        if held.loaded and held.handle is not None:
            self.holders[held.handle] -= 1
        held.loaded, held.handle = bool(loaded), handle
        if held.loaded and handle is not None:
            self.holders[handle] += 1

    def let_go(self, held, dying):
        """The holder lets go of its handle (killed, or dying): the calls the
        module must make for it."""
        calls = []
        last = held.handle is None or self.holders[held.handle] == 1
        if held.loaded and last:
            if held.handle is not None:
                self.given_back.add(held.handle)
            calls = [("is_window_ready",)] * dying + [("unload_render_texture", held.handle)]
        self.hold(held, False, held.handle)
        return calls

    def may_hold(self, handle):
        """Loading a target with a handle that went back would give it back a
        second time: a user's mistake, which the rules do not make."""
        return handle not in self.given_back

    def track(self, target, handle_of=None):
        """Adds a made target to the model as holding what it says it holds
        (a new handle) or what `handle_of` holds (a shared one)."""
        held = Held(target)
        handle = key(target.render_texture) if handle_of is None else handle_of.handle
        self.hold(held, target.loaded, handle)
        self.alive.append(held)

    # ---- choosing and changing ----

    def pick(self, data, where=None):
        """A live target (among those `where` accepts), by index, so that
        Hypothesis keeps no reference to it; None when there is none."""
        candidates = [held for held in self.alive if where is None or where(held)]
        if not candidates:
            return None
        return candidates[data.draw(st.integers(0, len(candidates) - 1))]

    def attempt(self, change):
        """Runs `change` and returns what it returned. Running out of memory,
        with its first allocation failing, then its second, and so on until
        it gets through: each MemoryError must have changed nothing."""
        if not self.running_out:
            return change()
        self.check()  # the changes before this one
        for allocation in range(200):
            try:
                with allocation_failing(allocation):
                    result = change()  # and nothing else
            except MemoryError as error:
                self.count_memory_error(error.__traceback__)
                # A load may have come before the failure.
                assert [call for call in gpu_calls() if call[0] != "load_render_texture"] == []
                self.check_targets()
                standin.calls.clear()
                continue
            return result
        pytest.fail("a change that never gets through allocation failures")

    def count_memory_error(self, traceback):
        totals = HolderModel.totals
        totals.memory_errors += 1
        while traceback.tb_next:
            traceback = traceback.tb_next
        totals.in_the_module += traceback.tb_frame.f_code.co_name.startswith(MODULE)

    def made(self, make, handle_of=None, loads=None):
        self.track(self.attempt(make), handle_of)
        self.expected += [loads] if loads else []

    # ---- rules that make targets hold ----

    @rule(data=st.data())
    def construct(self, data):
        cls = data.draw(st.sampled_from([LmRenderTexture, Cyclic]))
        width = data.draw(st.integers(1, 9))
        self.made(lambda: cls(LmVector2(width, 2)), loads=("load_render_texture", width, 2))

    @initialize(data=st.data(), count=st.integers(100, 300), running_out=st.booleans())
    def start(self, data, count, running_out):
        """An application's start: its canvas, resized at once, then a cache
        of many targets. Perhaps each step runs out of memory at each of its
        allocations in turn, and so where the holder count grows."""
        self.running_out = running_out and CAN_FAIL_ALLOCATIONS
        try:
            self.resize_a_lone_canvas(data)
            for _ in range(count):
                self.construct(data)
        finally:
            self.running_out = False

    @rule(data=st.data())
    def copy_target(self, data):
        source = self.pick(data)
        if source:
            self.made(lambda: copy.copy(source.target), handle_of=source)

    @rule(data=st.data())
    def unpickle_state(self, data):
        source = self.pick(data, lambda held: not held.loaded or self.may_hold(held.handle))
        if source:
            state = (source.loaded, source.target.render_texture, source.target.size)
            self.made(lambda: unpickle(Cyclic, CHECKSUM, state), handle_of=source)

    @rule(data=st.data())
    def adopt_handle(self, data):
        source = self.pick(data, lambda held: held.handle is not None and self.may_hold(held.handle))
        if source:
            handle = source.target.render_texture
            self.made(lambda: LmRenderTexture.from_rl_render_texture(handle), handle_of=source)

    @rule(data=st.data())
    def initialise_again(self, data, where=None):
        target = self.pick(data, where)
        width = data.draw(st.integers(1, 9))
        if target:
            self.attempt(lambda: target.target.__init__(LmVector2(width, 3)))
            self.hold(target, True, key(target.target.render_texture))
            self.expected.append(("load_render_texture", width, 3))

    @precondition(lambda self: self.holders.total() == 0)
    @rule(data=st.data())
    def resize_a_lone_canvas(self, data):
        """What an application with one target does when its window is
        resized: the only loaded target takes a new handle."""
        self.construct(data)
        self.initialise_again(data, lambda held: held.loaded and held.handle is not None)

    @rule(data=st.data())
    def store_handle(self, data):
        target, source = self.pick(data), self.pick(data)
        if target and (not target.loaded or self.may_hold(source.handle)):
            handle = source.target.render_texture
            self.attempt(lambda: setattr(target.target, "render_texture", handle))
            self.hold(target, target.loaded, source.handle)

    @rule(data=st.data())
    def delete_handle(self, data):
        target = self.pick(data)
        if target:
            del target.target.render_texture
            self.hold(target, target.loaded, None)

    @rule(data=st.data())
    def set_state(self, data):
        loaded = data.draw(st.booleans())
        target, source = self.pick(data), self.pick(data)
        if target and (not loaded or self.may_hold(source.handle)):
            state = (loaded, source.target.render_texture, source.target.size)
            self.attempt(lambda: target.target.__setstate__(state))
            self.hold(target, loaded, source.handle)

    @rule(data=st.data())
    def set_loaded(self, data):
        loaded = data.draw(st.booleans())
        target = self.pick(data, lambda held: not loaded or self.may_hold(held.handle))
        if target:
            self.attempt(lambda: setattr(target.target, "loaded", loaded))
            self.hold(target, loaded, target.handle)

    # copy.copy is left out: when its call with *args fails to allocate,
    # the interpreter (3.12.1) keeps a reference to the target for good.
    HOLDING = [construct, unpickle_state, adopt_handle, initialise_again, store_handle, set_state,
               set_loaded]

    @precondition(lambda self: CAN_FAIL_ALLOCATIONS)
    @rule(data=st.data(), count=st.integers(1, 30))
    def run_out_of_memory(self, data, count):
        """Makes `count` changes of one kind, each running out of memory at
        each of its allocations in turn."""
        change = data.draw(st.sampled_from(self.HOLDING))
        self.running_out = True
        try:
            for _ in range(count):
                change(self, data)
        finally:
            self.running_out = False

    # ---- rules that make targets let go ----

    @rule(data=st.data())
    def kill(self, data):
        target = self.pick(data)
        if not target:
            return
        if not target.loaded:
            with pytest.raises(AssertionError, match="Render texture not loaded"):
                target.target.kill()
            return
        self.expected += self.let_go(target, dying=False)
        target.target.kill()

    @rule(data=st.data(), randoms=st.randoms(use_true_random=False))
    def drop(self, data, randoms):
        """Drops all but a few targets (or all but many), in a random order;
        those that can refer to themselves may be left in a cycle instead.
        Keeping few, or none, brings the run back to where a single target
        lives alone."""
        kept = data.draw(st.integers(0, len(self.alive)) | st.integers(0, min(2, len(self.alive))))
        dropped = randoms.sample(self.alive, len(self.alive) - kept)
        self.let_die(dropped, lambda: randoms.random() < 0.5)

    def let_die(self, targets, in_a_cycle):
        for held in targets:
            self.alive.remove(held)
            if isinstance(held.target, Cyclic) and in_a_cycle():
                held.target.me = held.target
                self.garbage.append(held)
            else:
                self.expected += self.let_go(held, dying=True)
            held.target = None

    @rule()
    def collect(self):
        for held in self.garbage:
            self.expected += self.let_go(held, dying=True)
        self.garbage.clear()
        self.in_any_order = True
        gc.collect()

    # ---- after each step ----

    @invariant()
    def calls_and_targets_agree_with_the_model(self):
        self.check()
        totals = HolderModel.totals
        totals.steps += self.started
        totals.peak = max(totals.peak, len(self.alive))
        self.started = True

    def check(self):
        calls = gpu_calls()
        if self.in_any_order:
            assert collections.Counter(calls) == collections.Counter(self.expected)
        else:
            assert calls == self.expected
        self.check_targets()
        standin.calls.clear()
        self.expected, self.in_any_order = [], False

    def check_targets(self):
        """Each target holds what the model says, and no handle a loaded
        target holds went back."""
        assert [(held.target.loaded, key(held.target.render_texture)) for held in self.alive] == [
            (held.loaded, held.handle) for held in self.alive
        ]
        live = {key(handle) for handle in standin.live_render_textures()}
        assert {handle for handle, count in self.holders.items() if count > 0} <= live

    def teardown(self):
        # Everything goes; what is still held goes back, each handle once.
        self.let_die(list(self.alive), lambda: False)
        self.collect()
        self.check()
        standin.reset()


def test_holding_and_giving_back_agrees_with_the_model(capsys):
    HolderModel.totals = Totals()
    started = time.monotonic()
    # Uncaptured, so that the watchdog's stacks reach the terminal: a table
    # whose lookup never ends ends the run instead of hanging it.
    with capsys.disabled():
        if not LONG_RUN:
            faulthandler.dump_traceback_later(120, exit=True, file=sys.__stderr__)
        try:
            run_state_machine_as_test(HolderModel, settings=SETTINGS)
        finally:
            faulthandler.cancel_dump_traceback_later()
        totals = HolderModel.totals
        print(
            f"\nholder model: {totals.examples} examples, {totals.steps} steps, up to "
            f"{totals.peak} live targets, {totals.sole_holder_moved} handles of a sole loaded "
            f"target replaced, {totals.memory_errors} MemoryErrors ({totals.in_the_module} raised "
            f"in the module), {time.monotonic() - started:.1f} s"
        )
    # The run went where applications go that cache many targets, and
    # where those go that have a single one.
    assert totals.peak >= 200 and totals.sole_holder_moved > 0
