"""Stand-in of the platform's module registry: ``rl`` is the graphics binding."""

from lumo_standin import _breaks

_breaks.on_import(__name__)

from lumo_standin import rl  # noqa: E402

__all__ = ["rl"]

_breaks.strip(__name__, globals())
