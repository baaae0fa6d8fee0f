#include "function.hpp"

#include <structmember.h>

#include "methods.hpp"
#include "ref.hpp"
#include "render_texture.hpp"

namespace lmrt {

namespace {

struct FunctionObject {
  PyObject_HEAD
  vectorcallfunc vectorcall;
  MethodImpl impl;
  PyObject* name;
  PyObject* qualname;
  PyObject* module;
  PyObject* code;
  PyObject* defaults;     // tuple or None
  PyObject* annotations;  // dict
};

FunctionObject* as_function(PyObject* object) { return reinterpret_cast<FunctionObject*>(object); }

// A method reached through the type takes the object as its first argument;
// it must be refused before anything reads it as a record.
PyObject* method_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                            PyObject* kwnames) {
  FunctionObject* function = as_function(callable);
  Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  if (nargs < 1) {
    PyErr_Format(PyExc_TypeError, "%.200s() %s", PyUnicode_AsUTF8(function->name),
                 "needs an argument");
    return nullptr;
  }
  PyObject* self = args[0];
  if (!is_render_texture(self)) {
    PyErr_Format(PyExc_TypeError, "descriptor '%U' for '%.100s' objects doesn't apply to a '%.100s' object",
                 function->name, RenderTextureType.tp_name, Py_TYPE(self)->tp_name);
    return nullptr;
  }
  return function->impl(self, args + 1, nargs - 1, kwnames);
}

PyObject* plain_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                           PyObject* kwnames) {
  return as_function(callable)->impl(nullptr, args, PyVectorcall_NARGS(nargsf), kwnames);
}

PyObject* method_descr_get(PyObject* self, PyObject* obj, PyObject*) {
  if (obj == nullptr || obj == Py_None) return Py_NewRef(self);
  return PyMethod_New(self, obj);
}

int function_traverse(PyObject* self, visitproc visit, void* arg) {
  FunctionObject* f = as_function(self);
  Py_VISIT(f->name);
  Py_VISIT(f->qualname);
  Py_VISIT(f->module);
  Py_VISIT(f->code);
  Py_VISIT(f->defaults);
  Py_VISIT(f->annotations);
  return 0;
}

// Only the defaults and annotations can lead back to the function; the name,
// qualified name, module and code stay so a cleared function still reports
// errors in its own name.
int function_clear(PyObject* self) {
  FunctionObject* f = as_function(self);
  Py_CLEAR(f->defaults);
  Py_CLEAR(f->annotations);
  return 0;
}

void function_dealloc(PyObject* self) {
  PyObject_GC_UnTrack(self);
  function_clear(self);
  FunctionObject* f = as_function(self);
  Py_CLEAR(f->name);
  Py_CLEAR(f->qualname);
  Py_CLEAR(f->module);
  Py_CLEAR(f->code);
  PyObject_GC_Del(self);
}

PyObject* function_repr(PyObject* self) {
  return PyUnicode_FromFormat("<function %U at %p>", as_function(self)->qualname, self);
}

// Pickled by reference, as a plain function is: module and qualified name.
PyObject* function_reduce(PyObject* self, PyObject*) {
  return Py_NewRef(as_function(self)->qualname);
}

PyObject* get_none(PyObject*, void*) { Py_RETURN_NONE; }

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

#define LMRT_MEMBER(attr, field) \
  {attr, T_OBJECT, offsetof(FunctionObject, field), READONLY, nullptr}

PyMemberDef function_members[] = {
    LMRT_MEMBER("__name__", name),
    LMRT_MEMBER("__qualname__", qualname),
    LMRT_MEMBER("__module__", module),
    LMRT_MEMBER("__code__", code),
    LMRT_MEMBER("__defaults__", defaults),
    LMRT_MEMBER("__annotations__", annotations),
    {nullptr, 0, 0, 0, nullptr},
};

#undef LMRT_MEMBER

PyGetSetDef function_getset[] = {
    {"__kwdefaults__", get_none, nullptr, nullptr, nullptr},
    {"__doc__", get_none, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject make_function_type(const char* name, unsigned long extra_flags, descrgetfunc descr_get) {
  PyTypeObject type = {PyVarObject_HEAD_INIT(nullptr, 0)};
  type.tp_name = name;
  type.tp_basicsize = sizeof(FunctionObject);
  type.tp_dealloc = function_dealloc;
  type.tp_vectorcall_offset = offsetof(FunctionObject, vectorcall);
  type.tp_repr = function_repr;
  type.tp_call = PyVectorcall_Call;
  type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | extra_flags;
  type.tp_traverse = function_traverse;
  type.tp_clear = function_clear;
  type.tp_methods = function_methods;
  type.tp_members = function_members;
  type.tp_getset = function_getset;
  type.tp_descr_get = descr_get;
  return type;
}

// Methods bind to their object like Python functions; the method-descriptor
// flag lets `obj.method(...)` skip the bound-method allocation.
PyTypeObject MethodFunctionType = make_function_type(
    LMRT_MODULE_NAME ".method", Py_TPFLAGS_METHOD_DESCRIPTOR,
    method_descr_get);
// Static and module-level functions never bind.
PyTypeObject PlainFunctionType = make_function_type(
    LMRT_MODULE_NAME ".function", 0, nullptr);

}  // namespace

bool ready_function_type() {
  return PyType_Ready(&MethodFunctionType) == 0 && PyType_Ready(&PlainFunctionType) == 0;
}

PyObject* make_function(const Method& spec, PyObject* name, PyObject* code, PyObject* defaults,
                        PyObject* annotations) {
  bool method = spec.binding == Binding::Method;
  Ref qualname = Ref::steal(PyUnicode_FromString(spec.qualname));
  Ref annotation_dict = annotations ? Ref::own(annotations) : Ref::steal(PyDict_New());
  if (!qualname || !annotation_dict) return nullptr;
  PyTypeObject* type = method ? &MethodFunctionType : &PlainFunctionType;
  FunctionObject* function = PyObject_GC_New(FunctionObject, type);
  if (function == nullptr) return nullptr;
  function->vectorcall = method ? method_vectorcall : plain_vectorcall;
  function->impl = spec.impl;
  function->name = Py_NewRef(name);
  function->qualname = qualname.release();
  function->module = Py_NewRef(names().module_name);
  function->code = Py_NewRef(code);
  function->defaults = Py_NewRef(defaults ? defaults : Py_None);
  function->annotations = annotation_dict.release();
  PyObject_GC_Track(function);
  return reinterpret_cast<PyObject*>(function);
}

bool is_same_function(PyObject* candidate, PyObject* function) {
  if (candidate == function) return true;
  return PyMethod_Check(candidate) && PyMethod_GET_FUNCTION(candidate) == function;
}

}  // namespace lmrt
