"""Each render-texture handle is given back once: by the last loaded target
that holds it, and for cyclic garbage before the collector clears anything."""

import contextlib
import copy
import gc
import pickle
import textwrap
import weakref

import pytest
from conftest import CHECKSUM, run_python, sweep_allocation_failures, unpickle

import lumo_standin
from lumo_standin import rl
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2


class Sub(LmRenderTexture):
    pass


class Slotted(LmRenderTexture):
    __slots__ = ()


class OwnFinaliser(LmRenderTexture):
    def __del__(self):
        lumo_standin.calls.append(("__del__",))


def make(cls=LmRenderTexture):
    return cls(LmVector2(8.0, 4.0))


def bare():
    return LmRenderTexture.__new__(LmRenderTexture)


def give_back(how, handle):
    """The calls with which a sole holder gives `handle` back."""
    unload = ("unload_render_texture", handle)
    return [unload] if how == "kill" else [("is_window_ready",), unload]


def end(holders, index, how):
    if how == "kill":
        holders[index].kill()
        assert holders[index].loaded is False
    else:
        holders[index] = None


def unloaded(log):
    return [entry[1] for entry in log if entry[0] == "unload_render_texture"]


# ---- shared handles ------------------------------------------------------------


def by_setstate(original):
    sharer = bare()
    sharer.__setstate__((True, original.render_texture, original.size))
    return sharer


def by_setters(original):
    sharer = bare()
    sharer.render_texture = original.render_texture
    sharer.loaded = True
    return sharer


# Ways a second loaded target comes to hold the handle of `original`.
SHARERS = {
    "copy": copy.copy,
    "adoption": lambda original: LmRenderTexture.from_rl_render_texture(original.render_texture),
    "unpickling function": lambda original: unpickle(
        type(original), CHECKSUM, (True, original.render_texture, original.size)
    ),
    "set-state": by_setstate,
    "setters": by_setters,
}

# Holder index and how it ends, in order; holder 0 is the original.
ENDINGS = {
    "both killed": [(0, "kill"), (1, "kill")],
    "both dropped, sharer first": [(1, "drop"), (0, "drop")],
    "original dropped, sharer killed": [(0, "drop"), (1, "kill")],
    "sharer killed, original dropped": [(1, "kill"), (0, "drop")],
    "one killed among three": [(2, "kill"), (0, "drop"), (1, "drop")],
}


def share(original, sharer, count):
    return [original] + [sharer(original) for _ in range(count - 1)]


@pytest.mark.parametrize("sharer", SHARERS.values(), ids=SHARERS)
@pytest.mark.parametrize("ending", ENDINGS.values(), ids=ENDINGS)
def test_a_shared_handle_goes_back_with_its_last_loaded_holder(log, sharer, ending):
    holders = share(make(), sharer, len(ending))
    handle = holders[0].render_texture
    log.clear()
    steps = []
    for index, how in ending:
        end(holders, index, how)
        steps.append(list(log))
        log.clear()
    *earlier, last = ending
    assert steps == [[]] * len(earlier) + [give_back(last[1], handle)]
    assert lumo_standin.live_render_textures() == []


def after_sharer_killed():
    original = make()
    copy.copy(original).kill()
    return original


def after_sharer_unflagged():
    original = make()
    sharer = copy.copy(original)
    sharer.loaded = False
    return original, sharer  # the unflagged sharer stays alive


SOLE_HOLDERS = {
    "constructed": make,
    "adopted": lambda: LmRenderTexture.from_rl_render_texture(rl.load_render_texture(8, 4)),
    "unpickled": lambda: pickle.loads(pickle.dumps(make())),
    "its sharer killed": after_sharer_killed,
    "its sharer unflagged": after_sharer_unflagged,
}


@pytest.mark.parametrize("how", ["kill", "drop"])
@pytest.mark.parametrize("build", SOLE_HOLDERS.values(), ids=SOLE_HOLDERS)
def test_a_sole_holder_gives_its_handle_back(log, build, how):
    built = build()
    holders = list(built) if isinstance(built, tuple) else [built]
    del built
    handle = holders[0].render_texture
    log.clear()
    end(holders, 0, how)
    assert log == give_back(how, handle)


@pytest.mark.parametrize(
    "duplicate", [copy.deepcopy, lambda t: pickle.loads(pickle.dumps(t))], ids=["deepcopy", "pickle"]
)
def test_duplicated_handles_are_different_objects_counted_apart(log, duplicate):
    original = make()
    holders = [duplicate(original), original]
    handles = [holder.render_texture for holder in holders]
    assert handles[0] is not handles[1]
    log.clear()
    end(holders, 0, "drop")
    end(holders, 1, "kill")
    assert log == give_back("drop", handles[0]) + give_back("kill", handles[1])


def flag(sharer, *values):
    for value in values:
        sharer.loaded = value


# A change to a sharer (given a second handle), and what it holds afterwards.
CHANGES = {
    "loaded set false": (lambda sharer, other: flag(sharer, False), "nothing"),
    "loaded set false, then true": (lambda sharer, other: flag(sharer, False, True), "handle"),
    "another handle stored": (lambda sharer, other: setattr(sharer, "render_texture", other), "other"),
    "handle deleted": (lambda sharer, other: delattr(sharer, "render_texture"), "None"),
    "initialised again": (lambda sharer, other: sharer.__init__(LmVector2(2.0, 2.0)), "its new one"),
    "state set unloaded": (
        lambda sharer, other: sharer.__setstate__((False, sharer.render_texture, sharer.size)),
        "nothing",
    ),
    "state set with another handle": (
        lambda sharer, other: sharer.__setstate__((True, other, sharer.size)),
        "other",
    ),
}


@pytest.mark.parametrize("change, holds", CHANGES.values(), ids=CHANGES)
def test_changing_a_sharer_moves_its_hold(log, change, holds):
    holders = share(make(), copy.copy, 2)
    handle, other = holders[0].render_texture, rl.load_render_texture(4, 4)
    change(holders[1], other)
    kept = {"handle": handle, "other": other, "None": None}.get(holds, holders[1].render_texture)
    log.clear()
    end(holders, 0, "kill")
    assert unloaded(log) == ([] if holds == "handle" else [handle])
    log.clear()
    end(holders, 1, "drop")
    assert log == ([] if holds == "nothing" else give_back("drop", kept))


@pytest.mark.parametrize("sharer", SHARERS.values(), ids=SHARERS)
def test_the_count_stays_exact_over_many_lives(log, sharer):
    # Handles and records die every round, so their addresses come back: a
    # count left behind would show as a missing or extra unload.
    endings = list(ENDINGS.values())
    for round in range(60):
        ending = endings[round % len(endings)]
        holders = share(make(Sub if round % 2 else LmRenderTexture), sharer, len(ending))
        handle = holders[0].render_texture
        for index, how in ending:
            end(holders, index, how)
        assert unloaded(log) == [handle]
        log.clear()
        del handle


def test_without_assertions_a_second_kill_of_a_sharer_unloads_nothing():
    result = run_python(
        """
        import copy
        import lumo_standin
        from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
        from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

        original = LmRenderTexture(LmVector2(4.0, 2.0))
        sharer = copy.copy(original)
        lumo_standin.reset()
        for target in (sharer, sharer, original, original):
            target.kill()
            print(lumo_standin.names())
            lumo_standin.calls.clear()
        """,
        optimize=True,
    )
    assert result.returncode == 0, result.stderr
    # The last kill finds the handle held by no loaded target: as before, it
    # is unloaded again.
    assert result.stdout.splitlines() == ["[]", "[]"] + ["['unload_render_texture']"] * 2


# ---- running out of memory ------------------------------------------------------

# A forked child runs a case's set-up, then its operation with one allocation
# failing. A MemoryError must leave `target` as it was. Then everything goes,
# and what loaded targets held must be given back, each handle once. Each
# case starts with nothing counted, so the count's own memory is among the
# allocations failed.
OUT_OF_MEMORY_CHILD = """
import gc
from lumo_ui.fast.lmrendertex import lm_render_tex
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
import lmrt_native_client as client
rl = lumo_ui.core.modules.rl

def fields(target):
    return target and (target.loaded, target.render_texture, target.size)

def child(n):
    size, handle = LmVector2(8.0, 4.0), rl.load_render_texture(8, 4)
    target = made = None
%(setup)s
    before = fields(target)
    try:
        with allocation_failing(n):
%(operation)s
        status = 3
    except MemoryError:
        status = 0 if fields(target) == before else 1
    held = {id(t.render_texture) for t in (target, made) if t is not None and t.loaded}
    lumo_standin.calls.clear()
    target = made = None
    gc.collect()
    given_back = [id(call[1]) for call in lumo_standin.calls if call[0] == "unload_render_texture"]
    if len(given_back) != len(set(given_back)) or not held <= set(given_back):
        return 2
    return status
"""


def bare_with(statement):
    return "target = LmRenderTexture.__new__(LmRenderTexture); " + statement


# Each way a target comes to be counted as a holder (and the finaliser's own
# mark): set-up, then the operation met by the failing allocation.
COUNTED_ANEW = {
    "construction": ("", "made = LmRenderTexture(size)"),
    "second __init__ of a killed target": (
        "target = LmRenderTexture(size); target.kill()", "target.__init__(size)"),
    "native new": ("", "made = client.new(size)"),
    "adoption": ("", "made = LmRenderTexture.from_rl_render_texture(handle)"),
    "render_texture set on a loaded target": (
        bare_with("target.loaded = True"), "target.render_texture = handle"),
    "loaded set on a target with a handle": (
        bare_with("target.render_texture = handle"), "target.loaded = True"),
    "set-state": (bare_with("state = (True, handle, size)"), "target.__setstate__(state)"),
    "unpickling": (
        "state = (True, handle, size)", f"made = lm_render_tex.__pyx_unpickle_LmRenderTexture("
                                        f"LmRenderTexture, {CHECKSUM}, state)"),
    "death": ("target = LmRenderTexture(size)", "target = None; before = None"),
    "finaliser called by hand": ("target = LmRenderTexture(size)", "target.__del__(); before = fields(target)"),
}


@pytest.mark.parametrize("setup, operation", COUNTED_ANEW.values(), ids=COUNTED_ANEW)
def test_running_out_of_memory_while_counting_holders_raises_memory_error(setup, operation):
    sweep_allocation_failures(
        OUT_OF_MEMORY_CHILD % {
            "setup": textwrap.indent(setup, " " * 4), "operation": textwrap.indent(operation, " " * 12)},
        least=25)


# ---- cyclic garbage ------------------------------------------------------------


def with_free_handle(cls):
    """A loaded target whose handle the stand-in binding does not keep alive,
    so that the handle can be part of garbage."""
    target = make(cls)
    target.render_texture = rl.RenderTexture(1, rl.Texture(2, 8, 4), rl.Texture(3, 8, 4))
    return target


def through_handle(cls):
    target = with_free_handle(cls)
    target.render_texture.owner = target
    return [target]


def referring_to_itself(cls):
    target = make(cls)
    target.me = target
    return [target]


def two_referring_to_each_other(cls):
    first, second = make(cls), make(cls)
    first.peer, second.peer = second, first
    return [first, second]


def two_sharing_a_handle(cls):
    first = with_free_handle(cls)
    second = copy.copy(first)
    first.render_texture.owners = [first, second]
    return [first, second]


GIVE_BACK_ONCE = ["is_window_ready", "unload_render_texture"]

CYCLES = {
    "through its handle": (through_handle, LmRenderTexture, GIVE_BACK_ONCE),
    "subclass through its handle": (through_handle, Sub, GIVE_BACK_ONCE),
    "slotted subclass through its handle": (through_handle, Slotted, GIVE_BACK_ONCE),
    "subclass referring to itself": (referring_to_itself, Sub, GIVE_BACK_ONCE),
    "subclass with its own __del__": (referring_to_itself, OwnFinaliser, ["__del__"] + GIVE_BACK_ONCE),
    "two referring to each other": (two_referring_to_each_other, Sub, GIVE_BACK_ONCE * 2),
    "two sharing a handle": (two_sharing_a_handle, LmRenderTexture, GIVE_BACK_ONCE),
    "two subclass instances sharing a handle": (two_sharing_a_handle, Sub, GIVE_BACK_ONCE),
}


@pytest.mark.parametrize("build, cls, expected", CYCLES.values(), ids=CYCLES)
def test_cyclic_garbage_gives_each_handle_back_once(log, build, cls, expected):
    targets = build(cls)
    handles = {id(target.render_texture) for target in targets}
    log.clear()
    del targets
    assert log == []  # garbage now, but only the collector finds it
    gc.collect()
    assert lumo_standin.names() == expected
    # Given back before any clearing: each handle still whole, and its own.
    assert {id(handle) for handle in unloaded(log)} == handles
    assert all(handle.texture.width == 8 for handle in unloaded(log))
    # The log kept some of them alive; their final death gives nothing back.
    log.clear()
    gc.collect()
    assert log == []


@pytest.mark.parametrize("build", [through_handle, referring_to_itself])
@pytest.mark.parametrize(
    "state, expected",
    [("killed", []), ("window gone", ["is_window_ready"])],
)
def test_cyclic_garbage_not_to_give_back_calls_nothing_more(log, build, state, expected):
    (target,) = build(Sub)
    if state == "killed":
        target.kill()
    else:
        lumo_standin.set_window_ready(False)
    log.clear()
    del target
    gc.collect()
    assert lumo_standin.names() == expected


def test_the_count_keeps_no_handle_alive(log):
    holders = share(with_free_handle(LmRenderTexture), copy.copy, 3)
    handle = weakref.ref(holders[0].render_texture)
    end(holders, 1, "kill")
    holders.clear()
    assert unloaded(log) == [handle()]
    log.clear()
    assert handle() is None


# ---- after the finaliser ---------------------------------------------------------

NOT_LOADED = "Render texture not loaded"
kept = []


class Clinging(LmRenderTexture):
    """Once told to cling, the clean-up's lookup of its handle keeps it alive."""

    @property
    def render_texture(self):
        if self.__dict__.pop("cling", False):
            kept.append(self)
        return LmRenderTexture.render_texture.__get__(self)


def finalised_by_hand(holders):
    holders[0].__del__()


def finalised_by_a_survived_death(holders):
    holders[0].cling = True
    holders[0] = None
    holders[0] = kept.pop()


FINALISED = {"by __del__()": finalised_by_hand, "by a death it survived": finalised_by_a_survived_death}

# What is then done with the target, and the error it gives.
AFTERWARDS = {
    "kill": (lambda target: target.kill(), AssertionError),
    "clear": (lambda target: target.clear(None), AssertionError),
    "with block": (lambda target: target.__enter__(), AssertionError),
    "copy": (lambda target: target.copy(), AssertionError),
    "death": (lambda target: None, None),
}


@pytest.mark.parametrize("afterwards, error", AFTERWARDS.values(), ids=AFTERWARDS)
@pytest.mark.parametrize("finalise", FINALISED.values(), ids=FINALISED)
@pytest.mark.parametrize("count", [1, 2], ids=["sole holder", "shared holder"])
def test_a_target_that_outlives_its_finaliser_holds_nothing(log, count, finalise, afterwards, error):
    holders = share(make(Clinging), SHARERS["adoption"], count)
    handle = holders[0].render_texture
    log.clear()
    finalise(holders)
    assert log == ([] if count > 1 else give_back("drop", handle))
    assert holders[0].loaded is False
    log.clear()
    with pytest.raises(error, match=NOT_LOADED) if error else contextlib.nullcontext():
        afterwards(holders[0])
    holders[0] = None
    assert log == []
    # The other holder is now the last, and gives the handle back.
    for sharer in holders[1:]:
        sharer.kill()
    assert unloaded(log) == [handle] * (count - 1)


LOADED_AGAIN = {
    "initialised again": lambda target: target.__init__(LmVector2(2.0, 2.0)),
    "loaded set true": lambda target: setattr(target, "loaded", True),
}


@pytest.mark.parametrize("how", ["kill", "drop"])
@pytest.mark.parametrize("load_again", LOADED_AGAIN.values(), ids=LOADED_AGAIN)
def test_a_target_loaded_again_after_its_finaliser_gives_its_handle_back(log, load_again, how):
    holders = [make()]
    holders[0].__del__()
    load_again(holders[0])
    handle = holders[0].render_texture
    log.clear()
    end(holders, 0, how)
    assert log == give_back(how, handle)


def test_a_direct_finaliser_call_gives_back_once_and_marks_only_that_object(log):
    target = make()
    handle = target.render_texture
    log.clear()
    target.__del__()
    target.__del__()
    assert log == give_back("drop", handle)
    log.clear()
    del target
    gc.collect()
    assert log == []
    # Later targets, some at the freed address, still give their own back.
    for _ in range(3):
        later = make()
        handle = later.render_texture
        log.clear()
        del later
        assert log == give_back("drop", handle)
