// Name lookups as Python code would do them, and the dispatch of overridable
// native entries to a Python subclass's override.
#pragma once

#include <Python.h>

#include "lumo_ui/fast/lmrendertex/lm_render_tex.h"
#include "method.hpp"
#include "ref.hpp"

namespace lmrt {

// A module global as Python code would see it: the namespace, then the
// builtins; NameError when neither has it. A new reference or null.
PyObject* lookup_global(PyObject* name);
// What a namespace (a module's dict) held under one name, remembered for a
// read made on every call of an operation. A watcher on the dict forgets
// every remembered entry at the first change of any watched namespace, so a
// read through the cache gives what reading the dict would. Without a free
// watcher slot every read goes to the dict.
struct NamespaceCache {
  PyObject* dict = nullptr;
  PyObject* value = nullptr;  // borrowed from the dict
  unsigned long generation = 0;
};
// lookup_global through a cache of the module namespace's entry.
PyObject* lookup_global(PyObject* name, NamespaceCache& cache);
// A builtin by name; NameError when there is none. A new reference or null.
PyObject* lookup_builtin(PyObject* name);
// getattr(object, name, <absent>): 1 found (in `value`), 0 absent (an
// AttributeError, cleared), -1 any other error.
int optional_attribute(PyObject* object, PyObject* name, Ref& value);
// What attribute lookup on objects of one type resolves a name to, when that
// is a C getter: kept for as long as the type's version tag says its
// attributes are unchanged, so a repeated read calls the getter as the
// generic lookup would, without the lookup.
struct GetterCache {
  PyTypeObject* type = nullptr;
  unsigned int version = 0;  // 0: nothing cached
  getter get = nullptr;
  void* closure = nullptr;
};

// getattr(object, name); the same as PyObject_GetAttr, through `cache`.
PyObject* get_attribute(PyObject* object, PyObject* name, GetterCache& cache);

// md.rl, read afresh: a new reference or null.
Ref raylib_binding();

// getattr(binding, name) and binding.name(*args) as Python code does them,
// for names that neither the module type nor object defines (the binding's
// functions and constants). A plain module's attribute is then the entry of
// its namespace, so that is read (through `cache`) without the generic
// lookup; anything else, or a name the namespace lacks (a module __getattr__,
// the error's wording), goes the generic way. `args[0]` is the binding, and
// may be overwritten during the call.
PyObject* binding_attribute(PyObject* binding, PyObject* name, NamespaceCache& cache);
PyObject* call_binding(PyObject* name, NamespaceCache& cache, PyObject** args, Py_ssize_t nargs);

// Override dispatch of the overridable native entries. Unless skip_dispatch
// is set, a Python-level subclass's attribute named for the method that is
// not the type's own method object runs instead of the native body, with
// `argument` (or none).
// Own: run the native body. Override: the override ran and `result` holds
// what it returned. Error: the lookup or the call failed.
enum class Dispatch { Own, Override, Error };
Dispatch call_override(LmRenderTexture* self, int skip_dispatch, MethodId method,
                       PyObject* argument, Ref& result);

}  // namespace lmrt
