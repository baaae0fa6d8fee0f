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

namespace {

// The getset descriptor's getter the generic lookup of `name` on `type` would
// call, or null when it would do anything else. A getset descriptor is a data
// descriptor, so the instance dictionary never comes into it.
getter generic_getter(PyTypeObject* type, PyObject* name, void** closure) {
  if (type->tp_getattro != PyObject_GenericGetAttr) return nullptr;
  PyObject* found = _PyType_Lookup(type, name);  // borrowed; runs no Python code
  if (found == nullptr || !Py_IS_TYPE(found, &PyGetSetDescr_Type)) return nullptr;
  auto* descriptor = reinterpret_cast<PyGetSetDescrObject*>(found);
  if (!PyType_IsSubtype(type, PyDescr_TYPE(descriptor))) return nullptr;
  *closure = descriptor->d_getset->closure;
  return descriptor->d_getset->get;
}

// Records what reading `name` on `type` does, found or not, under the type's
// current version tag; a type that cannot be given a tag stays uncached.
void remember_getter(PyTypeObject* type, PyObject* name, GetterCache& cache) {
  cache.version = 0;
  if (!PyUnstable_Type_AssignVersionTag(type)) return;
  cache.type = type;
  cache.get = generic_getter(type, name, &cache.closure);
  if (PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG)) cache.version = type->tp_version_tag;
}

}  // namespace

PyObject* get_attribute(PyObject* object, PyObject* name, GetterCache& cache) {
  // Version tags are never reused, and any change to the type or its bases
  // clears the tag: a match means the lookup still resolves as recorded.
  PyTypeObject* type = Py_TYPE(object);
  if (type == cache.type && cache.version != 0 && type->tp_version_tag == cache.version) {
    return cache.get ? cache.get(object, cache.closure) : PyObject_GetAttr(object, name);
  }
  PyObject* value = PyObject_GetAttr(object, name);
  // Only after a success: the lookup below must not meet a pending error.
  if (value != nullptr) remember_getter(type, name, cache);
  return value;
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
