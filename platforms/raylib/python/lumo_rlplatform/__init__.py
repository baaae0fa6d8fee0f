"""The UI platform modules on real raylib.

The drawing back-end (``lumo_ui.fast.raylib.lumo_raylib``), the value types
and the display's ``fast_blit_pro`` are native (``_native``) and call the
raylib C functions of the binding's own library; ``lumo_ui.core.modules.rl``
is the ``pyray`` binding with guards where raylib itself would crash or draw
with a dead render texture (:mod:`.rl`); :mod:`.window` opens the hidden
window that render textures need, and :mod:`.png` saves a render target as
an upright PNG.  The platform knows which render textures are alive and
which thread opened the window (see its README).

Colours are (r, g, b, a) tuples of integers 0-255.  None means "leave the
picture as it is": a tint of None draws the source unchanged (white), a
clear or fill with None makes the target transparent (0, 0, 0, 0).  An
``LmRect`` tint is (red, green, blue, transparency): alpha = 255 - h, so
(255, 255, 255, 0) draws the source unchanged.
"""
