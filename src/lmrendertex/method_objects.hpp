// Building the method objects from their descriptors and binding them to the
// type, with the defaults captured at import.
#pragma once

#include <Python.h>

#include "method.hpp"

namespace lmrt {

// Stores `value` under `name` in the type's dict.
bool store_in_type(PyObject* name, PyObject* value);

// The code objects that carry each method's argument names and first line.
bool create_code_objects();
// Makes the row's function object (without defaults) and keeps it as the
// method's own object.
bool bind_function(MethodId id);
// The pickling operations go into the type's dict before their hooks are
// wired, ahead of the other methods.
bool bind_pickling_operations();
// The static method, then the remaining methods in binding order; `line` is
// the line of the method being bound.
bool bind_methods(int& line);

}  // namespace lmrt
