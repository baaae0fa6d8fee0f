#include "arguments.hpp"

#include <memory>

#include "ref.hpp"

namespace lmrt {

void raise_argument_count(const char* func, Py_ssize_t min, Py_ssize_t max, Py_ssize_t given) {
  const char* qualifier;
  Py_ssize_t expected;
  if (min == max) {
    qualifier = "exactly";
    expected = min;
  } else if (given < min) {
    qualifier = "at least";
    expected = min;
  } else {
    qualifier = "at most";
    expected = max;
  }
  PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", func,
               qualifier, expected, expected == 1 ? "" : "s", given);
}

namespace {

PyObject* param_name(const Method& sig, int i) { return names().*(sig.params[i].name); }

// Index of the parameter called `key`, or -1. Interned names match by
// pointer; other strings by value.
int find_param(const Method& sig, PyObject* key) {
  for (int i = 0; i < sig.count; ++i) {
    if (param_name(sig, i) == key) return i;
  }
  if (!PyUnicode_Check(key)) return -1;
  for (int i = 0; i < sig.count; ++i) {
    if (PyUnicode_Compare(param_name(sig, i), key) == 0) return i;
  }
  return -1;
}

// Keywords are (name, value) pairs; both call forms feed this one matcher.
struct Keywords {
  PyObject* const* keys;
  PyObject* const* values;
  Py_ssize_t count;
};

bool bind_keywords(const Method& sig, Py_ssize_t nargs, const Keywords& kw, PyObject** out) {
  // Parameters not filled by position take their keyword; the first missing
  // required one is reported as a count error, as the interpreter does.
  for (int i = static_cast<int>(nargs); i < sig.count; ++i) {
    out[i] = nullptr;
    PyObject* name = param_name(sig, i);
    for (Py_ssize_t k = 0; k < kw.count && out[i] == nullptr; ++k) {
      if (kw.keys[k] == name) out[i] = kw.values[k];
    }
    for (Py_ssize_t k = 0; k < kw.count && out[i] == nullptr; ++k) {
      if (PyUnicode_Check(kw.keys[k]) && PyUnicode_Compare(kw.keys[k], name) == 0) {
        out[i] = kw.values[k];
      }
    }
    if (out[i] == nullptr && i < sig.required) {
      raise_argument_count(short_name(sig), sig.required, sig.count, i);
      return false;
    }
  }
  // Then every keyword must name a parameter not already given by position.
  for (Py_ssize_t k = 0; k < kw.count; ++k) {
    PyObject* key = kw.keys[k];
    if (!PyUnicode_Check(key)) {
      PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", short_name(sig));
      return false;
    }
    int index = find_param(sig, key);
    if (index >= nargs) continue;
    if (index >= 0) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", short_name(sig),
                   key);
    } else {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", short_name(sig),
                   key);
    }
    return false;
  }
  return true;
}

bool bind_positional(const Method& sig, PyObject* const* args, Py_ssize_t nargs,
                     Py_ssize_t nkeywords, PyObject** out) {
  if (nargs > sig.count || (nkeywords == 0 && nargs < sig.required)) {
    raise_argument_count(short_name(sig), sig.required, sig.count, nargs);
    return false;
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
  for (Py_ssize_t i = nargs; i < sig.count; ++i) out[i] = nullptr;
  return true;
}

// The common keyword call, after the positional ones are bound: each keyword
// is the interned name of a distinct parameter after them, and every
// required parameter is given. Anything else (a name that is only equal, a
// repeat, a missing or unknown parameter) is left to the full matcher, which
// binds those slots afresh and words the errors.
bool match_interned_keywords(const Method& sig, Py_ssize_t nargs, PyObject* kwnames,
                             PyObject* const* values, PyObject** out) {
  Py_ssize_t nkeywords = PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < nkeywords; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    int i = static_cast<int>(nargs);
    while (i < sig.count && param_name(sig, i) != key) ++i;
    if (i == sig.count || out[i] != nullptr) return false;
    out[i] = values[k];
  }
  for (int i = static_cast<int>(nargs); i < sig.required; ++i) {
    if (out[i] == nullptr) return false;
  }
  return true;
}

}  // namespace

namespace detail {

bool bind_slow(const Method& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               PyObject** out) {
  Py_ssize_t nkeywords = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  if (!bind_positional(sig, args, nargs, nkeywords, out)) return false;
  if (nkeywords == 0) return true;
  if (match_interned_keywords(sig, nargs, kwnames, args + nargs, out)) return true;
  Keywords kw{&PyTuple_GET_ITEM(kwnames, 0), args + nargs, nkeywords};
  return bind_keywords(sig, nargs, kw, out);
}

}  // namespace detail

bool bind_tuple_dict(const Method& sig, PyObject* args, PyObject* kwargs, PyObject** out) {
  Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  Py_ssize_t nkeywords = kwargs ? PyDict_GET_SIZE(kwargs) : 0;
  if (!bind_positional(sig, &PyTuple_GET_ITEM(args, 0), nargs, nkeywords, out)) return false;
  if (nkeywords == 0) return true;
  // Calls that can succeed carry at most one keyword per parameter; only a
  // faulty call needs the heap.
  constexpr Py_ssize_t kBuffer = kMaxParams;
  // The heap buffer comes from the interpreter, so running out of memory
  // is a MemoryError like any other.
  PyObject* small[2 * kBuffer];
  std::unique_ptr<PyObject*, decltype(&PyMem_Free)> large(nullptr, PyMem_Free);
  PyObject** keys = small;
  if (nkeywords > kBuffer) {
    large.reset(PyMem_New(PyObject*, 2 * nkeywords));
    if (!large) {
      PyErr_NoMemory();
      return false;
    }
    keys = large.get();
  }
  PyObject** values = keys + nkeywords;
  Py_ssize_t pos = 0, n = 0;
  PyObject *key, *value;
  while (PyDict_Next(kwargs, &pos, &key, &value)) {
    keys[n] = key;
    values[n] = value;
    ++n;
  }
  return bind_keywords(sig, nargs, Keywords{keys, values, n}, out);
}

Ref as_integer(PyObject* value) {
  if (PyLong_Check(value)) return Ref::own(value);
  PyNumberMethods* number = Py_TYPE(value)->tp_as_number;
  if (number == nullptr || number->nb_int == nullptr) {
    PyErr_SetString(PyExc_TypeError, "an integer is required");
    return Ref();
  }
  Ref converted = Ref::steal(number->nb_int(value));
  if (converted && !PyLong_Check(converted.get())) {
    PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                 Py_TYPE(converted.get())->tp_name);
    return Ref();
  }
  return converted;
}

bool as_int32(PyObject* value, int* out) {
  Ref integer = as_integer(value);
  if (!integer) return false;
  int overflow = 0;
  long result = PyLong_AsLongAndOverflow(integer.get(), &overflow);
  if (result == -1 && PyErr_Occurred()) return false;
  if (overflow != 0 || result < INT32_MIN || result > INT32_MAX) {
    PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
    return false;
  }
  *out = static_cast<int>(result);
  return true;
}

void raise_incorrect_type(const char* name, PyTypeObject* expected, PyObject* value) {
  PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
               name, expected->tp_name, Py_TYPE(value)->tp_name);
}

void raise_unexpected_type(const char* expected, PyObject* value) {
  PyErr_Format(PyExc_TypeError, "Expected %s, got %.200s", expected, Py_TYPE(value)->tp_name);
}

void raise_cannot_convert(PyObject* value, PyTypeObject* type) {
  PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(value)->tp_name,
               type->tp_name);
}

}  // namespace lmrt
