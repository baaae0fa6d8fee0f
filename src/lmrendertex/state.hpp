// Process-wide state of the module: what import leaves behind for every
// operation (interned names, collaborator types and tables, back-end entry
// points, the assertion flag, captured defaults).
#pragma once

#include <Python.h>

#include "lumo_ui/fast/lmrendertex/lm_render_tex.h"
#include "method.hpp"

namespace lmrt {

// The module's import path; the macro serves names built from it at compile time.
#define LMRT_MODULE_NAME "lumo_ui.fast.lmrendertex.lm_render_tex"
inline constexpr const char* kModuleName = LMRT_MODULE_NAME;

// Records of the collaborator types, as their modules declare them. Only the
// sizes are checked here; the back-end reads the fields.
struct VectorRecord {
  PyObject_HEAD
  void* methods;
  double x;
  double y;
};
struct RectRecord {
  PyObject_HEAD
  void* methods;
  float x, y, w, h;
};
struct ShaderRecord {
  PyObject_HEAD
  void* methods;
  unsigned int id;
  int* locs;
};

// Leading entries of the collaborators' method tables; the rest is unused here.
struct VectorMethods {
  PyObject* (*new_)(double x, double y);
};
struct RectMethods {
  PyObject* (*new_)(float x, float y, float w, float h);
};

// The drawing back-end's functions, in the order import binds them from its
// C-API table, the one list of them: the name (the table's key and the
// Backend field), the parameters this module calls it with, and the
// signature text its capsule is named by. None returns a value: failure
// leaves an exception set.
#define LMRT_BACKEND_FUNCTIONS(X)                                                                \
  X(c_clear_background, (PyObject* color), "void (PyObject *)")                                  \
  X(c_draw_texture_rec, (PyObject* texture, PyObject* source, PyObject* dest, PyObject* color),  \
    "void (PyObject *, PyObject *, PyObject *, PyObject *)")                                     \
  X(c_draw_texture_vec, (PyObject* texture, PyObject* position, PyObject* color, int flip),      \
    "void (PyObject *, PyObject *, PyObject *, int)")                                            \
  X(begin_texture_mode, (PyObject* render_texture, int skip_dispatch),                           \
    "void (PyObject *, int __pyx_skip_dispatch)")                                                \
  X(clear_background, (PyObject* color, int skip_dispatch),                                      \
    "void (PyObject *, int __pyx_skip_dispatch)")                                                \
  X(end_blend_mode, (int skip_dispatch), "void (int __pyx_skip_dispatch)")                       \
  X(end_texture_mode, (int skip_dispatch), "void (int __pyx_skip_dispatch)")                     \
  X(begin_blend_mode, (int mode, int skip_dispatch), "void (int, int __pyx_skip_dispatch)")      \
  X(c_draw_lmtexture_lmvec,                                                                      \
    (LmRenderTexture* source, VectorRecord* position, RectRecord* color, int flip),              \
    "void (struct __pyx_obj_7lumo_ui_4fast_11lmrendertex_13lm_render_tex_LmRenderTexture *, "    \
    "struct __pyx_obj_7lumo_ui_4fast_9lmvector2_9lmvector2_LmVector2 *, "                        \
    "struct __pyx_obj_7lumo_ui_4fast_6lmrect_6lmrect_LmRect *, int)")

// Entry points of the drawing back-end, bound from its capsule table at import.
struct Backend {
#define LMRT_DECLARE_BACKEND_FUNCTION(name, params, signature) void (*name) params;
  LMRT_BACKEND_FUNCTIONS(LMRT_DECLARE_BACKEND_FUNCTION)
#undef LMRT_DECLARE_BACKEND_FUNCTION
};

// Interned names: identifier, text. The methods' own names are interned from
// their descriptors.
#define LMRT_NAMES(X)                                       \
  X(md, "md")                                               \
  X(rl, "rl")                                               \
  X(x, "x")                                                 \
  X(y, "y")                                                 \
  X(texture, "texture")                                     \
  X(width, "width")                                         \
  X(height, "height")                                       \
  X(id, "id")                                               \
  X(depth, "depth")                                         \
  X(size, "size")                                           \
  X(render_texture, "render_texture")                       \
  X(load_render_texture, "load_render_texture")             \
  X(unload_render_texture, "unload_render_texture")         \
  X(is_window_ready, "is_window_ready")                     \
  X(BlendMode, "BlendMode")                                 \
  X(BLEND_ALPHA, "BLEND_ALPHA")                             \
  X(lumo_state, "lumo_state")                               \
  X(window, "window")                                       \
  X(display, "display")                                     \
  X(fast_blit_pro, "fast_blit_pro")                         \
  X(Color, "Color")                                         \
  X(White, "White")                                         \
  X(rl_render_texture, "rl_render_texture")                 \
  X(lm_texture, "lm_texture")                               \
  X(dest, "dest")                                           \
  X(blend_mode, "blend_mode")                               \
  X(flip, "flip")                                           \
  X(color, "color")                                         \
  X(exc_type, "exc_type")                                   \
  X(exc_val, "exc_val")                                     \
  X(exc_tb, "exc_tb")                                       \
  X(self, "self")                                           \
  X(object, "object")                                       \
  X(update, "update")                                       \
  X(pyx_state, "__pyx_state")                               \
  X(pyx_type, "__pyx_type")                                 \
  X(pyx_checksum, "__pyx_checksum")                         \
  X(pyx_vtable, "__pyx_vtable__")                           \
  X(pyx_capi, "__pyx_capi__")                               \
  X(dunder_reduce, "__reduce__")                            \
  X(dunder_reduce_ex, "__reduce_ex__")                      \
  X(dunder_setstate, "__setstate__")                        \
  X(dunder_getstate, "__getstate__")                        \
  X(dunder_dict, "__dict__")                                \
  X(dunder_new, "__new__")                                  \
  X(dunder_debug, "__debug__")                              \
  X(dunder_test, "__test__")                                \
  X(dunder_name, "__name__")                                \
  X(staticmethod, "staticmethod")                           \
  X(LmRenderTexture, "LmRenderTexture")                     \
  X(LmVector2, "LmVector2")                                 \
  X(LmRect, "LmRect")                                       \
  X(LmShader, "LmShader")                                   \
  X(Annotations, "Annotations")                             \
  X(PickleError, "PickleError")                             \
  X(pickle, "pickle")                                       \
  X(module_name, kModuleName)

struct Names {
#define LMRT_DECLARE_NAME(ident, text) PyObject* ident;
  LMRT_NAMES(LMRT_DECLARE_NAME)
#undef LMRT_DECLARE_NAME
};

struct State {
  PyObject* module;  // owned; null until created, cleared again after a failed import
  PyObject* dict;    // the module namespace (borrowed from module)
  PyObject* builtins;
  bool initialised;
  bool assertions;  // truth of __debug__ at import
  Names names;
  PyObject* checksum;  // of the current record layout, shared by every reduce value
  PyObject* clear_color;      // (0, 0, 0, 0), the fill colour of copy
  PyObject* origin_position;  // (0, 0), where copy draws its source
  PyTypeObject* vector_type;
  VectorMethods* vector_methods;
  PyTypeObject* rect_type;
  RectMethods* rect_methods;
  PyTypeObject* shader_type;
  Backend backend;
  PyObject* base_color;  // lm_render_tex_base_color; None until set at import
  // Per row of kMethods: the interned name; the function object as bound,
  // kept for the overridable methods (what an override lookup compares with),
  // the pickling operations and the unpickling function; and the colour an
  // omitted argument takes, for the rows whose colour default is read at
  // import (Default::stored). Null where a row has none. Later changes to
  // Color.White do not reach the stored defaults.
  PyObject* method_names[kMethodCount];
  PyObject* method_objects[kMethodCount];
  PyObject* default_colors[kMethodCount];
};

extern State module_state;

inline const Names& names() { return module_state.names; }
inline PyObject* method_name(MethodId id) { return module_state.method_names[index_of(id)]; }
inline PyObject* method_object(MethodId id) { return module_state.method_objects[index_of(id)]; }

}  // namespace lmrt
