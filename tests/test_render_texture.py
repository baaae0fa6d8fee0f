"""The render target object: constructors, native accessor, properties,
garbage-collector support, and the record as a sibling module reads it."""

import functools
import gc

import pytest

import lumo_standin as standin
from conftest import entries, fail_at_call, fail_in_replaced, references_kept
from lumo_ui.fast.lmrect.lmrect import LmRect
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

VECTOR = "lumo_ui.fast.lmvector2.lmvector2.LmVector2"


class Vector(LmVector2):
    pass


class Truthless:
    def __bool__(self):
        raise ZeroDivisionError("no truth")


def test_constructor_truncates_the_size_and_keeps_the_vector(log):
    size = LmVector2(100.7, 50.2)
    target = LmRenderTexture(size)
    assert log == [("load_render_texture", 100, 50)]
    assert target.size is size and target.width == 100.7 and target.height == 50.2
    assert target.loaded is True and target.render_texture is standin.live_render_textures()[0]
    size.x = 12.0
    assert target.width == 12.0


@pytest.mark.parametrize("make", [
    lambda v: LmRenderTexture(size=v),
    lambda v: LmRenderTexture(v),
])
def test_subclassed_vector_by_position_or_keyword(make, log):
    size = Vector(3, 4)
    made = make(size)
    assert made.size is size
    assert log == [("load_render_texture", 3, 4)]


@pytest.mark.parametrize("args, kwargs, error, message", [
    ((None,), {}, TypeError, f"Argument 'size' has incorrect type (expected {VECTOR}, got NoneType)"),
    (((1, 2),), {}, TypeError, f"Argument 'size' has incorrect type (expected {VECTOR}, got tuple)"),
    ((), {}, TypeError, "__init__() takes exactly 1 positional argument (0 given)"),
    ((LmVector2(), LmVector2()), {}, TypeError, "__init__() takes exactly 1 positional argument (2 given)"),
    ((LmVector2(),), {"size": LmVector2()}, TypeError, "__init__() got multiple values for keyword argument 'size'"),
    ((), {"length": LmVector2()}, TypeError, "__init__() takes exactly 1 positional argument (0 given)"),
    ((LmVector2(),), {"length": 1}, TypeError, "__init__() got an unexpected keyword argument 'length'"),
    # More keywords than parameters: bound from a buffer on the heap.
    ((LmVector2(),), {f"k{i}": i for i in range(6)}, TypeError,
     "__init__() got an unexpected keyword argument 'k0'"),
])
def test_constructor_refuses_bad_arguments_before_loading(args, kwargs, error, message, log):
    with pytest.raises(error) as excinfo:
        LmRenderTexture(*args, **kwargs)
    assert str(excinfo.value) == message
    assert entries(excinfo) == ["__init__"]
    assert log == []


class Layer(LmRenderTexture):
    """A subclass with a constructor of its own."""

    def __init__(self, width, height):
        self.made_by_layer = True
        super().__init__(LmVector2(width, height))


@pytest.mark.parametrize("make", [
    lambda size: LmRenderTexture(*[size]),
    lambda size: LmRenderTexture(**{"size": size}),
    lambda size: type.__call__(LmRenderTexture, size),
    lambda size: functools.partial(LmRenderTexture)(size),
], ids=["star", "double star", "type call", "partial"])
def test_every_call_form_constructs_alike(make, log):
    size = LmVector2(6, 2)
    made = make(size)
    assert type(made) is LmRenderTexture and made.size is size and made.loaded
    assert log == [("load_render_texture", 6, 2)]


def test_a_subclass_constructs_through_its_own_init(log):
    layer = Layer(4, 3)
    assert layer.made_by_layer and layer.loaded and layer.width == 4
    assert log == [("load_render_texture", 4, 3)]


def test_keywords_that_are_not_strings_are_refused_in_the_constructors_words(log):
    # The generic type call hands the keywords to __init__ as a dict, so the
    # message names __init__ (a vectorcall constructor would lose that: the
    # interpreter refuses such keywords first, in words of its own).
    with pytest.raises(TypeError, match=r"^__init__\(\) keywords must be strings$"):
        LmRenderTexture(LmVector2(), **{1: 2})
    assert log == []


@pytest.mark.parametrize("x, loaded_width", [(7, 7), (7.9, 7), (-2.5, -2), ("12", 12), (True, 1)])
def test_size_components_convert_like_int(x, loaded_width, log):
    vector = type("V", (LmVector2,), {"x": property(lambda self: x)})(0, 5)
    made = LmRenderTexture(vector)
    assert made.size is vector
    assert log == [("load_render_texture", loaded_width, 5)]


@pytest.mark.parametrize("x, error", [("wide", ValueError), (object(), TypeError), (None, TypeError)])
def test_failed_load_stores_nothing(x, error, log):
    vector = type("V", (LmVector2,), {"x": property(lambda self: x)})(0, 5)
    target = LmRenderTexture.__new__(LmRenderTexture)
    with pytest.raises(error) as excinfo:
        target.__init__(vector)
    assert entries(excinfo) == ["__init__"]
    assert (target.render_texture, target.size, target.loaded) == (None, None, False)
    assert log == []


def test_failed_back_end_load_leaves_no_loaded_object(log):
    standin.fail_at("load_render_texture", MemoryError("no VRAM"))
    size = LmVector2(2, 2)
    with references_kept(size):
        with pytest.raises(MemoryError, match="no VRAM"):
            LmRenderTexture(size)
        assert standin.names() == ["load_render_texture"]


def test_second_init_replaces_the_handle_without_unloading(target, log):
    first = target.render_texture
    other = LmVector2(5, 6)
    target.__init__(other)
    assert target.render_texture is not first and target.size is other
    assert log == [("load_render_texture", 5, 6)]


def test_from_rl_render_texture_adopts_the_handle(log):
    handle = standin.rl.load_render_texture(640, 480)
    log.clear()
    target = LmRenderTexture.from_rl_render_texture(handle)
    assert target.render_texture is handle and target.loaded is True
    assert (target.size.x, target.size.y) == (640.0, 480.0)
    assert type(target.width) is float
    assert log == [("LmVector2.new", 640.0, 480.0)]


@pytest.mark.parametrize("handle, error", [
    (object(), AttributeError),
    (type("H", (), {"texture": type("T", (), {"width": "640", "height": 1})()})(), TypeError),
    (type("H", (), {"texture": type("T", (), {"width": 640})()})(), AttributeError),
])
def test_from_rl_render_texture_releases_a_half_built_object(handle, error, log):
    with references_kept(handle):
        with pytest.raises(error) as excinfo:
            LmRenderTexture.from_rl_render_texture(handle)
        assert entries(excinfo) == ["from_rl_render_texture"]
        assert log == []
        del excinfo  # an AttributeError keeps the object it was raised for


def test_from_rl_render_texture_reports_a_failed_vector(log):
    handle = standin.rl.load_render_texture(3, 3)
    standin.fail_at("LmVector2.new", OverflowError("too big"))
    with pytest.raises(OverflowError):
        LmRenderTexture.from_rl_render_texture(handle)
    assert standin.names() == ["load_render_texture", "LmVector2.new"]


class Shown:
    """Its own __getattribute__ answers for the names in `shown`, before the
    type's C getters of the same names."""

    def __getattribute__(self, name):
        if name in type(self).shown:
            return ("shown", name)
        return super().__getattribute__(name)


class ShownHandle(Shown, LmRenderTexture):
    shown = ("texture", "id", "depth")


class ShownVector(Shown, LmVector2):
    shown = ("x", "y")


# A field's value, and the derived properties that read its attributes.
READ_THROUGH = {
    "the binding's handle": ("render_texture", None, ["texture", "id", "depth"]),
    "a handle with C getters behind its own __getattribute__": (
        "render_texture", lambda: ShownHandle.__new__(ShownHandle), ["texture", "id", "depth"]),
    "a vector with C getters behind its own __getattribute__": (
        "size", lambda: ShownVector(1.0, 2.0), ["width", "height"]),
}
SOURCE_OF = {"texture": "texture", "id": "id", "depth": "depth", "width": "x", "height": "y"}


@pytest.mark.parametrize("field, make, names", READ_THROUGH.values(), ids=READ_THROUGH)
def test_derived_properties_read_through(target, field, make, names):
    if make:
        setattr(target, field, make())
    value = getattr(target, field)
    # Twice: a repeated read may skip the lookup only where the lookup would
    # call the same getter.
    for _ in range(2):
        assert [getattr(target, name) for name in names] == [
            getattr(value, SOURCE_OF[name]) for name in names]


@pytest.mark.parametrize("name", ["texture", "id", "depth", "width", "height"])
def test_derived_properties_are_read_only_and_fail_on_none(name):
    bare = LmRenderTexture.__new__(LmRenderTexture)
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute") as excinfo:
        getattr(bare, name)
    assert entries(excinfo) == [f"{name}.__get__"]
    with pytest.raises(AttributeError, match="not writable"):
        setattr(bare, name, 1)
    with pytest.raises(AttributeError, match="not writable"):
        delattr(bare, name)


def test_size_setter_takes_vectors_or_none(target):
    size = target.size
    with pytest.raises(TypeError, match=f"^Cannot convert tuple to {VECTOR}$") as excinfo:
        target.size = (1, 2)
    assert entries(excinfo) == ["size.__set__"]
    assert target.size is size
    target.size = replacement = Vector(1, 2)
    assert target.size is replacement
    target.size = None
    assert target.size is None
    target.size = size
    del target.size
    assert target.size is None
    with pytest.raises(AttributeError):
        target.width


def test_render_texture_setter_takes_anything(target):
    target.render_texture = 42
    assert target.render_texture == 42
    del target.render_texture
    assert target.render_texture is None


@pytest.mark.parametrize("value, loaded", [(0, False), ("x", True), (None, False), ([], False), (2.5, True)])
def test_loaded_setter_takes_the_truth(target, value, loaded):
    target.loaded = value
    assert target.loaded is loaded


def test_loaded_setter_failures_leave_the_flag(target):
    with pytest.raises(ZeroDivisionError) as excinfo:
        target.loaded = Truthless()
    assert entries(excinfo) == ["loaded.__set__"]
    assert target.loaded is True
    with pytest.raises(NotImplementedError, match="^__del__$"):
        del target.loaded


def test_collector_sees_and_clears_both_fields(log):
    target = LmRenderTexture(LmVector2(2, 1))
    assert gc.get_referents(target) == [target.render_texture, target.size]
    target.kill()
    log.clear()
    # A tuple cannot be cleared, so only the target's clearing breaks this cycle.
    target.render_texture = (target,)
    del target
    assert gc.collect() > 0
    assert log == []


# ---- the record and table as a sibling module sees them ----------------------

def test_native_constructor_and_record_layout(client, log):
    size = LmVector2(8.9, 4)
    made = client.new(size)
    assert type(made) is LmRenderTexture
    assert client.fields(made) == (made.render_texture, size, 1)
    assert log == [("load_render_texture", 8, 4)]
    made.loaded = False
    assert client.fields(made)[2] == 0


@pytest.mark.parametrize("size, error", [(None, AttributeError), (object(), AttributeError)])
def test_native_constructor_releases_half_built_objects(client, size, error, log):
    with pytest.raises(error) as excinfo:
        client.new(size)
    assert entries(excinfo) == ["new"]
    assert log == []


def test_native_texture_accessor(client, target):
    assert client.c_get_texture(target) is target.render_texture.texture
    target.render_texture = None
    with pytest.raises(AttributeError) as excinfo:
        client.c_get_texture(target)
    assert entries(excinfo) == ["c_get_texture"]


# ---- a native subclass with its own table ------------------------------------

def bracketed(*draw):
    return ["begin_blend_mode", "begin_texture_mode", *draw, "end_texture_mode", "end_blend_mode"]


CLEARED = ["sub.c_clear", "begin_texture_mode", "sub.c_fast_clear", "c_clear_background",
           "end_texture_mode"]

# Every Python method that reaches the object's method table, called on
# each test sibling's native subclass: its answer, and the log of the call, where
# "sub.<entry>" is a replaced entry running (each delegates to the type's
# own, and the size queries add 0.5 to its answer).
THROUGH_THE_TABLE = [
    ("blit", ("SRC", (1, 2)), None, bracketed("sub.c_fast_blit", "c_draw_texture_vec")),
    ("lmblit", ("SRC", LmVector2(1.0, 2.0)), None, bracketed("sub.c_fast_lmblit", "c_draw_lmtexture_lmvec")),
    ("fast_blit", ("SRC", (1, 2, 3, 4)), None, ["sub.c_fast_blit", "c_draw_texture_rec"]),
    ("blit_texture", ("tex", (1, 2)), None, bracketed("sub.c_fast_blit_texture", "fast_blit_pro")),
    ("fast_blit_texture", ("tex", (1, 2)), None, ["sub.c_fast_blit_texture", "fast_blit_pro"]),
    ("clear", ((1, 2, 3, 4),), None, ["sub.clear"] + CLEARED),
    ("fill", ((1, 2, 3, 4),), None, ["sub.fill"] + CLEARED),
    ("fast_clear", ((1, 2, 3, 4),), None, ["sub.fast_clear", "sub.c_fast_clear", "c_clear_background"]),
    ("kill", (), None, ["sub.kill", "unload_render_texture"]),
    ("get_rect", (), (0.0, 0.0, 64.0, 32.0), ["sub.get_rect", "LmRect.new"]),
    ("get_width", (), 64.5, ["sub.get_width"]),
    ("get_height", (), 32.5, ["sub.get_height"]),
]


def call_through_table(target, source, method, args):
    # The type's method, called through the type: a Cython subclass's
    # overrides of the overridable entries come with Python methods of the
    # same names, which would otherwise shadow the module's.
    result = getattr(LmRenderTexture, method)(target, *(source if arg == "SRC" else arg
                                                        for arg in args))
    return (result.x, result.y, result.w, result.h) if isinstance(result, LmRect) else result


@pytest.mark.parametrize("method, args, answer, expected_log", THROUGH_THE_TABLE)
def test_python_methods_run_the_entries_of_the_objects_own_table(native_sub, source, log, method,
                                                                  args, answer, expected_log):
    assert call_through_table(native_sub, source, method, args) == answer
    assert standin.names() == expected_log


# Each replaced entry on each path, failing: its exception comes out as it
# was raised, nothing after it reaches the back-end, and the traceback holds
# the method's entry and those of the type's entries it was called from.
@pytest.mark.parametrize("method, args, failing, expected_log, expected_entries", [
    (method, args, entry[4:], path[:at + 1],
     [method] + [outer[4:] for outer in path[:at] if outer.startswith("sub.")])
    for method, args, _, path in THROUGH_THE_TABLE
    for at, entry in enumerate(path) if entry.startswith("sub.")
])
def test_a_failing_replaced_entry_fails_the_python_method(native_sub, source, log, method, args,
                                                          failing, expected_log, expected_entries):
    outcome = fail_at_call(failing, lambda: call_through_table(native_sub, source, method, args),
                           arm=fail_in_replaced)
    assert outcome == (expected_log, expected_entries)
