# A stand-in sibling module written in Cython: it knows LmRenderTexture only
# through the installed lm_render_tex.pxd, and exposes each entry of the
# method table to the tests with the same signatures as lmrt_native_client.
# A true skip_dispatch calls through the class, which runs the type's own
# body; a false one calls through the object, which lets an override run.

cimport cython
from lumo_ui.fast.lmrendertex.lm_render_tex cimport LmRenderTexture
from lumo_ui.fast.lmrect.lmrect cimport LmRect
from lumo_ui.fast.lmvector2.lmvector2 cimport LmVector2


def fields(LmRenderTexture self):
    return (self.render_texture, self.size, self.loaded)


def set_size(LmRenderTexture self, LmVector2 size):
    self.size = size


def new(LmVector2 size):
    return LmRenderTexture.new(size)


def c_get_texture(LmRenderTexture self):
    return self.c_get_texture()


def c_fast_blit(LmRenderTexture self, LmRenderTexture lm_texture, tuple dest, bint flip, color):
    self.c_fast_blit(lm_texture, dest, flip, color)


def c_fast_lmblit(LmRenderTexture self, LmRenderTexture lm_texture, LmVector2 dest,
                  int blend_mode, bint flip, LmRect color):
    self.c_fast_lmblit(lm_texture, dest, blend_mode, flip, color)


def c_fast_blit_texture(LmRenderTexture self, texture, tuple dest, bint flip, color):
    self.c_fast_blit_texture(texture, dest, flip, color)


def c_fast_clear(LmRenderTexture self, color):
    self.c_fast_clear(color)


def c_clear(LmRenderTexture self, color):
    self.c_clear(color)


def clear(LmRenderTexture self, color, bint skip_dispatch):
    if skip_dispatch:
        LmRenderTexture.clear(self, color)
    else:
        self.clear(color)


def fast_clear(LmRenderTexture self, color, bint skip_dispatch):
    if skip_dispatch:
        LmRenderTexture.fast_clear(self, color)
    else:
        self.fast_clear(color)


def fill(LmRenderTexture self, color, bint skip_dispatch):
    if skip_dispatch:
        LmRenderTexture.fill(self, color)
    else:
        self.fill(color)


def kill(LmRenderTexture self, bint skip_dispatch):
    if skip_dispatch:
        LmRenderTexture.kill(self)
    else:
        self.kill()


def get_rect(LmRenderTexture self, bint skip_dispatch):
    return LmRenderTexture.get_rect(self) if skip_dispatch else self.get_rect()


def get_height(LmRenderTexture self, bint skip_dispatch):
    return LmRenderTexture.get_height(self) if skip_dispatch else self.get_height()


def get_width(LmRenderTexture self, bint skip_dispatch):
    return LmRenderTexture.get_width(self) if skip_dispatch else self.get_width()


# NativeSubclass is a compiled subclass of LmRenderTexture with its own
# table, the Cython counterpart of lmrt_native_client.NativeSubclass: Cython
# copies the type's table into the subclass's and replaces the entries it
# overrides, here every one a Python-level method can reach. Each first calls
# the hook set by replaced_entry_hook(callable) with its name; an exception
# from the hook leaves the entry the way the declared except forms say. Then
# it hands over to the type's own entry; the size queries answer half a unit
# more.
#
# Overriding a cpdef method also gives the subclass a Python method of that
# name, which shadows the module's: obj.clear() runs Cython's wrapper, while
# LmRenderTexture.clear(obj) runs the module's method and reaches the
# override through the object's table.

cdef object _hook = None


def replaced_entry_hook(hook):
    global _hook
    _hook = hook


cdef int _entry_runs(str entry) except -1:
    if _hook is not None:
        _hook(entry)
    return 0


# No pickling of its own: the type's pickling stays in force, as for the C
# sibling's subclass.
@cython.auto_pickle(False)
cdef class NativeSubclass(LmRenderTexture):
    cdef void c_fast_blit(self, LmRenderTexture lm_texture, tuple dest, bint flip,
                          object color) except *:
        _entry_runs("c_fast_blit")
        LmRenderTexture.c_fast_blit(self, lm_texture, dest, flip, color)

    cdef void c_fast_blit_texture(self, object texture, tuple dest, bint flip,
                                  object color) except *:
        _entry_runs("c_fast_blit_texture")
        LmRenderTexture.c_fast_blit_texture(self, texture, dest, flip, color)

    cdef void c_fast_lmblit(self, LmRenderTexture lm_texture, LmVector2 dest, int blend_mode,
                            bint flip, LmRect color) except *:
        _entry_runs("c_fast_lmblit")
        LmRenderTexture.c_fast_lmblit(self, lm_texture, dest, blend_mode, flip, color)

    cdef void c_fast_clear(self, object color) except *:
        _entry_runs("c_fast_clear")
        LmRenderTexture.c_fast_clear(self, color)

    cdef void c_clear(self, object color) except *:
        _entry_runs("c_clear")
        LmRenderTexture.c_clear(self, color)

    cpdef void clear(self, object color) except *:
        _entry_runs("clear")
        LmRenderTexture.clear(self, color)

    cpdef void fast_clear(self, object color) except *:
        _entry_runs("fast_clear")
        LmRenderTexture.fast_clear(self, color)

    cpdef void fill(self, object color) except *:
        _entry_runs("fill")
        LmRenderTexture.fill(self, color)

    cpdef void kill(self) except *:
        _entry_runs("kill")
        LmRenderTexture.kill(self)

    cpdef LmRect get_rect(self):
        _entry_runs("get_rect")
        return LmRenderTexture.get_rect(self)

    cpdef double get_height(self) except? 0.0:
        _entry_runs("get_height")
        return LmRenderTexture.get_height(self) + 0.5

    cpdef double get_width(self) except? 0.0:
        _entry_runs("get_width")
        return LmRenderTexture.get_width(self) + 0.5
