// Function-like method objects: what the type's dict holds for each Python
// method. They carry a code object, defaults and annotations for
// introspection, are called through vectorcall, and are method descriptors so
// that `obj.method(...)` does not allocate a bound method.
#pragma once

#include <Python.h>

#include "render_texture.hpp"

namespace lmrt {

enum class Binding {
  Method,  // first argument is the LmRenderTexture
  Plain,   // static and module-level functions
};

struct FunctionSpec {
  const char* qualname;  // e.g. "LmRenderTexture.blit"
  MethodImpl impl;
  Binding binding;
};

// A new function object; defaults and annotations may be null (none).
PyObject* make_function(const FunctionSpec& spec, PyObject* name, PyObject* code,
                        PyObject* defaults, PyObject* annotations);

// True if `candidate` is `function` itself or a bound method of it.
bool is_same_function(PyObject* candidate, PyObject* function);

bool ready_function_type();

}  // namespace lmrt
