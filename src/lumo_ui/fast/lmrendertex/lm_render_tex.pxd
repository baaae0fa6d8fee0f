# Cython declaration of lumo_ui.fast.lmrendertex.lm_render_tex for sibling
# extension modules: the LmRenderTexture record and its table of native
# methods, in the order and with the types of lm_render_tex.h beside it.
#
#     from lumo_ui.fast.lmrendertex.lm_render_tex cimport LmRenderTexture
#
# A method call on a variable typed LmRenderTexture goes through the table.
# The cpdef methods let a Python subclass's override of the same name run;
# called through the class, LmRenderTexture.clear(target, color), they always
# run the type's own body. Failures come back as Python exceptions.
#
# Read the fields freely; set render_texture and loaded only through the
# Python-level properties (or kill()): the module counts, per handle object,
# the loaded targets that hold it, so that a shared handle is given back once,
# by the last of them, and a direct write bypasses that count.

from lumo_ui.fast.lmvector2.lmvector2 cimport LmVector2
from lumo_ui.fast.lmrect.lmrect cimport LmRect


cdef class LmRenderTexture:
    cdef object render_texture  # the raylib render texture handle
    cdef LmVector2 size         # or None
    cdef bint loaded

    # Draws lm_texture at dest, (x, y) or (x, y, width, height), into the
    # current target.
    cdef void c_fast_blit(self, LmRenderTexture lm_texture, tuple dest, bint flip,
                          object color) except *
    # Draws a plain texture at dest into the current target, through the display.
    cdef void c_fast_blit_texture(self, object texture, tuple dest, bint flip,
                                  object color) except *
    # Draws lm_texture at a vector, tinted by a rectangle; blend_mode is unused.
    cdef void c_fast_lmblit(self, LmRenderTexture lm_texture, LmVector2 dest, int blend_mode,
                            bint flip, LmRect color) except *
    # Fills the current target; no loaded check.
    cdef void c_fast_clear(self, object color) except *
    # Fills this target inside its own texture mode; no loaded check.
    cdef void c_clear(self, object color) except *
    cpdef void clear(self, object color) except *
    cpdef void fast_clear(self, object color) except *
    cpdef void fill(self, object color) except *
    cpdef void kill(self) except *
    # An LmRect (0, 0, width, height), or what an override returned.
    cpdef LmRect get_rect(self)
    # 0.0 with an exception on failure.
    cpdef double get_height(self) except? 0.0
    cpdef double get_width(self) except? 0.0
    # render_texture.texture
    cdef object c_get_texture(self)
    # A loaded target of the given size, which it keeps (not a copy).
    @staticmethod
    cdef LmRenderTexture new(LmVector2 size)
