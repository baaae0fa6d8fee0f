"""Stand-in of the platform's global state.

``lumo_state.window.display`` is a plain attribute chain so that tests can
replace any link of it.
"""

from lumo_standin import _breaks

_breaks.on_import(__name__)

from lumo_standin import calllog  # noqa: E402


class Display:
    def fast_blit_pro(self, texture, dest, flip, color):
        calllog.record("fast_blit_pro", texture, dest, flip, color)


class Window:
    def __init__(self):
        self.display = Display()


class State:
    def __init__(self):
        self.window = Window()


lumo_state = State()

_breaks.strip(__name__, globals())
