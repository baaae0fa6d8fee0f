"""Leak gate: every operation, in its succeeding and its failing forms, runs
many times over; afterwards the reference count of every object it was given
(the target included) and the interpreter's count of allocated memory blocks
must be where they were. Shortcuts in argument handling and error paths are
where references and temporaries get lost.

Each case first runs WARM_UP times, so that caches, interned strings, free
lists and the specialising interpreter settle; then batches of ROUNDS runs
are measured. A leak of one block per call shows as ROUNDS blocks in every
batch. The interpreter itself is noisier than that: the C pickler keeps a
few hundred blocks over its first few hundred dumps, even of a plain Python
object, and now and then a batch keeps a block or a few. So a case passes as
soon as one batch gains no reference and at most SLACK blocks. The collector
is off during tests (conftest), so anything left to it would show too. Under
the sanitizers the interpreter allocates with plain malloc and counts no
blocks; the reference counts are checked all the same.
"""

import pickle
import sys
import types

import lmrt_native_client as client
import pytest
from conftest import CHECKSUM, unpickle

import lumo_standin as standin
from lumo_standin import rl
from lumo_ui.fast.lmrect.lmrect import LmRect
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

WARM_UP = 20
ROUNDS = 200
BATCHES = 4
SLACK = ROUNDS // 10


class Boom:
    """Its truth test raises."""

    def __bool__(self):
        raise ZeroDivisionError("boom")


class Overriding(LmRenderTexture):
    """A subclass whose override native callers reach with skip_dispatch 0."""

    def fast_clear(self, color):
        return None


def world():
    """Fresh objects for one case. The gate watches the reference count of
    every one of them, so each case's arguments must come from here."""
    dead = LmRenderTexture(LmVector2(8.0, 8.0))
    dead.kill()
    source = LmRenderTexture(LmVector2(16.0, 8.0))
    handle = rl.RenderTexture(7, rl.Texture(8, 4, 2), rl.Texture(9, 4, 2))
    vector = LmVector2(8.0, 4.0)
    sub = Overriding(LmVector2(8.0, 8.0))
    sub.tag = "pickled with its dict"
    target = LmRenderTexture(vector)  # its size, handle and type are watched too
    return types.SimpleNamespace(
        t=target,
        t_handle=target.render_texture,
        cls=LmRenderTexture,
        src=source,
        dead=dead,
        bare=LmRenderTexture.__new__(LmRenderTexture),
        sub=sub,
        v=vector,
        pos=(1, 2),
        rect=(1, 2, 3, 4),
        bad_dest=(1, 2, 3),
        color=(1, 2, 3, 4),
        colors=[1, 2, 3, 4],
        tint=LmRect(255.0, 255.0, 255.0, 0.0),
        tex=source.texture,
        handle=handle,
        state=(True, handle, vector),
        bad_state=(True, handle, 5),
        thing=object(),
        big=2**40,
        boom=Boom(),
    )


def case(name, call, raises=None, arm=None):
    """`call(w)` runs the operation once on world `w`; `raises` is the
    exception it must end in; `arm` names the back-end call made to fail."""
    return pytest.param(call, raises, arm, id=name)


def scope(target):
    with target:
        pass


def kill_and_revive(target):
    target.kill()
    target.loaded = True


# ---- Python methods, as applications call them -------------------------------

DRAWING = [
    case("fast_clear", lambda w: w.t.fast_clear(w.color)),
    case("fast_clear/none-color", lambda w: w.t.fast_clear(None)),
    case("fast_clear/wrong-type", lambda w: w.t.fast_clear(w.colors), TypeError),
    case("fast_clear/unloaded", lambda w: w.dead.fast_clear(w.color), AssertionError),
    case("fast_clear/back-end", lambda w: w.t.fast_clear(w.color), RuntimeError, "c_clear_background"),
    case("fast_clear/through-type", lambda w: LmRenderTexture.fast_clear(w.t, w.color)),
    case("fast_clear/foreign-self", lambda w: LmRenderTexture.fast_clear(w.thing, w.color), TypeError),
    case("clear", lambda w: w.t.clear(color=w.color)),
    case("clear/wrong-type", lambda w: w.t.clear(w.colors), TypeError),
    case("clear/unloaded", lambda w: w.dead.clear(w.color), AssertionError),
    case("clear/back-end-begin", lambda w: w.t.clear(w.color), RuntimeError, "begin_texture_mode"),
    case("clear/back-end-end", lambda w: w.t.clear(w.color), RuntimeError, "end_texture_mode"),
    case("fill", lambda w: w.t.fill(w.color)),
    case("fill/wrong-type", lambda w: w.t.fill(w.thing), TypeError),
    case("fill/back-end", lambda w: w.t.fill(w.color), RuntimeError, "c_clear_background"),
    case("scope", lambda w: scope(w.t)),
    case("scope/unloaded", lambda w: scope(w.dead), AssertionError),
    case("scope/back-end-begin", lambda w: scope(w.t), RuntimeError, "begin_texture_mode"),
    case("scope/back-end-end", lambda w: scope(w.t), RuntimeError, "end_texture_mode"),
]

BLITS = [
    case("fast_blit/position", lambda w: w.t.fast_blit(w.src, w.pos)),
    case("fast_blit/rect", lambda w: w.t.fast_blit(w.src, w.rect, False, w.color)),
    case("fast_blit/keywords", lambda w: w.t.fast_blit(w.src, w.rect, flip=False, color=None)),
    case("fast_blit/twice-given", lambda w: w.t.fast_blit(w.src, w.pos, dest=w.pos), TypeError),
    case("fast_blit/wrong-source", lambda w: w.t.fast_blit(w.thing, w.pos), TypeError),
    case("fast_blit/bad-dest", lambda w: w.t.fast_blit(w.src, w.bad_dest), ValueError),
    case("fast_blit/flip-raises", lambda w: w.t.fast_blit(w.src, w.pos, w.boom), ZeroDivisionError),
    case("fast_blit/back-end", lambda w: w.t.fast_blit(w.src, w.pos), RuntimeError, "c_draw_texture_vec"),
    case("fast_blit/back-end-rect", lambda w: w.t.fast_blit(w.src, w.rect), RuntimeError,
         "c_draw_texture_rec"),
    case("blit/position", lambda w: w.t.blit(w.src, w.pos)),
    case("blit/rect-keywords", lambda w: w.t.blit(w.src, w.rect, flip=False, color=w.color)),
    case("blit/overflow", lambda w: w.t.blit(w.src, w.pos, w.big), OverflowError),
    case("blit/wrong-color", lambda w: w.t.blit(w.src, w.pos, color=w.colors), TypeError),
    case("blit/unloaded", lambda w: w.dead.blit(w.src, w.pos), AssertionError),
    case("blit/back-end-blend", lambda w: w.t.blit(w.src, w.rect), RuntimeError, "begin_blend_mode"),
    case("blit/back-end-draw", lambda w: w.t.blit(w.src, w.rect), RuntimeError, "c_draw_texture_rec"),
    case("lmblit", lambda w: w.t.lmblit(w.src, w.v)),
    case("lmblit/keywords", lambda w: w.t.lmblit(w.src, w.v, blend_mode=1, flip=False, color=w.tint)),
    case("lmblit/wrong-dest", lambda w: w.t.lmblit(w.src, w.pos), TypeError),
    case("lmblit/wrong-tint", lambda w: w.t.lmblit(w.src, w.v, color=w.color), TypeError),
    case("lmblit/unloaded", lambda w: w.dead.lmblit(w.src, w.v), AssertionError),
    case("lmblit/back-end", lambda w: w.t.lmblit(w.src, w.v), RuntimeError, "c_draw_lmtexture_lmvec"),
    case("fast_blit_texture", lambda w: w.t.fast_blit_texture(w.tex, w.pos)),
    case("fast_blit_texture/keywords",
         lambda w: w.t.fast_blit_texture(w.tex, w.rect, flip=False, color=w.color)),
    case("fast_blit_texture/wrong-dest", lambda w: w.t.fast_blit_texture(w.tex, w.colors), TypeError),
    case("fast_blit_texture/back-end", lambda w: w.t.fast_blit_texture(w.tex, w.pos), RuntimeError,
         "fast_blit_pro"),
    case("blit_texture", lambda w: w.t.blit_texture(w.tex, w.pos, 1, False, w.color)),
    case("blit_texture/unloaded", lambda w: w.dead.blit_texture(w.tex, w.pos), AssertionError),
    case("blit_texture/back-end", lambda w: w.t.blit_texture(w.tex, w.pos), RuntimeError, "fast_blit_pro"),
]

GEOMETRY_AND_LIFE = [
    case("get_width", lambda w: w.t.get_width()),
    case("get_height", lambda w: w.t.get_height()),
    case("get_rect", lambda w: w.t.get_rect()),
    case("get_width/no-size", lambda w: w.bare.get_width(), AttributeError),
    case("get_rect/no-size", lambda w: w.bare.get_rect(), AttributeError),
    case("kill", lambda w: kill_and_revive(w.t)),
    case("kill/unloaded", lambda w: w.dead.kill(), AssertionError),
    case("kill/back-end", lambda w: w.t.kill(), RuntimeError, "unload_render_texture"),
    case("construct", lambda w: LmRenderTexture(w.v)),
    case("construct/keyword", lambda w: LmRenderTexture(size=w.v)),
    case("construct/missing-arg", lambda w: LmRenderTexture(), TypeError),
    case("construct/bad-keyword", lambda w: LmRenderTexture(w.v, nope=w.thing), TypeError),
    case("construct/wrong-type", lambda w: LmRenderTexture(w.pos), TypeError),
    case("construct/back-end", lambda w: LmRenderTexture(w.v), RuntimeError, "load_render_texture"),
    case("construct/unload-fails-when-freed", lambda w: LmRenderTexture(w.v), None, "unload_render_texture"),
    case("construct/window-check-fails-when-freed", lambda w: LmRenderTexture(w.v), None, "is_window_ready"),
    case("reinit", lambda w: w.t.__init__(w.v)),
    case("from_rl_render_texture", lambda w: LmRenderTexture.from_rl_render_texture(w.handle).kill()),
    case("from_rl_render_texture/not-a-handle",
         lambda w: LmRenderTexture.from_rl_render_texture(w.thing), AttributeError),
    case("copy", lambda w: w.t.copy()),
    case("copy/no-flip", lambda w: w.t.copy(flip=False)),
    case("copy/unloaded", lambda w: w.dead.copy(), AssertionError),
    case("copy/load-fails", lambda w: w.t.copy(), RuntimeError, "load_render_texture"),
    case("copy/draw-fails", lambda w: w.t.copy(), RuntimeError, "c_draw_texture_vec"),
]

PICKLING = [
    case("pickle-round-trip", lambda w: pickle.loads(pickle.dumps(w.t)).kill()),
    case("pickle-round-trip/bare", lambda w: pickle.loads(pickle.dumps(w.bare))),
    case("pickle-round-trip/subclass-dict", lambda w: pickle.loads(pickle.dumps(w.sub)).kill()),
    case("__reduce__", lambda w: w.t.__reduce__()),
    case("__reduce_cython__", lambda w: w.t.__reduce_cython__()),
    case("__setstate_cython__", lambda w: w.bare.__setstate_cython__(w.state)),
    case("__setstate__", lambda w: w.bare.__setstate__(w.state)),
    case("__setstate__/own-handle", lambda w: w.t.__setstate__((True, w.t_handle, w.v))),
    case("__setstate__/bad-size", lambda w: w.t.__setstate__(w.bad_state), TypeError),
    case("__setstate_cython__/wrong-type", lambda w: w.bare.__setstate_cython__(w.thing), TypeError),
    case("__setstate_cython__/short", lambda w: w.bare.__setstate_cython__(w.pos), IndexError),
    case("unpickle", lambda w: unpickle(LmRenderTexture, CHECKSUM, w.state)),
    case("unpickle/bad-checksum", lambda w: unpickle(LmRenderTexture, 1, w.state), pickle.PickleError),
    case("unpickle/bad-state", lambda w: unpickle(LmRenderTexture, CHECKSUM, w.thing), TypeError),
    case("unpickle/bad-size", lambda w: unpickle(LmRenderTexture, CHECKSUM, w.bad_state), TypeError),
]

PROPERTIES = [
    *(
        case(f"get-{name}", lambda w, name=name: getattr(w.t, name))
        for name in ("render_texture", "size", "loaded", "texture", "id", "depth", "width", "height")
    ),
    *(
        case(f"get-{name}/none", lambda w, name=name: getattr(w.bare, name), AttributeError)
        for name in ("texture", "id", "depth", "width", "height")
    ),
    case("set-render_texture", lambda w: setattr(w.t, "render_texture", w.handle)),
    case("set-size", lambda w: setattr(w.t, "size", w.v)),
    case("set-size/wrong-type", lambda w: setattr(w.t, "size", w.pos), TypeError),
    case("set-loaded", lambda w: setattr(w.t, "loaded", w.pos)),
    case("set-loaded/truth-raises", lambda w: setattr(w.t, "loaded", w.boom), ZeroDivisionError),
    case("set-texture/read-only", lambda w: setattr(w.t, "texture", w.tex), AttributeError),
    case("del-render_texture", lambda w: delattr(w.bare, "render_texture")),
    case("del-size", lambda w: delattr(w.bare, "size")),
    case("del-loaded", lambda w: delattr(w.t, "loaded"), NotImplementedError),
    case("del-width/read-only", lambda w: delattr(w.t, "width"), AttributeError),
]


# Every Python method, with (required, total) positional parameters: called
# with one argument too many, with one too few, and with an unknown keyword.
METHODS = {
    "blit": (2, 5), "lmblit": (2, 5), "fast_blit": (2, 4), "blit_texture": (2, 5),
    "fast_blit_texture": (2, 4), "clear": (1, 1), "fast_clear": (1, 1), "fill": (1, 1),
    "kill": (0, 0), "get_rect": (0, 0), "get_height": (0, 0), "get_width": (0, 0), "copy": (0, 1),
    "__enter__": (0, 0), "__exit__": (3, 3), "__reduce__": (0, 0), "__reduce_cython__": (0, 0),
    "__setstate__": (1, 1), "__setstate_cython__": (1, 1), "from_rl_render_texture": (1, 1),
}


def calling(name, count, **keywords):
    """Calls the target's method `name` with `count` placeholder arguments."""
    return lambda w: getattr(w.t, name)(*[w.pos] * count, **keywords)


ARGUMENT_ERRORS = [
    *(case(f"{name}/too-many", calling(name, total + 1), TypeError) for name, (_, total) in METHODS.items()),
    *(
        case(f"{name}/too-few", calling(name, required - 1), TypeError)
        for name, (required, _) in METHODS.items()
        if required
    ),
    *(case(f"{name}/bad-keyword", calling(name, total, nope=1), TypeError) for name, (_, total) in METHODS.items()),
]


# ---- the native method table, through the test client ------------------------

def native(name, call, raises=None, arm=None):
    return case(f"native-{name}", lambda w: call(w, client), raises, arm)


NATIVE = [
    native("c_fast_clear", lambda w, c: c.c_fast_clear(w.t, w.color)),
    native("c_fast_clear/back-end", lambda w, c: c.c_fast_clear(w.t, w.color), RuntimeError,
           "c_clear_background"),
    native("c_clear", lambda w, c: c.c_clear(w.t, w.color)),
    native("clear/unloaded", lambda w, c: c.clear(w.dead, w.color, 1), AssertionError),
    native("fast_clear", lambda w, c: c.fast_clear(w.t, w.color, 1)),
    native("fast_clear/dispatch", lambda w, c: c.fast_clear(w.sub, w.color, 0)),
    native("fast_clear/unloaded", lambda w, c: c.fast_clear(w.dead, w.color, 1), AssertionError),
    native("clear/back-end", lambda w, c: c.clear(w.t, w.color, 1), RuntimeError, "end_texture_mode"),
    native("fill", lambda w, c: c.fill(w.t, w.color, 0)),
    native("kill", lambda w, c: (c.kill(w.t, 1), setattr(w.t, "loaded", True))),
    native("kill/unloaded", lambda w, c: c.kill(w.dead, 1), AssertionError),
    native("get_width", lambda w, c: c.get_width(w.t, 1)),
    native("get_height/no-size", lambda w, c: c.get_height(w.bare, 1), AttributeError),
    native("get_rect", lambda w, c: c.get_rect(w.t, 0)),
    native("get_rect/no-size", lambda w, c: c.get_rect(w.bare, 1), AttributeError),
    native("c_fast_blit/position", lambda w, c: c.c_fast_blit(w.t, w.src, w.pos, 1, w.color)),
    native("c_fast_blit/rect", lambda w, c: c.c_fast_blit(w.t, w.src, w.rect, 0, None)),
    native("c_fast_blit/bad-dest", lambda w, c: c.c_fast_blit(w.t, w.src, w.bad_dest, 1, w.color),
           ValueError),
    native("c_fast_blit/back-end", lambda w, c: c.c_fast_blit(w.t, w.src, w.rect, 1, w.color), RuntimeError,
           "c_draw_texture_rec"),
    native("c_fast_lmblit", lambda w, c: c.c_fast_lmblit(w.t, w.src, w.v, 0, 1, w.tint)),
    native("c_fast_lmblit/back-end", lambda w, c: c.c_fast_lmblit(w.t, w.src, w.v, 0, 1, w.tint), RuntimeError,
           "c_draw_lmtexture_lmvec"),
    native("c_fast_blit_texture", lambda w, c: c.c_fast_blit_texture(w.t, w.tex, w.pos, 1, w.color)),
    native("c_fast_blit_texture/back-end", lambda w, c: c.c_fast_blit_texture(w.t, w.tex, w.pos, 1, w.color),
           RuntimeError, "fast_blit_pro"),
    native("c_get_texture", lambda w, c: c.c_get_texture(w.t)),
    native("c_get_texture/none", lambda w, c: c.c_get_texture(w.bare), AttributeError),
    native("new", lambda w, c: c.new(w.v)),
    native("new/back-end", lambda w, c: c.new(w.v), RuntimeError, "load_render_texture"),
]


def churn(call, w, rounds, raises, arm):
    """Runs the case `rounds` times. The platform is reset after each run: its
    call log holds the very objects passed to the back-end, and its record of
    loaded render textures keeps those that a failed unload left behind."""
    for _ in range(rounds):
        if arm:
            standin.fail_at(arm, RuntimeError)
        try:
            call(w)
        except raises or ():
            pass
        else:
            if raises:
                pytest.fail(f"expected {raises}, nothing raised")
        missed = standin.pending_failures()
        standin.reset()
        if missed:
            pytest.fail(f"the failing back-end call {arm} was never made")


def refcounts(w):
    return {name: sys.getrefcount(value) for name, value in vars(w).items()}


def growth(call, w, raises, arm):
    """References gained by each object of the world, and memory blocks
    gained, over ROUNDS runs."""
    before = refcounts(w)
    blocks = sys.getallocatedblocks()
    blocks = sys.getallocatedblocks()  # now counting the int that holds it
    churn(call, w, ROUNDS, raises, arm)
    grown = sys.getallocatedblocks() - blocks
    after = refcounts(w)
    return {name: after[name] - count for name, count in before.items() if after[name] != count}, grown


def assert_no_leak(call, raises=None, arm=None):
    w = world()
    churn(call, w, WARM_UP, raises, arm)
    for _ in range(BATCHES):
        references, blocks = growth(call, w, raises, arm)
        if not references and blocks <= SLACK:
            return
    pytest.fail(f"after {ROUNDS} rounds, every batch: references gained {references}, blocks {blocks}")


@pytest.mark.parametrize(
    "call, raises, arm",
    DRAWING + BLITS + GEOMETRY_AND_LIFE + PICKLING + PROPERTIES + ARGUMENT_ERRORS + NATIVE,
)
def test_repeating_an_operation_leaks_nothing(call, raises, arm):
    assert_no_leak(call, raises, arm)


HOARD = []


@pytest.mark.parametrize(
    "call",
    [
        pytest.param(lambda w: HOARD.append(w.color), id="reference-per-call"),
        pytest.param(
            lambda w: HOARD.append([]),
            id="block-per-call",
            marks=pytest.mark.skipif(sys.getallocatedblocks() == 0, reason="the allocator counts no blocks"),
        ),
    ],
)
def test_the_gate_sees_a_leak(call):
    try:
        with pytest.raises(pytest.fail.Exception, match="every batch"):
            assert_no_leak(call)
    finally:
        HOARD.clear()
