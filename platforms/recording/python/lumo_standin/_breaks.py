"""Deliberately broken variants of the stand-ins, for import-failure tests.

The environment variable LUMO_STANDIN_BREAK holds comma-separated tokens
``KIND`` or ``KIND:ARG``.  It is read once, when the stand-ins are first
imported, and unknown or contradictory tokens are refused at once, so that
a mistyped token cannot quietly select nothing.
"""

import os

# The drawing back-end's C functions, in the order of its C-API dict, as the
# native half lists them. It imports this module while it is being set up,
# once it has published the names and before it builds anything broken.
from ._native import CAPI_NAMES

ENV = "LUMO_STANDIN_BREAK"

TYPES = ("LmVector2", "LmRect", "LmShader")

# The stand-in modules and the public names each one defines.
MODULES = {
    "lumo_ui.fast.lmvector2.lmvector2": ("LmVector2",),
    "lumo_ui.fast.lmrect.lmrect": ("LmRect",),
    "lumo_ui.fast.lmshader.lmshader": ("LmShader",),
    "lumo_ui.fast.raylib.lumo_raylib": (
        "__pyx_capi__",
        "begin_texture_mode",
        "clear_background",
        "end_blend_mode",
        "end_texture_mode",
        "begin_blend_mode",
    ),
    "lumo_ui.core.modules": ("rl",),
    "lumo_ui.core.state": ("lumo_state",),
    "lumo_ui.core.annotations": ("Annotations",),
    "lumo_ui.presentation.color": ("Color",),
}

_MISSING_NAMES = tuple(f"{mod}.{name}" for mod, names in MODULES.items() for name in names)

# kind -> allowed arguments (None: the kind takes no argument)
KINDS = {
    "capi-missing": CAPI_NAMES,
    "capi-signature": CAPI_NAMES,
    "size-smaller": TYPES,
    "size-larger": TYPES,
    "no-vtable": TYPES,
    "vtable-not-capsule": TYPES,
    "not-a-type": TYPES,
    "color-white-list": None,
    "raise-on-import": tuple(MODULES),
    "missing-name": _MISSING_NAMES,
    "getattr-raises": _MISSING_NAMES,
}

_EXCLUSIVE = (
    ("size-smaller", "size-larger"),
    ("no-vtable", "vtable-not-capsule"),
    ("missing-name", "getattr-raises"),
)


def parse(text):
    """Return the set of (kind, arg) pairs named by ``text``; arg is None
    for kinds without an argument.  Raises ValueError on a bad token."""
    selected = set()
    for raw in text.split(","):
        token = raw.strip()
        if not token:
            continue
        kind, sep, arg = token.partition(":")
        kind, arg = kind.strip(), arg.strip()
        if kind not in KINDS:
            raise ValueError(f"{ENV}: unknown token {token!r}; kinds are {', '.join(KINDS)}")
        allowed = KINDS[kind]
        if allowed is None:
            if sep:
                raise ValueError(f"{ENV}: {kind!r} takes no argument (got {token!r})")
            selected.add((kind, None))
            continue
        if arg not in allowed:
            raise ValueError(f"{ENV}: {token!r}: argument must be one of {', '.join(allowed)}")
        selected.add((kind, arg))
    for a, b in _EXCLUSIVE:
        both = {arg for kind, arg in selected if kind == a} & {
            arg for kind, arg in selected if kind == b
        }
        if both:
            raise ValueError(f"{ENV}: {a} and {b} both given for {', '.join(sorted(both))}")
    return frozenset(selected)


SELECTED = parse(os.environ.get(ENV, ""))


def active(kind, arg=None):
    """Is the broken variant ``kind[:arg]`` selected?"""
    return (kind, arg) in SELECTED


def on_import(module_name):
    """Called first thing by each stand-in module."""
    if active("raise-on-import", module_name):
        raise RuntimeError(f"stand-in import failure: {module_name}")


def strip(module_name, namespace):
    """Called last thing by each stand-in module: drop the names selected
    by missing-name and getattr-raises tokens from its namespace; for the
    latter, the module's __getattr__ then raises RuntimeError for the name."""
    prefix = module_name + "."
    failing = set()
    for kind, arg in SELECTED:
        if kind in ("missing-name", "getattr-raises") and arg.startswith(prefix):
            name = arg[len(prefix):]
            if "." not in name:
                namespace.pop(name, None)
                if kind == "getattr-raises":
                    failing.add(name)
    if failing:
        namespace["__getattr__"] = _failing_getattr(module_name, failing)


def _failing_getattr(module_name, failing):
    def __getattr__(name):
        if name in failing:
            raise RuntimeError(f"stand-in attribute failure: {module_name}.{name}")
        raise AttributeError(f"module {module_name!r} has no attribute {name!r}")

    return __getattr__
