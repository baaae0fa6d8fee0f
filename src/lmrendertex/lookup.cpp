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

namespace {

// Bumped by every change of a watched namespace (and by its destruction), so
// that every remembered entry is forgotten before the change is made.
unsigned long namespace_generation = 1;

int namespace_changed(PyDict_WatchEvent, PyObject*, PyObject*, PyObject*) {
  ++namespace_generation;
  return 0;
}

// Watches `dict`; false when no watcher slot is free (entries are then read
// every time). The watcher is added at the first use.
bool watch(PyObject* dict) {
  static int watcher = -2;  // -2: not tried yet, -1: none to be had
  if (watcher == -2) {
    watcher = PyDict_AddWatcher(namespace_changed);
    if (watcher < 0) PyErr_Clear();
  }
  if (watcher < 0) return false;
  if (PyDict_Watch(watcher, dict) == 0) return true;
  PyErr_Clear();
  return false;
}

// dict[name] as a borrowed reference, through `cache`; null when absent, with
// an error set only when reading failed. A remembered entry is still the
// namespace's own: the watcher runs before any change to a watched dict, and
// before its destruction (so a later dict at the same address matches no
// cache).
PyObject* namespace_entry(PyObject* dict, PyObject* name, NamespaceCache& cache) {
  if (cache.dict == dict && cache.generation == namespace_generation) return cache.value;
  PyObject* value = PyDict_GetItemWithError(dict, name);
  if (value != nullptr && watch(dict)) cache = {dict, value, namespace_generation};
  return value;
}

// The namespace entry standing for the attribute of a plain module (see
// binding_attribute), borrowed; null when the object is not one or its
// namespace has no such entry, with an error set only when reading failed.
PyObject* module_entry(PyObject* object, PyObject* name, NamespaceCache& cache) {
  if (!PyModule_CheckExact(object)) return nullptr;
  return namespace_entry(PyModule_GetDict(object), name, cache);
}

}  // namespace

PyObject* lookup_global(PyObject* name, NamespaceCache& cache) {
  PyObject* value = namespace_entry(module_state.dict, name, cache);
  if (value != nullptr) return Py_NewRef(value);
  return PyErr_Occurred() ? nullptr : lookup_builtin(name);
}

PyObject* binding_attribute(PyObject* binding, PyObject* name, NamespaceCache& cache) {
  if (PyObject* entry = module_entry(binding, name, cache)) return Py_NewRef(entry);
  if (PyModule_CheckExact(binding) && PyErr_Occurred()) return nullptr;
  return PyObject_GetAttr(binding, name);
}

PyObject* call_binding(PyObject* name, NamespaceCache& cache, PyObject** args, Py_ssize_t nargs) {
  if (PyObject* entry = module_entry(args[0], name, cache)) {
    Ref function = Ref::own(entry);  // the call may take it out of the namespace
    return PyObject_Vectorcall(function.get(), args + 1,
                               (nargs - 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
  }
  if (PyModule_CheckExact(args[0]) && PyErr_Occurred()) return nullptr;
  return PyObject_VectorcallMethod(name, args, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
}

Ref raylib_binding() {
  static NamespaceCache md_cache, rl_cache;
  Ref md = Ref::steal(lookup_global(names().md, md_cache));
  if (!md) return md;
  return Ref::steal(binding_attribute(md.get(), names().rl, rl_cache));
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
