"""Stand-in of the platform's LmRect type (a native type of lumo_standin)."""

from lumo_standin import _breaks

_breaks.on_import(__name__)

from lumo_standin._native import LmRect  # noqa: E402

if _breaks.active("not-a-type", "LmRect"):
    _type = LmRect

    def LmRect(*args, **kwargs):
        return _type(*args, **kwargs)


__all__ = ["LmRect"]

_breaks.strip(__name__, globals())
