"""What a method shows as a parameter's default (its __defaults__ and
signature) is what it does when the argument is left out."""

import inspect

import pytest

from lumo_ui.core.modules import rl
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

# The required arguments of each method with a default, given the source
# target to draw from.
REQUIRED = {
    "blit": lambda source: (source, (1, 2)),
    "lmblit": lambda source: (source, LmVector2(1.0, 2.0)),
    "fast_blit": lambda source: (source, (1, 2)),
    "blit_texture": lambda source: ("texture", (1, 2)),
    "fast_blit_texture": lambda source: ("texture", (1, 2)),
    "copy": lambda source: (),
}

# Every (method, parameter) with a default, found by introspection, so that
# a default added to any method is tested here (and needs its REQUIRED row).
OPTIONAL = [
    (name, parameter.name)
    for name, member in vars(LmRenderTexture).items()
    if getattr(member, "__defaults__", None)
    for parameter in inspect.signature(member).parameters.values()
    if parameter.default is not parameter.empty
]


def comparable(log):
    """The log with each handle replaced by the order of its first
    appearance: a call that makes a target (copy) makes new handles each
    time, which are equal only to themselves."""
    seen = {}

    def item(value):
        if isinstance(value, (rl.RenderTexture, rl.Texture)):
            return "handle %d" % seen.setdefault(id(value), len(seen))
        return value

    return [tuple(item(value) for value in entry) for entry in log]


def test_every_method_with_a_default_is_covered():
    assert {name for name, _ in OPTIONAL} == REQUIRED.keys()


@pytest.mark.parametrize("name, parameter", OPTIONAL)
def test_left_out_argument_takes_the_default_introspection_shows(target, source, log, name, parameter):
    method = getattr(target, name)
    arguments = REQUIRED[name](source)
    default = inspect.signature(method).parameters[parameter].default
    kept = [method(*arguments)]  # what copy makes is dropped after the logs are read
    left_out = comparable(log)
    log.clear()
    kept.append(method(*arguments, **{parameter: default}))
    assert left_out
    assert comparable(log) == left_out
