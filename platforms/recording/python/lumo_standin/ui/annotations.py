"""Stand-in of the platform's annotation helpers."""

from lumo_standin import _breaks

_breaks.on_import(__name__)


class Annotations:
    """Marker namespace for type annotations."""


_breaks.strip(__name__, globals())
