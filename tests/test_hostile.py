"""Every Python-level entry point fed with hostile arguments: any exception
is fine, a crash or a swallowed error is not. Most useful under the
sanitizers."""

import gc
import itertools

import pytest
from conftest import CHECKSUM, unpickle

import lumo_standin as standin
from lumo_ui.fast.lmrect.lmrect import LmRect
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2


class Hostile:
    """Raises from every conversion and truth test."""

    def __bool__(self):
        raise RuntimeError("truth")

    def __int__(self):
        raise RuntimeError("int")

    def __index__(self):
        raise RuntimeError("index")

    def __float__(self):
        raise RuntimeError("float")

    def __len__(self):
        raise RuntimeError("len")

    def __getattr__(self, name):
        raise RuntimeError(name)


class WrongInt:
    def __int__(self):
        return "not an int"


def values():
    bare = LmRenderTexture.__new__(LmRenderTexture)
    loaded = LmRenderTexture(LmVector2(2, 3))
    return [None, 0, -1, 2**31, 2**80, 1.9, float("nan"), "7", b"", [], (), (1, 2), (1, 2, 3, 4),
            (1, 2, 3), object(), Hostile(), WrongInt(), LmVector2(1, 1), LmRect(1, 1, 1, 1), bare,
            loaded, LmRenderTexture, {"a": 1}]


METHODS = {
    "blit": 5, "lmblit": 5, "fast_blit": 4, "blit_texture": 5, "fast_blit_texture": 4,
    "clear": 1, "fast_clear": 1, "fill": 1, "kill": 0, "get_rect": 0, "get_width": 0,
    "get_height": 0, "copy": 1, "__enter__": 0, "__exit__": 3, "__reduce_cython__": 0,
    "__setstate_cython__": 1,
}


def call_quietly(function, *args, **kwargs):
    """Calls and forgets ordinary failures; a SystemError means an exception
    was left set or lost on the way, which is a fault."""
    try:
        function(*args, **kwargs)
    except SystemError:
        raise
    except Exception:
        pass


@pytest.mark.parametrize("name", sorted(METHODS))
def test_methods_survive_hostile_arguments(name):
    pool = values()
    arity = METHODS[name]
    for self_value in (LmRenderTexture.__new__(LmRenderTexture), LmRenderTexture(LmVector2(4, 4))):
        method = getattr(LmRenderTexture, name)
        for count in range(arity + 2):
            for args in itertools.islice(itertools.product(pool, repeat=count), 400):
                call_quietly(method, self_value, *args)
                self_value.loaded = True
        for value in pool:
            call_quietly(method, value)
            call_quietly(method, self_value, bogus=value)
    standin.reset()
    gc.collect()


@pytest.mark.parametrize("value", values(), ids=lambda value: type(value).__name__)
def test_constructors_and_module_functions_survive(value):
    call_quietly(LmRenderTexture, value)
    call_quietly(LmRenderTexture.from_rl_render_texture, value)
    for state in (value, (value, value, value), (value,), (value, value, value, value)):
        call_quietly(unpickle, LmRenderTexture, CHECKSUM, state)
        call_quietly(unpickle, value, value, state)
    target = LmRenderTexture.__new__(LmRenderTexture)
    for name in ("render_texture", "size", "loaded"):
        call_quietly(setattr, target, name, value)
        call_quietly(delattr, target, name)
    gc.collect()
