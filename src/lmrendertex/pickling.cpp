// The pickle protocol: a reduce value naming the module-level unpickling
// function, and the state tuple (loaded, render_texture, size[, __dict__]).
// No GPU resource is touched in either direction: the handle travels as a
// plain object.
#include <Python.h>

#include "arguments.hpp"
#include "handle_holders.hpp"
#include "ref.hpp"
#include "render_texture.hpp"
#include "state.hpp"
#include "traceback.hpp"

namespace lmrt {
namespace {

// Layout checksums of the member list "loaded render_texture size" that stored
// pickles may carry (SHA-256, SHA-1 and MD5 digests); new pickles carry the first.
constexpr long long kChecksums[] = {0xd7babc0, 0x80a1750, 0x4dee0a1};

constexpr Py_ssize_t kStateFields = 3;

const Signature kReduceSignature{"__reduce_cython__", 0, 0, {}};
const Signature kSetstateSignature{"__setstate_cython__", 1, 1, {&Names::pyx_state}};
const Signature kUnpickleSignature{
    "__pyx_unpickle_LmRenderTexture",
    3,
    3,
    {&Names::pyx_type, &Names::pyx_checksum, &Names::pyx_state}};

void add_pickle_traceback(const char* function) {
  add_traceback(function, line::kPickle, kStringSource);
}

// ---- reduce ----

// getattr(self, "__dict__", None). Only Python subclasses can have one, so an
// exact instance skips the lookup and the AttributeError it would build.
bool instance_dict(PyObject* self, Ref& dict) {
  if (Py_TYPE(self) == &RenderTextureType) return true;
  return optional_attribute(self, names().dunder_dict, dict) >= 0;
}

Ref reduce_value(PyObject* self) {
  LmRenderTexture* record = as_record(self);
  Ref state = Ref::steal(PyTuple_Pack(kStateFields, record->loaded ? Py_True : Py_False,
                                      record->render_texture, record->size));
  if (!state) return {};
  Ref dict;
  if (!instance_dict(self, dict)) return {};
  int has_dict = 0;
  if (dict && dict.get() != Py_None) {
    has_dict = PyObject_IsTrue(dict.get());
    if (has_dict < 0) return {};
  }
  // The form follows the state actually recorded, read before the dictionary
  // lookup (which may run Python code).
  PyObject* render_texture = PyTuple_GET_ITEM(state.get(), 1);
  PyObject* size = PyTuple_GET_ITEM(state.get(), 2);
  bool use_setstate = has_dict || render_texture != Py_None || size != Py_None;
  if (has_dict) {
    state = Ref::steal(PyTuple_Pack(4, PyTuple_GET_ITEM(state.get(), 0), render_texture, size,
                                    dict.get()));
    if (!state) return {};
  }
  Ref unpickle = Ref::steal(lookup_global(names().pyx_unpickle));
  if (!unpickle) return {};
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
  if (use_setstate) {
    Ref arguments = Ref::steal(PyTuple_Pack(3, type, g.checksum, Py_None));
    if (!arguments) return {};
    return Ref::steal(PyTuple_Pack(3, unpickle.get(), arguments.get(), state.get()));
  }
  Ref arguments = Ref::steal(PyTuple_Pack(3, type, g.checksum, state.get()));
  if (!arguments) return {};
  return Ref::steal(PyTuple_Pack(2, unpickle.get(), arguments.get()));
}

// ---- set-state routine ----

bool update_instance_dict(PyObject* self, PyObject* extra) {
  Ref dict = Ref::steal(PyObject_GetAttr(self, names().dunder_dict));
  if (!dict) return false;
  if (PyDict_CheckExact(dict.get())) return PyDict_Update(dict.get(), extra) == 0;
  Ref result = Ref::steal(PyObject_CallMethodOneArg(dict.get(), names().update, extra));
  return static_cast<bool>(result);
}

// Fields are written in order without rollback: a refused `size` leaves the
// new `loaded` and `render_texture` in place.
bool apply_state(LmRenderTexture* self, PyObject* state) {
  // Checked up front so that a short tuple changes nothing.
  if (PyTuple_GET_SIZE(state) < kStateFields) {
    PyErr_SetString(PyExc_IndexError, "tuple index out of range");
    return false;
  }
  int loaded = truth(PyTuple_GET_ITEM(state, 0));
  if (loaded < 0) return false;
  holders::set_loaded(self, loaded);
  holders::replace_handle(self, PyTuple_GET_ITEM(state, 1));
  PyObject* size = PyTuple_GET_ITEM(state, 2);
  if (!check_convertible(size, g.vector_type)) return false;
  replace_field(self->size, size);
  if (PyTuple_GET_SIZE(state) <= kStateFields) return true;
  PyObject* extra = PyTuple_GET_ITEM(state, kStateFields);
  int has_extra = truth(extra);
  if (has_extra <= 0) return has_extra == 0;
  return update_instance_dict(as_object(self), extra);
}

bool set_state(LmRenderTexture* self, PyObject* state) {
  if (apply_state(self, state)) return true;
  add_pickle_traceback("__pyx_unpickle_LmRenderTexture__set_state");
  return false;
}

// ---- set-state operation ----

bool checked_setstate(LmRenderTexture* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
  PyObject* state;
  if (!bind(kSetstateSignature, args, nargs, kwnames, &state)) return false;
  if (state == Py_None) {
    PyErr_SetString(PyExc_TypeError,
                    "cannot pass None into a C function argument that is declared 'not None'");
    return false;
  }
  if (!PyTuple_CheckExact(state)) {
    raise_unexpected_type("tuple", state);
    return false;
  }
  return set_state(self, state);
}

// ---- unpickling ----

// A signed 64-bit checksum: an int as it is, anything else through __int__.
bool as_checksum(PyObject* value, long long* out) {
  Ref integer = as_integer(value);
  if (!integer) return false;
  *out = PyLong_AsLongLong(integer.get());
  return !(*out == -1 && PyErr_Occurred());
}

bool is_known_checksum(long long checksum) {
  for (long long known : kChecksums) {
    if (checksum == known) return true;
  }
  return false;
}

// from pickle import PickleError
Ref import_pickle_error() {
  Ref pickle = Ref::steal(PyImport_Import(names().pickle));
  if (!pickle) return {};
  Ref error = Ref::steal(PyObject_GetAttr(pickle.get(), names().PickleError));
  if (!error && PyErr_ExceptionMatches(PyExc_AttributeError)) {
    PyErr_Clear();
    PyErr_Format(PyExc_ImportError, "cannot import name %S", names().PickleError);
  }
  return error;
}

// raise PickleError("Incompatible checksums ...")
void raise_incompatible_checksum(long long checksum) {
  Ref error_type = import_pickle_error();
  if (!error_type) return;
  auto low_bits = static_cast<unsigned int>(static_cast<unsigned long long>(checksum) & 0xffffffffu);
  Ref message = Ref::steal(PyUnicode_FromFormat(
      "Incompatible checksums (0x%x vs (0xd7babc0, 0x80a1750, 0x4dee0a1) = "
      "(loaded, render_texture, size))",
      low_bits));
  if (!message) return;
  Ref error = Ref::steal(PyObject_CallOneArg(error_type.get(), message.get()));
  if (!error) return;
  if (!PyExceptionInstance_Check(error.get())) {
    PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
    return;
  }
  PyErr_SetRaisedException(error.release());
}

// LmRenderTexture.__new__(type): the interpreter's own wrapper refuses a type
// that is not LmRenderTexture or a subtype, in its own words.
Ref allocate_via_new(PyObject* type) {
  Ref new_method = Ref::steal(
      PyObject_GetAttr(reinterpret_cast<PyObject*>(&RenderTextureType), names().dunder_new));
  if (!new_method) return {};
  Ref object = Ref::steal(PyObject_CallOneArg(new_method.get(), type));
  if (object && !is_render_texture(object.get())) {
    PyErr_Format(PyExc_TypeError, "LmRenderTexture.__new__ returned %.200s, not LmRenderTexture",
                 Py_TYPE(object.get())->tp_name);
    return {};
  }
  return object;
}

Ref unpickle_object(PyObject* type, PyObject* checksum_object, PyObject* state) {
  long long checksum;
  if (!as_checksum(checksum_object, &checksum)) return {};
  if (!check_tuple_argument(state, true, "__pyx_state")) return {};
  if (!is_known_checksum(checksum)) {
    raise_incompatible_checksum(checksum);
    return {};
  }
  Ref object = allocate_via_new(type);
  if (!object) return {};
  if (state != Py_None && !set_state(as_record(object.get()), state)) {
    // The object is dropped unseen; a partial state may have marked it loaded
    // with a handle another object owns, which its release must not unload.
    holders::set_loaded(as_record(object.get()), 0);
    return {};
  }
  return object;
}

}  // namespace

namespace py {

PyObject* reduce(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* unused[1];
  Ref result;
  if (bind(kReduceSignature, args, nargs, kwnames, unused)) result = reduce_value(self);
  if (!result) add_pickle_traceback("LmRenderTexture.__reduce_cython__");
  return result.release();
}

PyObject* setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (!checked_setstate(as_record(self), args, nargs, kwnames)) {
    add_pickle_traceback("LmRenderTexture.__setstate_cython__");
    return nullptr;
  }
  Py_RETURN_NONE;
}

PyObject* unpickle(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* bound[3];
  Ref result;
  if (bind(kUnpickleSignature, args, nargs, kwnames, bound)) {
    result = unpickle_object(bound[0], bound[1], bound[2]);
  }
  if (!result) add_pickle_traceback("__pyx_unpickle_LmRenderTexture");
  return result.release();
}

}  // namespace py
}  // namespace lmrt
