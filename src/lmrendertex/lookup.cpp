#include "lookup.hpp"

#include "function.hpp"
#include "methods.hpp"
#include "state.hpp"

namespace lmrt {

PyObject* lookup_builtin(PyObject* name) {
  PyObject* value = PyObject_GetAttr(module_state.builtins, name);
  if (value == nullptr && PyErr_ExceptionMatches(PyExc_AttributeError)) {
    PyErr_Clear();
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
  }
  return value;
}

PyObject* lookup_global(PyObject* name) {
  PyObject* value = PyDict_GetItemWithError(module_state.dict, name);
  if (value != nullptr) return Py_NewRef(value);
  return PyErr_Occurred() ? nullptr : lookup_builtin(name);
}

int optional_attribute(PyObject* object, PyObject* name, Ref& value) {
  value = Ref::steal(PyObject_GetAttr(object, name));
  if (value) return 1;
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
  PyErr_Clear();
  return 0;
}

Ref raylib_binding() {
  Ref md = Ref::steal(lookup_global(names().md));
  if (!md) return md;
  return Ref::steal(PyObject_GetAttr(md.get(), names().rl));
}

Dispatch call_override(LmRenderTexture* self, int skip_dispatch, MethodId method,
                       PyObject* argument, Ref& result) {
  // Only a class defined in Python can override; an exact LmRenderTexture
  // pays no lookup.
  PyTypeObject* type = Py_TYPE(self);
  if (skip_dispatch || (type->tp_dictoffset == 0 &&
                        !PyType_HasFeature(type, Py_TPFLAGS_IS_ABSTRACT | Py_TPFLAGS_HEAPTYPE))) {
    return Dispatch::Own;
  }
  Ref found = Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(self), method_name(method)));
  if (!found) return Dispatch::Error;
  if (is_same_function(found.get(), method_object(method))) return Dispatch::Own;
  result = Ref::steal(argument ? PyObject_CallOneArg(found.get(), argument)
                               : PyObject_CallNoArgs(found.get()));
  return result ? Dispatch::Override : Dispatch::Error;
}

}  // namespace lmrt
