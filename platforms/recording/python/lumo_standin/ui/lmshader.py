"""Stand-in of the platform's LmShader type (a native type of lumo_standin)."""

from lumo_standin import _breaks

_breaks.on_import(__name__)

from lumo_standin._native import LmShader  # noqa: E402

if _breaks.active("not-a-type", "LmShader"):
    _type = LmShader

    def LmShader(*args, **kwargs):
        return _type(*args, **kwargs)


__all__ = ["LmShader"]

_breaks.strip(__name__, globals())
