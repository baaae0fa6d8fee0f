"""The platform's global state: ``lumo_state.window.display`` is a plain
attribute chain, so that an application can replace any link of it."""

from lumo_rlplatform import _native


class Display:
    # A builtin, so it is not bound: fast_blit_pro(texture, dest, flip, color).
    fast_blit_pro = _native.fast_blit_pro


class Window:
    def __init__(self):
        self.display = Display()


class State:
    def __init__(self):
        self.window = Window()


lumo_state = State()
