// The pickle protocol: a reduce value naming the module-level unpickling
// function, and the state tuple (loaded, render_texture, size[, __dict__]).
// No GPU resource is touched in either direction: the handle travels as a
// plain object.
#include "pickling.hpp"

#include <Python.h>

#include "arguments.hpp"
#include "handle_holders.hpp"
#include "lookup.hpp"
#include "ref.hpp"
#include "render_texture.hpp"
#include "state.hpp"
#include "traceback.hpp"

namespace lmrt {
namespace {

constexpr Py_ssize_t kStateFields = 3;
constexpr const char* kStateMembers = "loaded, render_texture, size";

// ---- reduce ----

// getattr(self, "__dict__", None). Only Python subclasses can have one, so an
// exact instance skips the lookup and the AttributeError it would build.
bool instance_dict(PyObject* self, Ref& dict) {
  if (Py_TYPE(self) == &RenderTextureType) return true;
  return optional_attribute(self, names().dunder_dict, dict) >= 0;
}

Ref reduce_value(PyObject* self) {
  LmRenderTexture* record = as_record(self);
  static_assert(kStateFields == 3, "the fields of the state tuple");
  Ref state = new_tuple(record->loaded ? Py_True : Py_False, record->render_texture, record->size);
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
    state = new_tuple(PyTuple_GET_ITEM(state.get(), 0), render_texture, size, dict.get());
    if (!state) return {};
  }
  static NamespaceCache unpickle_cache;
  Ref unpickle = Ref::steal(lookup_global(method_name(MethodId::unpickle), unpickle_cache));
  if (!unpickle) return {};
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
  if (use_setstate) {
    Ref arguments = new_tuple(type, module_state.checksum, Py_None);
    if (!arguments) return {};
    return new_tuple(unpickle.get(), arguments.get(), state.get());
  }
  Ref arguments = new_tuple(type, module_state.checksum, state.get());
  if (!arguments) return {};
  return new_tuple(unpickle.get(), arguments.get());
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
  // A count that cannot grow fails here, changing nothing, like a failed
  // truth test: the fields are then written without a possible failure.
  PyObject* handle = PyTuple_GET_ITEM(state, 1);
  holders::Room room(loaded, handle);
  if (!room) return false;
  holders::set_loaded_and_handle(self, loaded, handle);
  PyObject* size = PyTuple_GET_ITEM(state, 2);
  if (!check_convertible(size, module_state.vector_type)) return false;
  replace_field(self->size, size);
  if (PyTuple_GET_SIZE(state) <= kStateFields) return true;
  PyObject* extra = PyTuple_GET_ITEM(state, kStateFields);
  int has_extra = truth(extra);
  if (has_extra <= 0) return has_extra == 0;
  return update_instance_dict(as_object(self), extra);
}

// The routine shared by unpickling and the set-state operation; its entry
// is named after the unpickling function it serves.
constexpr const char* kSetStateRoutine = "__pyx_unpickle_LmRenderTexture__set_state";

bool set_state(LmRenderTexture* self, PyObject* state) {
  if (apply_state(self, state)) return true;
  add_traceback(kSetStateRoutine, line::kPickle, kStringSource);
  return false;
}

// ---- set-state operation ----

bool checked_setstate(LmRenderTexture* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
  PyObject* state;
  if (!bind(method(MethodId::setstate), args, nargs, kwnames, &state)) return false;
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
  for (long long known : kLayoutChecksums) {
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
  auto known = [](int i) { return static_cast<unsigned int>(kLayoutChecksums[i]); };
  Ref message = Ref::steal(
      PyUnicode_FromFormat("Incompatible checksums (0x%x vs (0x%x, 0x%x, 0x%x) = (%s))", low_bits,
                           known(0), known(1), known(2), kStateMembers));
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
// that is not LmRenderTexture or a subtype, in its own words. For the type
// itself the wrapper's checks pass and it allocates, so that is done
// directly (the type's attributes cannot be replaced).
Ref allocate_via_new(PyObject* type) {
  if (type == reinterpret_cast<PyObject*>(&RenderTextureType)) {
    return Ref::steal(as_object(allocate(&RenderTextureType)));
  }
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
  const Method& reduce = method(MethodId::reduce);
  Ref result;
  if (bind(reduce, args, nargs, kwnames, nullptr)) result = reduce_value(self);
  if (!result) add_traceback(reduce);
  return result.release();
}

PyObject* setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (!checked_setstate(as_record(self), args, nargs, kwnames)) {
    add_traceback(method(MethodId::setstate));
    return nullptr;
  }
  Py_RETURN_NONE;
}

PyObject* unpickle(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const Method& unpickle = method(MethodId::unpickle);
  PyObject* bound[3];  // __pyx_type, __pyx_checksum, __pyx_state
  Ref result;
  if (bind(unpickle, args, nargs, kwnames, bound)) {
    result = unpickle_object(bound[0], bound[1], bound[2]);
  }
  if (!result) add_traceback(unpickle);
  return result.release();
}

}  // namespace py

// ---- the standard hooks ----

namespace {

PyObject* type_dict() { return RenderTextureType.tp_dict; }

bool has_name(PyObject* function, PyObject* name) {
  Ref function_name = Ref::steal(PyObject_GetAttr(function, names().dunder_name));
  if (!function_name) {
    PyErr_Clear();
    return false;
  }
  int equal = PyObject_RichCompareBool(function_name.get(), name, Py_EQ);
  if (equal < 0) PyErr_Clear();
  return equal > 0;
}

// Moves `own_name` to `standard` when the type still has the inherited (or
// already our) operation there.
bool wire_hook(PyObject* standard, PyObject* own_name, PyObject* inherited) {
  Ref current = Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(&RenderTextureType), standard));
  if (!current) PyErr_Clear();
  if (current && current.get() != inherited && !has_name(current.get(), own_name)) return true;
  PyObject* operation = PyDict_GetItemWithError(type_dict(), own_name);
  if (operation == nullptr) return !PyErr_Occurred() && current;
  Ref keep = Ref::own(operation);
  return PyDict_SetItem(type_dict(), standard, operation) == 0 &&
         PyDict_DelItem(type_dict(), own_name) == 0;
}

bool wire_pickling_once() {
  PyObject* type = reinterpret_cast<PyObject*>(&RenderTextureType);
  PyObject* object_type = reinterpret_cast<PyObject*>(&PyBaseObject_Type);
  if (PyDict_GetItemWithError(type_dict(), names().dunder_getstate)) return true;
  if (PyErr_Occurred()) return false;
  Ref object_reduce_ex = Ref::steal(PyObject_GetAttr(object_type, names().dunder_reduce_ex));
  Ref reduce_ex = Ref::steal(PyObject_GetAttr(type, names().dunder_reduce_ex));
  if (!object_reduce_ex || !reduce_ex) return false;
  if (reduce_ex.get() != object_reduce_ex.get()) return true;
  Ref object_reduce = Ref::steal(PyObject_GetAttr(object_type, names().dunder_reduce));
  if (!object_reduce) return false;
  // object has __setstate__ nowhere, so "inherited" there means absent.
  bool wired =
      wire_hook(names().dunder_reduce, method_name(MethodId::reduce), object_reduce.get()) &&
      wire_hook(names().dunder_setstate, method_name(MethodId::setstate), nullptr);
  PyType_Modified(&RenderTextureType);
  return wired;
}

}  // namespace

bool wire_pickling() {
  if (wire_pickling_once()) return true;
  if (!PyErr_Occurred()) {
    PyErr_Format(PyExc_RuntimeError, "Unable to initialize pickling for %.200s",
                 RenderTextureType.tp_name);
  }
  return false;
}

}  // namespace lmrt
