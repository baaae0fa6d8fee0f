// The native level of every operation: the entries of the method table that
// sibling modules call (see lm_render_tex.h for what each returns and owns),
// grouped by the file that defines them.
#pragma once

#include <Python.h>

#include "lumo_ui/fast/lmrendertex/lm_render_tex.h"

namespace lmrt::native {

// render_texture.cpp
PyObject* c_get_texture(LmRenderTexture* self);
LmRenderTexture* new_(::LmVector2* size);

// drawing.cpp
void c_fast_clear(LmRenderTexture* self, PyObject* color);
void c_clear(LmRenderTexture* self, PyObject* color);
void clear(LmRenderTexture* self, PyObject* color, int skip_dispatch);
void fast_clear(LmRenderTexture* self, PyObject* color, int skip_dispatch);
void fill(LmRenderTexture* self, PyObject* color, int skip_dispatch);

// blits.cpp
void c_fast_blit(LmRenderTexture* self, LmRenderTexture* lm_texture, PyObject* dest, int flip,
                 PyObject* color);
void c_fast_blit_texture(LmRenderTexture* self, PyObject* texture, PyObject* dest, int flip,
                         PyObject* color);
void c_fast_lmblit(LmRenderTexture* self, LmRenderTexture* lm_texture, ::LmVector2* dest,
                   int blend_mode, int flip, ::LmRect* color);

// release.cpp
void kill(LmRenderTexture* self, int skip_dispatch);

// geometry.cpp
::LmRect* get_rect(LmRenderTexture* self, int skip_dispatch);
double get_height(LmRenderTexture* self, int skip_dispatch);
double get_width(LmRenderTexture* self, int skip_dispatch);

}  // namespace lmrt::native
