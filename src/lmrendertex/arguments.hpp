// Argument binding and conversion with the interpreter's own wording, shared
// by every Python-level entry point of the module.
#pragma once

#include <Python.h>

#include "methods.hpp"
#include "ref.hpp"
#include "state.hpp"

namespace lmrt {

namespace detail {
bool bind_slow(const Method& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               PyObject** out);
}

// Binds vectorcall arguments to out[0..sig.count) as borrowed references;
// omitted optional parameters are left null. A method without parameters
// passes a null `out`. False with TypeError set on a count or keyword error.
inline bool bind(const Method& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                 PyObject** out) {
  if (kwnames == nullptr && nargs >= sig.required && nargs <= sig.count) {
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
    for (Py_ssize_t i = nargs; i < sig.count; ++i) out[i] = nullptr;
    return true;
  }
  return detail::bind_slow(sig, args, nargs, kwnames, out);
}

// The same for a classic (tuple, dict) call, as __init__ receives it.
bool bind_tuple_dict(const Method& sig, PyObject* args, PyObject* kwargs, PyObject** out);

// "%.200s() takes %.8s %zd positional argument%.1s (%zd given)"
void raise_argument_count(const char* func, Py_ssize_t min, Py_ssize_t max, Py_ssize_t given);

// An int as it is, or any other object through its __int__; TypeError "an
// integer is required" for an object without one.
Ref as_integer(PyObject* value);
// A signed 32-bit int from an int, or from any object through its __int__.
bool as_int32(PyObject* value, int* out);

// Truth value with True, False and None decided without a call; -1 on error.
inline int truth(PyObject* value) {
  if (value == Py_True) return 1;
  if (value == Py_False || value == Py_None) return 0;
  return PyObject_IsTrue(value);
}

// TypeError "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)".
void raise_incorrect_type(const char* name, PyTypeObject* expected, PyObject* value);

// For a parameter declared as an extension type: an instance of it or of a
// subclass, or None where allowed.
inline bool check_argument_type(PyObject* value, PyTypeObject* type, bool none_allowed,
                                const char* name) {
  if (PyObject_TypeCheck(value, type) || (none_allowed && value == Py_None)) return true;
  raise_incorrect_type(name, type, value);
  return false;
}
// For a parameter declared as `tuple`: exactly the built-in tuple.
inline bool check_tuple_argument(PyObject* value, bool none_allowed, const char* name) {
  if (PyTuple_CheckExact(value) || (none_allowed && value == Py_None)) return true;
  raise_incorrect_type(name, &PyTuple_Type, value);
  return false;
}

// TypeError "Expected %s, got %.200s".
void raise_unexpected_type(const char* expected, PyObject* value);
// TypeError "Cannot convert %.200s to %.200s" (value's type, target type).
void raise_cannot_convert(PyObject* value, PyTypeObject* type);
// True if value may be stored where `type` or None is declared; else the
// "Cannot convert" TypeError.
inline bool check_convertible(PyObject* value, PyTypeObject* type) {
  if (value == Py_None || PyObject_TypeCheck(value, type)) return true;
  raise_cannot_convert(value, type);
  return false;
}

// Double from a float, or through the interpreter's float conversion; false
// with the conversion's error set.
inline bool as_double(PyObject* value, double* out) {
  *out = PyFloat_CheckExact(value) ? PyFloat_AS_DOUBLE(value) : PyFloat_AsDouble(value);
  return !(*out == -1.0 && PyErr_Occurred());
}

}  // namespace lmrt
