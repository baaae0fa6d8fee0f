// A stand-in sibling module: it knows LmRenderTexture only through the public
// header, and exposes each entry of the method table to the tests.
#include "lumo_ui/fast/lmrendertex/lm_render_tex.h"

namespace {

PyTypeObject* render_texture_type = nullptr;
LmRenderTextureMethods* methods = nullptr;

bool ensure_table() {
  if (methods) return true;
  render_texture_type = LmRenderTexture_ImportType(&methods);
  return render_texture_type != nullptr;
}

LmRenderTexture* record(PyObject* object) {
  if (!ensure_table()) return nullptr;
  if (!PyObject_TypeCheck(object, render_texture_type)) {
    PyErr_Format(PyExc_TypeError, "expected an LmRenderTexture, got %.200s", Py_TYPE(object)->tp_name);
    return nullptr;
  }
  return reinterpret_cast<LmRenderTexture*>(object);
}

bool parse(PyObject* args, const char* format, LmRenderTexture** self, PyObject** object_self,
           auto*... rest) {
  if (!PyArg_ParseTuple(args, format, object_self, rest...)) return false;
  *self = record(*object_self);
  return *self != nullptr;
}

PyObject* done() {
  if (PyErr_Occurred()) return nullptr;
  Py_RETURN_NONE;
}

// Field values read straight from the record: (render_texture, size, loaded).
PyObject* fields(PyObject*, PyObject* object) {
  LmRenderTexture* self = record(object);
  if (!self) return nullptr;
  return Py_BuildValue("(OOi)", self->render_texture, self->size, self->loaded);
}

PyObject* table_is_published(PyObject*, PyObject*) {
  if (!ensure_table()) return nullptr;
  return PyBool_FromLong(methods != nullptr);
}

PyObject* new_(PyObject*, PyObject* size) {
  if (!ensure_table()) return nullptr;
  return reinterpret_cast<PyObject*>(methods->new_(reinterpret_cast<LmVector2*>(size)));
}

PyObject* c_get_texture(PyObject*, PyObject* object) {
  LmRenderTexture* self = record(object);
  return self ? methods->c_get_texture(self) : nullptr;
}

PyObject* c_fast_blit(PyObject*, PyObject* args) {
  LmRenderTexture *self, *source;
  PyObject *object, *source_object, *dest, *color;
  int flip;
  if (!parse(args, "OOOiO", &self, &object, &source_object, &dest, &flip, &color)) return nullptr;
  if (!(source = record(source_object))) return nullptr;
  methods->c_fast_blit(self, source, dest, flip, color);
  return done();
}

PyObject* c_fast_lmblit(PyObject*, PyObject* args) {
  LmRenderTexture *self, *source;
  PyObject *object, *source_object, *dest, *color;
  int blend_mode, flip;
  if (!parse(args, "OOOiiO", &self, &object, &source_object, &dest, &blend_mode, &flip, &color)) {
    return nullptr;
  }
  if (!(source = record(source_object))) return nullptr;
  methods->c_fast_lmblit(self, source, reinterpret_cast<LmVector2*>(dest), blend_mode, flip,
                         reinterpret_cast<LmRect*>(color));
  return done();
}

PyObject* c_fast_blit_texture(PyObject*, PyObject* args) {
  LmRenderTexture* self;
  PyObject *object, *texture, *dest, *color;
  int flip;
  if (!parse(args, "OOOiO", &self, &object, &texture, &dest, &flip, &color)) return nullptr;
  methods->c_fast_blit_texture(self, texture, dest, flip, color);
  return done();
}

template <void (*LmRenderTextureMethods::*Entry)(LmRenderTexture*, PyObject*)>
PyObject* color_entry(PyObject*, PyObject* args) {
  LmRenderTexture* self;
  PyObject *object, *color;
  if (!parse(args, "OO", &self, &object, &color)) return nullptr;
  (methods->*Entry)(self, color);
  return done();
}

template <void (*LmRenderTextureMethods::*Entry)(LmRenderTexture*, PyObject*, int)>
PyObject* dispatching_color_entry(PyObject*, PyObject* args) {
  LmRenderTexture* self;
  PyObject *object, *color;
  int skip_dispatch;
  if (!parse(args, "OOi", &self, &object, &color, &skip_dispatch)) return nullptr;
  (methods->*Entry)(self, color, skip_dispatch);
  return done();
}

PyObject* kill(PyObject*, PyObject* args) {
  LmRenderTexture* self;
  PyObject* object;
  int skip_dispatch;
  if (!parse(args, "Oi", &self, &object, &skip_dispatch)) return nullptr;
  methods->kill(self, skip_dispatch);
  return done();
}

PyObject* get_rect(PyObject*, PyObject* args) {
  LmRenderTexture* self;
  PyObject* object;
  int skip_dispatch;
  if (!parse(args, "Oi", &self, &object, &skip_dispatch)) return nullptr;
  return reinterpret_cast<PyObject*>(methods->get_rect(self, skip_dispatch));
}

// A failed size query must answer 0.0 with the error set.
template <double (*LmRenderTextureMethods::*Entry)(LmRenderTexture*, int)>
PyObject* size_query(PyObject*, PyObject* args) {
  LmRenderTexture* self;
  PyObject* object;
  int skip_dispatch;
  if (!parse(args, "Oi", &self, &object, &skip_dispatch)) return nullptr;
  double value = (methods->*Entry)(self, skip_dispatch);
  if (PyErr_Occurred()) {
    if (value != 0.0) {
      PyErr_Clear();
      PyErr_Format(PyExc_SystemError, "failed size query answered %R", PyFloat_FromDouble(value));
    }
    return nullptr;
  }
  return PyFloat_FromDouble(value);
}

PyMethodDef client_methods[] = {
    {"fields", fields, METH_O, nullptr},
    {"table_is_published", table_is_published, METH_NOARGS, nullptr},
    {"new", new_, METH_O, nullptr},
    {"c_get_texture", c_get_texture, METH_O, nullptr},
    {"c_fast_blit", c_fast_blit, METH_VARARGS, nullptr},
    {"c_fast_lmblit", c_fast_lmblit, METH_VARARGS, nullptr},
    {"c_fast_blit_texture", c_fast_blit_texture, METH_VARARGS, nullptr},
    {"c_fast_clear", color_entry<&LmRenderTextureMethods::c_fast_clear>, METH_VARARGS, nullptr},
    {"c_clear", color_entry<&LmRenderTextureMethods::c_clear>, METH_VARARGS, nullptr},
    {"clear", dispatching_color_entry<&LmRenderTextureMethods::clear>, METH_VARARGS, nullptr},
    {"fast_clear", dispatching_color_entry<&LmRenderTextureMethods::fast_clear>, METH_VARARGS, nullptr},
    {"fill", dispatching_color_entry<&LmRenderTextureMethods::fill>, METH_VARARGS, nullptr},
    {"kill", kill, METH_VARARGS, nullptr},
    {"get_rect", get_rect, METH_VARARGS, nullptr},
    {"get_height", size_query<&LmRenderTextureMethods::get_height>, METH_VARARGS, nullptr},
    {"get_width", size_query<&LmRenderTextureMethods::get_width>, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef client_module = {
    PyModuleDef_HEAD_INIT, "lmrt_native_client", nullptr, -1, client_methods,
    nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_lmrt_native_client() { return PyModule_Create(&client_module); }
