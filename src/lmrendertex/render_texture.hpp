// The LmRenderTexture type: its record and native method table, and the few
// facts about an object that every operation needs.
#pragma once

#include <Python.h>

#include "lumo_ui/fast/lmrendertex/lm_render_tex.h"
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
  if (!module_state.assertions || self->loaded) return true;
  PyErr_SetString(PyExc_AssertionError, "Render texture not loaded");
  return false;
}

// source.width / source.height as Python code reads them. The exact type's
// properties are known, so they are read without an attribute lookup.
PyObject* read_width(PyObject* source);
PyObject* read_height(PyObject* source);

// Slots defined with the operation they belong to.
int render_texture_init(PyObject* self, PyObject* args, PyObject* kwargs);  // render_texture.cpp
void render_texture_dealloc(PyObject* self);                                 // release.cpp
// The clean-up of a dying object (the type's finaliser): it runs once per
// load of the object, leaves it unloaded, and never raises.
void render_texture_finalize(PyObject* self);                                // release.cpp

}  // namespace lmrt
