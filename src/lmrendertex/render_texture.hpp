// The LmRenderTexture type: its record, native method table and the entry
// points each concern file provides. Python-level methods bind their arguments
// and call the native level through the object's method table; sibling modules
// call that table directly.
#pragma once

#include <Python.h>

#include "lumo_ui/fast/lmrendertex/lm_render_tex.h"
#include "ref.hpp"
#include "state.hpp"

namespace lmrt {

extern PyTypeObject RenderTextureType;
extern LmRenderTextureMethods method_table;

inline LmRenderTexture* as_record(PyObject* object) {
  return reinterpret_cast<LmRenderTexture*>(object);
}
inline PyObject* as_object(LmRenderTexture* record) { return reinterpret_cast<PyObject*>(record); }
inline bool is_render_texture(PyObject* object) {
  return PyObject_TypeCheck(object, &RenderTextureType);
}

// Fills the method table (import, before the type is readied).
void fill_method_table();

// Allocates a record as the type's __new__ does; a new reference or null.
LmRenderTexture* allocate(PyTypeObject* type);

// The checks written as assertions run only while __debug__ was true at
// import. True when the object may go on; else AssertionError is set.
inline bool check_loaded(LmRenderTexture* self) {
  if (!g.assertions || self->loaded) return true;
  PyErr_SetString(PyExc_AssertionError, "Render texture not loaded");
  return false;
}

// A module global as Python code would see it: the namespace, then the
// builtins; NameError when neither has it. A new reference or null.
PyObject* lookup_global(PyObject* name);
// A builtin by name; NameError when there is none. A new reference or null.
PyObject* lookup_builtin(PyObject* name);
// getattr(object, name, <absent>): 1 found (in `value`), 0 absent (an
// AttributeError, cleared), -1 any other error.
int optional_attribute(PyObject* object, PyObject* name, Ref& value);
// md.rl, read afresh: a new reference or null.
Ref raylib_binding();

// Override dispatch of the overridable native entries. Unless skip_dispatch
// is set, a Python-level subclass's attribute `name` that is not the type's
// own method runs instead of the native body, with `argument` (or none).
// Own: run the native body. Override: the override ran and `result` holds
// what it returned. Error: the lookup or the call failed.
enum class Dispatch { Own, Override, Error };
Dispatch call_override(LmRenderTexture* self, int skip_dispatch, PyObject* name,
                       PyObject* own_method, PyObject* argument, Ref& result);

// source.width / source.height as Python code reads them. The exact type's
// properties are known, so they are read without an attribute lookup.
PyObject* read_width(PyObject* source);
PyObject* read_height(PyObject* source);

// Python-level entry: self is already known to be an LmRenderTexture (or is
// null for static and module-level functions).
using MethodImpl = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames);

// render_texture.cpp: construction, accessors, properties, GC support.
namespace py {
PyObject* from_rl_render_texture(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
}
namespace native {
PyObject* c_get_texture(LmRenderTexture* self);
LmRenderTexture* new_(::LmVector2* size);
}  // namespace native
int render_texture_init(PyObject* self, PyObject* args, PyObject* kwargs);

// drawing.cpp: drawing scope, clear and fill, blits, copy.
namespace py {
PyObject* enter(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* exit(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* clear(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* fast_clear(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* fill(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* blit(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* lmblit(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* fast_blit(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* blit_texture(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* fast_blit_texture(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* copy(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
}  // namespace py
namespace native {
void c_fast_blit(LmRenderTexture* self, LmRenderTexture* lm_texture, PyObject* dest, int flip,
                 PyObject* color);
void c_fast_blit_texture(LmRenderTexture* self, PyObject* texture, PyObject* dest, int flip,
                         PyObject* color);
void c_fast_lmblit(LmRenderTexture* self, LmRenderTexture* lm_texture, ::LmVector2* dest,
                   int blend_mode, int flip, ::LmRect* color);
void c_fast_clear(LmRenderTexture* self, PyObject* color);
void c_clear(LmRenderTexture* self, PyObject* color);
void clear(LmRenderTexture* self, PyObject* color, int skip_dispatch);
void fast_clear(LmRenderTexture* self, PyObject* color, int skip_dispatch);
void fill(LmRenderTexture* self, PyObject* color, int skip_dispatch);
}  // namespace native

// release.cpp: kill and deallocation.
namespace py {
PyObject* kill(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
}
namespace native {
void kill(LmRenderTexture* self, int skip_dispatch);
}
void render_texture_dealloc(PyObject* self);
// The clean-up of a dying object (the type's finaliser); it runs once per
// object, and never raises.
void render_texture_finalize(PyObject* self);

// geometry.cpp: size queries.
namespace py {
PyObject* get_rect(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* get_height(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* get_width(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
}  // namespace py
namespace native {
::LmRect* get_rect(LmRenderTexture* self, int skip_dispatch);
double get_height(LmRenderTexture* self, int skip_dispatch);
double get_width(LmRenderTexture* self, int skip_dispatch);
}  // namespace native

// pickling.cpp: the pickle protocol.
namespace py {
PyObject* reduce(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* setstate(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* unpickle(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
}  // namespace py

}  // namespace lmrt
