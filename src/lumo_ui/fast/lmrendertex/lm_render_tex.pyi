"""Off-screen render targets of the fast drawing layer.

Nothing here draws by itself: drawing goes to the drawing back-end
``lumo_ui.fast.raylib.lumo_raylib``, the raylib binding ``md.rl`` and, for
plain textures, ``lumo_state.window.display``.

Two kinds of drawing operation exist. The bracketed ones (``clear``, ``fill``,
``blit``, ``lmblit``, ``blit_texture``) make this target current themselves
and end the modes they began. The ``fast_`` ones begin and end nothing: they
draw into whatever target is current, normally the one made current by a
``with target:`` block. A failure rolls nothing back: a mode already begun
stays begun.

The current target is one global state, not a stack: ``with`` blocks do not
nest, and a bracketed call (or ``copy``) on any target inside a ``with`` block
ends that block's texture mode, so later ``fast_`` draws in the block land on
the screen, with no error.

Render textures are stored bottom-up: the default ``flip=True`` draws a render
target the right way up and ``flip=False`` upside down. Plain textures are
stored top-down and want ``flip=False`` to be the right way up.

Checks marked "asserts loaded" raise ``AssertionError("Render texture not
loaded")`` when the target is not loaded, unless Python ran with ``-O`` when
the module was imported.
"""

from types import TracebackType
from typing import Any, Self, TypeAlias

from lumo_ui.fast.lmrect.lmrect import LmRect
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2
from typing_extensions import disjoint_base

# (r, g, b, a), four ints 0-255, as the library's Color constants are;
# passed to the back-end unchanged. Only the built-in tuple type itself is
# accepted: a list or a named tuple raises TypeError.
_Color: TypeAlias = tuple[int, int, int, int]
# (x, y) draws at a position; (x, y, width, height) scales into a rectangle.
_Dest: TypeAlias = tuple[float, float] | tuple[float, float, float, float]

# Kept for doctest collection, which finds nothing here.
__test__: dict[str, Any]

# Its instances have a native layout of their own: it cannot be combined
# with another such base.
@disjoint_base
class LmRenderTexture:
    def __init__(self, size: LmVector2) -> None:
        """Load a render texture of ``int(size.x)`` by ``int(size.y)`` pixels.

        Calls ``md.rl.load_render_texture(width, height)`` and keeps ``size``
        itself, not a copy, so later changes to the vector show in ``width``
        and ``height``. TypeError if ``size`` is not an LmVector2; errors of
        the load propagate and leave the object unloaded.
        """

    @staticmethod
    def from_rl_render_texture(rl_render_texture: Any) -> LmRenderTexture:
        """Adopt an existing raylib render texture as a new, loaded target.

        No GPU call is made. The new target holds ``rl_render_texture`` itself
        and reads ``loaded`` True; from then on it gives the handle back on
        ``kill`` or when dropped, so the caller must not unload it too. The
        size is a fresh LmVector2 of ``rl_render_texture.texture.width`` and
        ``.height`` as floats. AttributeError or TypeError if those are
        missing or not numbers. Callable on the type or on an instance.
        """

    @property
    def render_texture(self) -> Any:
        """The raylib render texture handle; deleting stores None."""
    @render_texture.setter
    def render_texture(self, value: Any) -> None: ...
    @render_texture.deleter
    def render_texture(self) -> None: ...
    @property
    def size(self) -> LmVector2 | None:
        """The size vector the target was made with; deleting stores None.

        Setting anything but an LmVector2 or None raises TypeError.
        """
    @size.setter
    def size(self, value: LmVector2 | None) -> None: ...
    @size.deleter
    def size(self) -> None: ...
    @property
    def loaded(self) -> bool:
        """Whether the GPU resource is held. Setting moves only the flag.

        Set by the value's truth; it cannot be deleted (NotImplementedError).
        False after ``kill`` and after the finaliser (``__del__``) ran.
        """
    @loaded.setter
    def loaded(self, value: object) -> None: ...
    @property
    def texture(self) -> Any:
        """``render_texture.texture``, the colour texture, read each time."""
    @property
    def id(self) -> Any:
        """``render_texture.id``, read each time."""
    @property
    def depth(self) -> Any:
        """``render_texture.depth``, read each time."""
    @property
    def width(self) -> float:
        """``size.x`` as the vector gives it; AttributeError if size is None."""
    @property
    def height(self) -> float:
        """``size.y`` as the vector gives it; AttributeError if size is None."""

    def blit(
        self,
        lm_texture: LmRenderTexture,
        dest: _Dest,
        blend_mode: int = 0,
        flip: object = True,
        color: _Color | None = ...,
    ) -> None:
        """Draw ``lm_texture`` into this target, bracketed; asserts loaded.

        Begins ``blend_mode`` then texture mode on this target, draws, and ends
        both. A 2-item ``dest`` draws at (x, y); a 4-item one scales the whole
        source into (x, y, width, height). With the default ``flip`` the source
        shows the right way up; ``flip=False`` shows it upside down.
        ``color`` tints and defaults to ``Color.White`` as read at import.
        TypeError for a ``dest`` or ``color`` that is not exactly a tuple,
        ValueError for another ``dest`` length (after both modes were begun).
        """

    def lmblit(
        self,
        lm_texture: LmRenderTexture,
        dest: LmVector2,
        blend_mode: int = 0,
        flip: object = True,
        color: LmRect | None = ...,
    ) -> None:
        """Draw ``lm_texture`` at the position ``dest``, bracketed like blit.

        Asserts loaded. The tint is an LmRect, by default
        LmRect(255.0, 255.0, 255.0, 0.0), which draws the source unchanged.
        ``flip`` as in blit: the default shows the source the right way up.
        """

    def fast_blit(
        self,
        lm_texture: LmRenderTexture,
        dest: _Dest,
        flip: object = True,
        color: _Color | None = ...,
    ) -> None:
        """Draw ``lm_texture`` into the current target, as blit draws it.

        Begins and ends nothing and does not check loaded, so the draw lands in
        whatever target is current, normally the one of a ``with`` block.
        """

    def blit_texture(
        self,
        texture: object,
        dest: tuple[float, ...] | None,
        blend_mode: int = 0,
        flip: object = True,
        color: _Color | None = ...,
    ) -> None:
        """Draw a plain texture into this target, bracketed; asserts loaded.

        Begins ``blend_mode`` and texture mode on this target, calls
        ``lumo_state.window.display.fast_blit_pro(texture, dest, flip, color)``
        and ends both. ``texture`` and ``dest`` reach the display unchanged.
        A plain texture is stored top-down: ``flip=False`` draws it the right
        way up, the default ``flip=True`` upside down.
        A ``dest`` that is not a tuple raises TypeError after both modes were
        begun.
        """

    def fast_blit_texture(
        self,
        texture: object,
        dest: tuple[float, ...] | None,
        flip: object = True,
        color: _Color | None = ...,
    ) -> None:
        """Draw a plain texture into the current target through the display.

        Begins and ends nothing and does not check loaded. ``flip=False``
        draws it the right way up, as in blit_texture.
        """

    def clear(self, color: _Color | None) -> None:
        """Fill this whole target with ``color``, bracketed; asserts loaded.

        Begins texture mode on this target, clears and ends it.
        """

    def fast_clear(self, color: _Color | None) -> None:
        """Fill the current target with ``color``; asserts loaded.

        Begins and ends nothing: meant for inside ``with target:``.
        """

    def fill(self, color: _Color | None) -> None:
        """The same as clear."""

    def kill(self) -> None:
        """Give the GPU resource back through ``md.rl.unload_render_texture``.

        Asserts loaded, then clears ``loaded``; ``render_texture`` and ``size``
        stay. If the unload raises, the error propagates and the target stays
        loaded. Dropping a loaded target unloads it too, while the window is
        ready. When another loaded target holds the same handle object (a
        ``copy.copy`` or an adopted handle), nothing is unloaded: the last
        loaded holder gives it back.
        """

    def __del__(self) -> None:
        """The finaliser: give the handle back as dropping the target would.

        Runs before the collector clears a target in a reference cycle; never
        raises. Afterwards the target is no longer loaded: ``kill``, a second
        call and its later death give nothing back, unless it was loaded again.
        """

    def get_rect(self) -> LmRect:
        """LmRect(0, 0, width, height) from ``size``, in single precision."""

    def get_height(self) -> float:
        """``size.y`` as a float; works after kill too."""

    def get_width(self) -> float:
        """``size.x`` as a float; works after kill too."""

    def copy(self, flip: object = True) -> LmRenderTexture:
        """A new target of the same size holding this one's picture.

        Asserts loaded. The new target shares this target's size vector; it
        is cleared to (0, 0, 0, 0) and this target is drawn into it at (0, 0)
        with alpha blending: the right way up, or upside down with
        ``flip=False``. Always an exact LmRenderTexture, also for a subclass.
        """

    def __enter__(self) -> Self:
        """Make this target current (texture mode); asserts loaded."""

    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc_val: BaseException | None,
        exc_tb: TracebackType | None,
    ) -> None:
        """End texture mode, whatever target is current; never suppresses."""

    def __reduce__(self) -> tuple[Any, ...]:
        """Pickle the handle, the size and ``loaded``; no GPU call is made.

        The handle must pickle too (for pickling and ``copy.deepcopy``); the
        real raylib binding's handles do not, and raise TypeError.
        ``copy.copy`` needs no pickling and shares the handle.
        """

    def __setstate__(self, state: tuple[Any, ...], /) -> None:
        """Restore the fields from a pickled state; no GPU call is made."""

    def __reduce_cython__(self) -> tuple[Any, ...]:
        """The same as __reduce__."""

    def __setstate_cython__(self, state: tuple[Any, ...], /) -> None:
        """The same as __setstate__."""
