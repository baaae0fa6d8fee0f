"""Pickling, copying and unpickling of LmRenderTexture."""

import copy
import gc
import pickle
import traceback

import pytest
from conftest import CHECKSUM, unpickle

import lumo_standin
from lumo_standin import rl
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

VECTOR_NAME = f"{LmVector2.__module__}.{LmVector2.__qualname__}"


class Sub(LmRenderTexture):
    pass


class SlottedSub(LmRenderTexture):
    __slots__ = ()


class VectorSub(LmVector2):
    pass


class Boom:
    def __bool__(self):
        raise ZeroDivisionError("boom")


def handle():
    return rl.RenderTexture(7, rl.Texture(8, 4, 2), rl.Texture(9, 4, 2))


def fields(obj):
    return obj.loaded, obj.render_texture, obj.size


def frames(excinfo):
    """(name, file) of every traceback entry, outermost first."""
    return [(frame.name, frame.filename) for frame in traceback.extract_tb(excinfo.tb)]


# ---- reduce ----

def test_loaded_object_reduces_to_setstate_form(target):
    h, v = target.render_texture, target.size
    assert target.__reduce_cython__() == (unpickle, (LmRenderTexture, CHECKSUM, None), (True, h, v))
    assert target.__reduce__() == target.__reduce_cython__()
    target.kill()
    assert target.__reduce__()[2] == (False, h, v)


def test_bare_object_reduces_to_direct_form():
    bare = LmRenderTexture.__new__(LmRenderTexture)
    assert bare.__reduce__() == (unpickle, (LmRenderTexture, CHECKSUM, (False, None, None)))


@pytest.mark.parametrize("field", ["render_texture", "size"])
def test_any_field_set_selects_setstate_form(field):
    bare = LmRenderTexture.__new__(LmRenderTexture)
    setattr(bare, field, LmVector2(1.0, 2.0))
    assert bare.__reduce__()[1] == (LmRenderTexture, CHECKSUM, None)


def test_subclass_dict_becomes_fourth_item():
    obj = Sub.__new__(Sub)
    assert obj.__reduce__() == (unpickle, (Sub, CHECKSUM, (False, None, None)))
    obj.tag = "x"
    func, args, state = obj.__reduce__()
    assert args == (Sub, CHECKSUM, None)
    assert state == (False, None, None, {"tag": "x"}) and state[3] is obj.__dict__
    assert SlottedSub.__new__(SlottedSub).__reduce__()[1][2] == (False, None, None)


@pytest.mark.parametrize(
    "dict_value, error",
    [(Boom(), ZeroDivisionError), (RuntimeError("no"), RuntimeError), (AttributeError(), None)],
)
def test_hostile_instance_dict(dict_value, error):
    class Hostile(LmRenderTexture):
        @property
        def __dict__(self):
            if isinstance(dict_value, BaseException):
                raise dict_value
            return dict_value

    obj = Hostile.__new__(Hostile)
    if error is None:  # AttributeError means "no dictionary"
        assert obj.__reduce__()[1][2] == (False, None, None)
        return
    with pytest.raises(error) as excinfo:
        obj.__reduce__()
    assert ("lumo_ui.fast.lmrendertex.lm_render_tex.LmRenderTexture.__reduce_cython__",
            "<stringsource>") in frames(excinfo)


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((1,), {}, "__reduce_cython__() takes exactly 0 positional arguments (1 given)"),
        ((), {"x": 1}, "__reduce_cython__() got an unexpected keyword argument 'x'"),
    ],
)
def test_reduce_arguments(target, args, kwargs, message):
    with pytest.raises(TypeError) as excinfo:
        target.__reduce_cython__(*args, **kwargs)
    assert str(excinfo.value) == message


# ---- round trips ----

@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize("cls", [LmRenderTexture, Sub])
def test_pickle_round_trip(log, protocol, cls):
    obj = cls(VectorSub(64.0, 32.0))
    if cls is Sub:
        obj.tag = [1, 2]
    log.clear()
    data = pickle.dumps(obj, protocol)
    back = pickle.loads(data)
    assert log == []
    assert type(back) is cls and back.loaded is True
    assert type(back.size) is VectorSub and back.size == obj.size and back.size is not obj.size
    assert back.render_texture is not obj.render_texture
    assert back.render_texture.texture.width == 64 and back.render_texture.id == obj.render_texture.id
    assert getattr(back, "__dict__", {}) == getattr(obj, "__dict__", {})
    if protocol == 0:
        assert b"lumo_ui.fast.lmrendertex.lm_render_tex" in data
        assert b"__pyx_unpickle_LmRenderTexture" in data


@pytest.mark.parametrize("kill", [False, True])
def test_copy_and_deepcopy(target, log, kill):
    if kill:
        target.kill()
        log.clear()
    shallow = copy.copy(target)
    assert fields(shallow) == fields(target) and shallow is not target
    assert shallow.render_texture is target.render_texture and shallow.size is target.size
    deep = copy.deepcopy(target)
    assert deep.loaded is target.loaded and deep.size == target.size
    assert deep.render_texture is not target.render_texture and deep.size is not target.size
    assert log == []


# ---- unpickling function ----

@pytest.mark.parametrize("checksum", [CHECKSUM, 0x80A1750, 0x4DEE0A1, 226208704.0])
def test_accepted_checksums(checksum):
    h, v = handle(), LmVector2(1.0, 2.0)
    obj = unpickle(LmRenderTexture, checksum, (True, h, v))
    assert fields(obj) == (True, h, v) and fields(obj)[1] is h
    assert fields(unpickle(__pyx_state=None, __pyx_checksum=checksum, __pyx_type=Sub)) == (False, None, None)


@pytest.mark.parametrize("checksum, shown", [(1, "0x1"), (0, "0x0"), (-1, "0xffffffff"), (2**40 + 5, "0x5")])
def test_incompatible_checksum(checksum, shown):
    with pytest.raises(pickle.PickleError) as excinfo:
        unpickle(LmRenderTexture, checksum, None)
    assert str(excinfo.value) == (
        f"Incompatible checksums ({shown} vs (0xd7babc0, 0x80a1750, 0x4dee0a1) = "
        "(loaded, render_texture, size))"
    )


@pytest.mark.parametrize(
    "args, error, message",
    [
        ((LmRenderTexture, "1", None), TypeError, "an integer is required"),
        ((LmRenderTexture, 2**63, None), OverflowError, None),
        ((LmRenderTexture, CHECKSUM, [False, None, None]), TypeError,
         "Argument '__pyx_state' has incorrect type (expected tuple, got list)"),
        ((int, CHECKSUM, None), TypeError, None),
        ((object(), CHECKSUM, None), TypeError, None),
        ((LmRenderTexture, CHECKSUM), TypeError,
         "__pyx_unpickle_LmRenderTexture() takes exactly 3 positional arguments (2 given)"),
    ],
)
def test_unpickle_refusals(args, error, message):
    with pytest.raises(error) as excinfo:
        unpickle(*args)
    if message is not None:
        assert str(excinfo.value) == message
    assert ("lumo_ui.fast.lmrendertex.lm_render_tex.__pyx_unpickle_LmRenderTexture",
            "<stringsource>") in frames(excinfo)


def test_failed_unpickle_unloads_nothing(log):
    h = rl.load_render_texture(4, 2)
    log.clear()
    with pytest.raises(TypeError, match="Cannot convert int"):
        unpickle(LmRenderTexture, CHECKSUM, (True, h, 5))
    gc.collect()
    assert log == [] and lumo_standin.live_render_textures() == [h]


# ---- set-state ----

@pytest.mark.parametrize(
    "state, message",
    [
        ([True, None, None], "Expected tuple, got list"),
        (type("TupleSub", (tuple,), {})((True, None, None)), "Expected tuple, got TupleSub"),
        (None, "cannot pass None into a C function argument that is declared 'not None'"),
    ],
)
def test_setstate_type_errors(target, state, message):
    before = fields(target)
    with pytest.raises(TypeError) as excinfo:
        target.__setstate__(state)
    assert str(excinfo.value) == message and fields(target) == before


@pytest.mark.parametrize("flag, loaded", [(1, True), ("x", True), (None, False), (0, False), (False, False)])
def test_setstate_loaded_truth(flag, loaded):
    obj = LmRenderTexture.__new__(LmRenderTexture)
    v = VectorSub(1.0, 1.0)
    assert obj.__setstate_cython__(__pyx_state=(flag, "handle", v)) is None
    assert fields(obj) == (loaded, "handle", v)


def test_setstate_partial_update():
    obj = LmRenderTexture.__new__(LmRenderTexture)
    obj.size = old = LmVector2(3.0, 4.0)
    h = handle()
    with pytest.raises(TypeError) as excinfo:
        obj.__setstate__((True, h, 5))
    assert str(excinfo.value) == f"Cannot convert int to {VECTOR_NAME}"
    assert obj.loaded is True and obj.render_texture is h and obj.size is old
    names = [name for name, _ in frames(excinfo)]
    assert names[-2:] == [
        "lumo_ui.fast.lmrendertex.lm_render_tex.LmRenderTexture.__setstate_cython__",
        "lumo_ui.fast.lmrendertex.lm_render_tex.__pyx_unpickle_LmRenderTexture__set_state",
    ]


@pytest.mark.parametrize("state", [(), (True,), (True, "h")])
def test_short_state_changes_nothing(target, state):
    before = fields(target)
    with pytest.raises(IndexError, match="tuple index out of range"):
        target.__setstate__(state)
    assert fields(target) == before
    with pytest.raises(IndexError):
        unpickle(LmRenderTexture, CHECKSUM, state)


def test_hostile_loaded_item_changes_nothing(target):
    before = fields(target)
    with pytest.raises(ZeroDivisionError):
        target.__setstate__((Boom(), None, None))
    assert fields(target) == before


@pytest.mark.parametrize("extra", [{}, None, 0, ()])
def test_false_fourth_item_is_ignored(extra):
    obj = LmRenderTexture.__new__(LmRenderTexture)
    obj.__setstate__((True, "h", None, extra, "ignored"))
    assert fields(obj) == (True, "h", None)


@pytest.mark.parametrize("extra, error", [({"a": 1}, AttributeError), (Boom(), ZeroDivisionError)])
def test_fourth_item_failures_after_fields_set(extra, error):
    obj = LmRenderTexture.__new__(LmRenderTexture)
    with pytest.raises(error):
        obj.__setstate__((True, "h", None, extra))
    assert fields(obj) == (True, "h", None)


@pytest.mark.parametrize(
    "existing", [{"keep": 1}, {"keep": 1, "tag": "old"}], ids=["beside", "overwritten"])
def test_fourth_item_updates_instance_dict(existing):
    obj = Sub.__new__(Sub)
    obj.__dict__.update(existing)
    obj.__setstate__((False, None, None, {"tag": 2}, {"ignored": 3}))
    assert obj.__dict__ == {"keep": 1, "tag": 2}


def test_fourth_item_updates_a_custom_instance_dict():
    class Mapping:
        def __init__(self):
            self.updates = []

        def update(self, other):
            self.updates.append(other)

    class CustomDict(LmRenderTexture):
        @property
        def __dict__(self):
            return mapping

    mapping, extra = Mapping(), {"tag": 3}
    CustomDict.__new__(CustomDict).__setstate__((False, None, None, extra))
    assert mapping.updates == [extra] and mapping.updates[0] is extra

