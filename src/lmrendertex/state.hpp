// Process-wide state of the module: what import leaves behind for every
// operation (interned names, collaborator types and tables, back-end entry
// points, the assertion flag, captured defaults).
#pragma once

#include <Python.h>

#include "lumo_ui/fast/lmrendertex/lm_render_tex.h"

namespace lmrt {

inline constexpr const char* kModuleName = "lumo_ui.fast.lmrendertex.lm_render_tex";

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

// Entry points of the drawing back-end, bound from its capsule table at import.
// None returns a value: failure leaves an exception set.
struct Backend {
  void (*c_clear_background)(PyObject* color);
  void (*c_draw_texture_rec)(PyObject* texture, PyObject* source, PyObject* dest, PyObject* color);
  void (*c_draw_texture_vec)(PyObject* texture, PyObject* position, PyObject* color, int flip);
  void (*begin_texture_mode)(PyObject* render_texture, int skip_dispatch);
  void (*clear_background)(PyObject* color, int skip_dispatch);
  void (*end_blend_mode)(int skip_dispatch);
  void (*end_texture_mode)(int skip_dispatch);
  void (*begin_blend_mode)(int mode, int skip_dispatch);
  void (*c_draw_lmtexture_lmvec)(LmRenderTexture* source, VectorRecord* position, RectRecord* color,
                                 int flip);
};

// Interned names: identifier, text.
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
  X(loaded, "loaded")                                       \
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
  X(from_rl_render_texture, "from_rl_render_texture")       \
  X(blit, "blit")                                           \
  X(lmblit, "lmblit")                                       \
  X(fast_blit, "fast_blit")                                 \
  X(blit_texture, "blit_texture")                           \
  X(fast_blit_texture, "fast_blit_texture")                 \
  X(clear, "clear")                                         \
  X(fast_clear, "fast_clear")                               \
  X(fill, "fill")                                           \
  X(kill, "kill")                                           \
  X(get_rect, "get_rect")                                   \
  X(get_height, "get_height")                               \
  X(get_width, "get_width")                                 \
  X(copy, "copy")                                           \
  X(self, "self")                                           \
  X(object, "object")                                       \
  X(update, "update")                                       \
  X(pyx_state, "__pyx_state")                               \
  X(pyx_type, "__pyx_type")                                 \
  X(pyx_checksum, "__pyx_checksum")                         \
  X(pyx_vtable, "__pyx_vtable__")                           \
  X(pyx_capi, "__pyx_capi__")                               \
  X(pyx_unpickle, "__pyx_unpickle_LmRenderTexture")         \
  X(reduce_cython, "__reduce_cython__")                     \
  X(setstate_cython, "__setstate_cython__")                 \
  X(dunder_reduce, "__reduce__")                            \
  X(dunder_reduce_ex, "__reduce_ex__")                      \
  X(dunder_setstate, "__setstate__")                        \
  X(dunder_getstate, "__getstate__")                        \
  X(dunder_dict, "__dict__")                                \
  X(dunder_new, "__new__")                                  \
  X(dunder_enter, "__enter__")                              \
  X(dunder_exit, "__exit__")                                \
  X(dunder_init, "__init__")                                \
  X(dunder_builtins, "__builtins__")                        \
  X(dunder_debug, "__debug__")                              \
  X(dunder_test, "__test__")                                \
  X(dunder_loader, "__loader__")                            \
  X(dunder_file, "__file__")                                \
  X(dunder_package, "__package__")                          \
  X(dunder_path, "__path__")                                \
  X(dunder_name, "__name__")                                \
  X(dunder_module, "__module__")                            \
  X(loader, "loader")                                       \
  X(origin, "origin")                                       \
  X(parent, "parent")                                       \
  X(name, "name")                                           \
  X(submodule_search_locations, "submodule_search_locations") \
  X(staticmethod, "staticmethod")                           \
  X(LmRenderTexture, "LmRenderTexture")                     \
  X(LmVector2, "LmVector2")                                 \
  X(LmRect, "LmRect")                                       \
  X(LmShader, "LmShader")                                   \
  X(Annotations, "Annotations")                             \
  X(PickleError, "PickleError")                             \
  X(pickle, "pickle")                                       \
  X(module_name, "lumo_ui.fast.lmrendertex.lm_render_tex")

struct Names {
#define LMRT_DECLARE_NAME(ident, text) PyObject* ident;
  LMRT_NAMES(LMRT_DECLARE_NAME)
#undef LMRT_DECLARE_NAME
};

// The Python-level method objects of the type; an override lookup that finds
// one of these runs the native body instead of calling back into Python.
struct OwnMethods {
  PyObject* clear;
  PyObject* fast_clear;
  PyObject* fill;
  PyObject* kill;
  PyObject* get_rect;
  PyObject* get_height;
  PyObject* get_width;
};

// Default colours read once at import; later changes to Color.White do not
// reach them.
struct DefaultColors {
  PyObject* blit;
  PyObject* lmblit;  // the module constant lm_render_tex_base_color
  PyObject* fast_blit;
  PyObject* blit_texture;
  PyObject* fast_blit_texture;
};

struct State {
  PyObject* module;  // owned; null until created, cleared again after a failed import
  PyObject* dict;    // the module namespace (borrowed from module)
  PyObject* builtins;
  bool initialised;
  bool assertions;  // truth of __debug__ at import
  Names names;
  PyObject* checksum;  // 226208704, shared by every reduce value
  PyObject* clear_color;      // (0, 0, 0, 0), the fill colour of copy
  PyObject* origin_position;  // (0, 0), where copy draws its source
  PyTypeObject* vector_type;
  VectorMethods* vector_methods;
  PyTypeObject* rect_type;
  RectMethods* rect_methods;
  PyTypeObject* shader_type;
  Backend backend;
  PyObject* base_color;  // lm_render_tex_base_color; None until set at import
  DefaultColors defaults;
  OwnMethods own;
  PyObject* unpickle_function;
};

extern State g;

inline const Names& names() { return g.names; }

}  // namespace lmrt
