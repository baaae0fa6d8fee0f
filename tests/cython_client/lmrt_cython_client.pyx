# A stand-in sibling module written in Cython: it knows LmRenderTexture only
# through the installed lm_render_tex.pxd, and exposes each entry of the
# method table to the tests with the same signatures as lmrt_native_client.
# A true skip_dispatch calls through the class, which runs the type's own
# body; a false one calls through the object, which lets an override run.

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
