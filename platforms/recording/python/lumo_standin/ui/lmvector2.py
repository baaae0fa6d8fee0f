"""Stand-in of the platform's LmVector2 type (a native type of lumo_standin)."""

from lumo_standin import _breaks

_breaks.on_import(__name__)

from lumo_standin._native import LmVector2  # noqa: E402

if _breaks.active("not-a-type", "LmVector2"):
    _type = LmVector2

    def LmVector2(*args, **kwargs):
        return _type(*args, **kwargs)


__all__ = ["LmVector2"]

_breaks.strip(__name__, globals())
