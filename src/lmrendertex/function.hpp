// Function-like method objects: what the type's dict holds for each Python
// method. They carry a code object, defaults and annotations for
// introspection, are called through vectorcall, and are method descriptors so
// that `obj.method(...)` does not allocate a bound method.
#pragma once

#include <Python.h>

#include "method.hpp"

namespace lmrt {

// A new function object for a Method or Plain row; defaults and annotations
// may be null (none).
PyObject* make_function(const Method& spec, PyObject* name, PyObject* code,
                        PyObject* defaults, PyObject* annotations);

// True if `candidate` is `function` itself or a bound method of it.
bool is_same_function(PyObject* candidate, PyObject* function);

bool ready_function_type();

}  // namespace lmrt
