// The method objects the type's dict and the module hold, built at import
// from the rows of kMethods: a code object per row (its parameter names and
// first line), the __defaults__ tuple and each default an omitted argument
// takes (both made from the row's defaults) and the annotations; then
// binding them into the type, in the order of MethodId.
#include "method_objects.hpp"

#include "arguments.hpp"
#include "function.hpp"
#include "lookup.hpp"
#include "methods.hpp"
#include "render_texture.hpp"
#include "traceback.hpp"

namespace lmrt {

namespace {

// Process-lifetime objects are held as plain pointers: a static owner would
// release them after the interpreter is gone.
PyObject* code_objects[kMethodCount];

// A code object that only describes a function's shape: `argcount`
// positional-or-keyword parameters named by `varnames`, its names and its
// first line. It has no instructions, constants or other variables.
PyObject* new_shape_only_code(int argcount, PyObject* varnames, PyObject* file, PyObject* name,
                              PyObject* qualname, int first_line) {
  Ref empty_bytes = Ref::steal(PyBytes_FromStringAndSize(nullptr, 0));
  Ref empty_tuple = Ref::steal(PyTuple_New(0));
  if (!empty_bytes || !empty_tuple) return nullptr;
  PyObject* no_code = empty_bytes.get();
  PyObject* none = empty_tuple.get();
  return reinterpret_cast<PyObject*>(PyUnstable_Code_NewWithPosOnlyArgs(
      argcount, /*posonlyargcount=*/0, /*kwonlyargcount=*/0, /*nlocals=*/argcount,
      /*stacksize=*/0, CO_OPTIMIZED | CO_NEWLOCALS, /*code=*/no_code, /*consts=*/none,
      /*names=*/none, varnames, /*freevars=*/none, /*cellvars=*/none, file, name, qualname,
      first_line, /*linetable=*/no_code, /*exceptiontable=*/no_code));
}

// The code object of a row: its parameters (after self for a method) and its
// line, so introspection sees a function of that shape; it is never run.
Ref make_code(const Method& spec) {
  bool method = spec.binding == Binding::Method;
  int argcount = spec.count + (method ? 1 : 0);
  Ref varnames = Ref::steal(PyTuple_New(argcount));
  if (!varnames) return Ref();
  int slot = 0;
  if (method) PyTuple_SET_ITEM(varnames.get(), slot++, Py_NewRef(names().self));
  for (int i = 0; i < spec.count; ++i) {
    PyTuple_SET_ITEM(varnames.get(), slot++, Py_NewRef(names().*(spec.params[i].name)));
  }
  Ref file = Ref::steal(
      PyUnicode_FromString(spec.source == Source::Pickling ? kStringSource : kSourceFile));
  Ref qualname = Ref::steal(PyUnicode_FromString(spec.qualname));
  if (!file || !qualname) return Ref();
  return Ref::steal(new_shape_only_code(argcount, varnames.get(), file.get(),
                                        method_name(spec.id), qualname.get(), spec.line));
}

Ref make_function_object(MethodId id, PyObject* defaults, PyObject* annotations) {
  const Method& spec = method(id);
  return Ref::steal(make_function(spec, method_name(id), code_objects[index_of(id)], defaults,
                                  annotations));
}

void keep_own(MethodId id, PyObject* function) {
  Py_XSETREF(module_state.method_objects[index_of(id)], Py_NewRef(function));
}

// Color.White as read now; it must be a tuple or None.
Ref read_white() {
  Ref color = Ref::steal(lookup_global(names().Color));
  if (!color) return color;
  Ref white = Ref::steal(PyObject_GetAttr(color.get(), names().White));
  if (white && !PyTuple_CheckExact(white.get()) && white.get() != Py_None) {
    raise_unexpected_type("tuple", white.get());
    return Ref();
  }
  return white;
}

// A default as a Python object, made now: a constant, or the colour as read
// at this moment.
Ref default_object(Default fallback) {
  switch (fallback.kind) {
    case Default::Kind::Int:
      return Ref::steal(PyLong_FromLong(fallback.value));
    case Default::Kind::Bool:
      return Ref::own(fallback.value ? Py_True : Py_False);
    case Default::Kind::White:
      return read_white();
    case Default::Kind::BaseColor:
      return Ref::own(module_state.base_color);
    case Default::Kind::Required:
      break;
  }
  PyErr_SetString(PyExc_SystemError, "a required parameter has no default");
  return Ref();
}

// From the row's defaults: the object an omitted argument takes, for the
// default that is read at import (a new reference, null when the row has
// none), then the __defaults__ tuple (null when the row has no defaults).
// The colour is read once for each.
bool build_defaults(const Method& spec, Ref& stored, Ref& tuple) {
  const Param* optional = spec.params + spec.required;
  int count = spec.count - spec.required;
  if (count == 0) return true;
  for (int i = 0; i < count; ++i) {
    if (optional[i].fallback.stored() && !(stored = default_object(optional[i].fallback))) {
      return false;
    }
  }
  tuple = Ref::steal(PyTuple_New(count));
  if (!tuple) return false;
  for (int i = 0; i < count; ++i) {
    Ref value = default_object(optional[i].fallback);
    if (!value) return false;
    PyTuple_SET_ITEM(tuple.get(), i, value.release());
  }
  return true;
}

Ref make_annotations(const Method& spec) {
  Ref annotations = Ref::steal(PyDict_New());
  if (annotations && spec.texture_annotation &&
      PyDict_SetItem(annotations.get(), names().texture, names().object) < 0) {
    return Ref();
  }
  return annotations;
}

bool bind_method(const Method& spec) {
  PyObject* name = method_name(spec.id);
  // The pickling operations were made before their hooks were wired.
  if (spec.id == MethodId::reduce || spec.id == MethodId::setstate) {
    return store_in_type(name, method_object(spec.id));
  }
  Ref stored, defaults;
  if (!build_defaults(spec, stored, defaults)) return false;
  Ref annotations = make_annotations(spec);
  if (!annotations) return false;
  Ref function = make_function_object(spec.id, defaults.get(), annotations.get());
  if (!function || !store_in_type(name, function.get())) return false;
  if (stored) Py_XSETREF(module_state.default_colors[index_of(spec.id)], stored.release());
  // An override lookup compares what it finds with the type's own object.
  if (spec.overridable) keep_own(spec.id, function.get());
  return true;
}

// Stored in the type's dict, read back from there (or the globals), and
// wrapped with the builtin staticmethod under the same name.
bool bind_static_method(MethodId id) {
  PyObject* name = method_name(id);
  Ref function = make_function_object(id, nullptr, nullptr);
  if (!function || !store_in_type(name, function.get())) return false;
  Ref stored = Ref::own(PyDict_GetItemWithError(RenderTextureType.tp_dict, name));
  if (!stored) {
    if (PyErr_Occurred()) return false;
    if (!(stored = Ref::steal(lookup_global(name)))) return false;
  }
  Ref staticmethod = Ref::steal(lookup_builtin(names().staticmethod));
  if (!staticmethod) return false;
  Ref wrapper = Ref::steal(PyObject_CallOneArg(staticmethod.get(), stored.get()));
  return wrapper && store_in_type(name, wrapper.get());
}

}  // namespace

bool store_in_type(PyObject* name, PyObject* value) {
  if (PyDict_SetItem(RenderTextureType.tp_dict, name, value) < 0) return false;
  PyType_Modified(&RenderTextureType);
  return true;
}

bool create_code_objects() {
  for (const Method& spec : kMethods) {
    if (spec.binding == Binding::Slot) continue;
    Ref code = make_code(spec);
    if (!code) return false;
    Py_XSETREF(code_objects[index_of(spec.id)], code.release());
  }
  return true;
}

bool bind_function(MethodId id) {
  Ref function = make_function_object(id, nullptr, nullptr);
  if (!function) return false;
  keep_own(id, function.get());
  return true;
}

bool bind_pickling_operations() {
  Ref reduce = make_function_object(MethodId::reduce, nullptr, nullptr);
  Ref setstate = make_function_object(MethodId::setstate, nullptr, nullptr);
  if (!reduce || !setstate || !store_in_type(method_name(MethodId::reduce), reduce.get()) ||
      !store_in_type(method_name(MethodId::setstate), setstate.get())) {
    return false;
  }
  keep_own(MethodId::reduce, reduce.get());
  keep_own(MethodId::setstate, setstate.get());
  return true;
}

bool bind_methods(int& line) {
  line = method(MethodId::from_rl_render_texture).line;
  if (!bind_static_method(MethodId::from_rl_render_texture)) return false;
  for (const Method& spec : kMethods) {
    if (spec.binding != Binding::Method) continue;
    line = spec.line;
    if (!bind_method(spec)) return false;
  }
  return true;
}

}  // namespace lmrt
