"""Which platform stands behind the lumo_ui platform modules.

Each module of this distribution under ``lumo_ui`` is a two-line shim that
calls :func:`load` with its own name.  ``load`` runs the chosen platform's
implementation file *as* that module (same ``__name__``, same entry in
``sys.modules``), so messages and pickles name ``lumo_ui.core.state`` and
not a private path, whichever platform is installed.

The environment variable ``LUMO_PLATFORM`` picks the platform once per
process, at the first import of any shim:

    raylib     (default) real drawing through the raylib binding
    recording  stand-ins that log every call, for tests of call orders
"""

import importlib
import importlib.util
import os
import sys

ENV = "LUMO_PLATFORM"
DEFAULT = "raylib"

#: platform name -> package holding its implementations in the folder ui/
PACKAGES = {"raylib": "lumo_rlplatform", "recording": "lumo_standin"}

_chosen = None


def chosen():
    """The platform name in force for this process."""
    global _chosen
    if _chosen is None:
        name = os.environ.get(ENV, "").strip() or DEFAULT
        if name not in PACKAGES:
            raise ImportError(
                f"{ENV}={name!r} names no platform; choose one of {', '.join(PACKAGES)}"
            )
        _chosen = name
    return _chosen


def load(public_name):
    """Run the chosen platform's implementation of ``public_name`` as that
    module.  Called by the shim while it is being imported."""
    package = importlib.import_module(PACKAGES[chosen()])
    leaf = public_name.rpartition(".")[2]
    path = os.path.join(os.path.dirname(package.__file__), "ui", leaf + ".py")
    spec = importlib.util.spec_from_file_location(public_name, path)
    if spec is None or not os.path.exists(path):
        raise ImportError(f"platform {chosen()!r} has no {public_name}", name=public_name)
    module = importlib.util.module_from_spec(spec)
    # The import system hands out whatever sys.modules holds for the name
    # once the shim has run, so this replaces the shim.  An implementation
    # may replace itself in turn (a native back-end does).
    sys.modules[public_name] = module
    try:
        spec.loader.exec_module(module)
    except BaseException:
        sys.modules.pop(public_name, None)
        raise
