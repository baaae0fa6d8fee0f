"""Stand-in of the platform's colour constants (RGBA tuples)."""

from lumo_standin import _breaks

_breaks.on_import(__name__)


class Color:
    White = (255, 255, 255, 255)
    Black = (0, 0, 0, 255)
    Blank = (0, 0, 0, 0)


if _breaks.active("color-white-list"):
    Color.White = [255, 255, 255, 255]

_breaks.strip(__name__, globals())
