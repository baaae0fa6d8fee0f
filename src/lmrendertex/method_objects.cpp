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

// A code object that carries the argument names and first line, so
// introspection sees a function of that shape; it is never run.
Ref make_code(const Method& spec) {
  bool method = spec.binding == Binding::Method;
  int argcount = spec.count + (method ? 1 : 0);
  Ref varnames = Ref::steal(PyTuple_New(argcount));
  if (!varnames) return Ref();
  int slot = 0;
  if (method) PyTuple_SET_ITEM(varnames.get(), slot++, Py_NewRef(names().self));
  for (int i = 0; i < spec.count; ++i) {
    PyTuple_SET_ITEM(varnames.get(), slot++, Py_NewRef(names().*(spec.params[i])));
  }
  Ref empty_bytes = Ref::steal(PyBytes_FromStringAndSize(nullptr, 0));
  Ref empty_tuple = Ref::steal(PyTuple_New(0));
  Ref file = Ref::steal(
      PyUnicode_FromString(spec.source == Source::Pickling ? kStringSource : kSourceFile));
  Ref qualname = Ref::steal(PyUnicode_FromString(spec.qualname));
  if (!empty_bytes || !empty_tuple || !file || !qualname) return Ref();
  return Ref::steal(reinterpret_cast<PyObject*>(PyUnstable_Code_NewWithPosOnlyArgs(
      argcount, 0, 0, argcount, 0, CO_OPTIMIZED | CO_NEWLOCALS, empty_bytes.get(),
      empty_tuple.get(), empty_tuple.get(), varnames.get(), empty_tuple.get(), empty_tuple.get(),
      file.get(), method_name(spec.id), qualname.get(), spec.line, empty_bytes.get(),
      empty_bytes.get())));
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

Ref read_default_color(Defaults kind) {
  return kind == Defaults::BlendFlipBase ? Ref::own(module_state.base_color) : read_white();
}

// The stored default colour (a new reference, for the kinds that keep one)
// and the introspection tuple; White is read once for each.
bool build_defaults(Defaults kind, Ref& stored, Ref& tuple) {
  if (kind == Defaults::None) return true;
  if (kind == Defaults::Flip) {
    tuple = Ref::steal(PyTuple_Pack(1, Py_True));
    return static_cast<bool>(tuple);
  }
  if (!(stored = read_default_color(kind))) return false;
  Ref color = read_default_color(kind);
  if (!color) return false;
  Ref zero = Ref::steal(PyLong_FromLong(0));
  if (!zero) return false;
  tuple = Ref::steal(kind == Defaults::FlipWhite
                         ? PyTuple_Pack(2, Py_True, color.get())
                         : PyTuple_Pack(3, zero.get(), Py_True, color.get()));
  return static_cast<bool>(tuple);
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
  if (!build_defaults(spec.defaults, stored, defaults)) return false;
  Ref annotations = make_annotations(spec);
  if (!annotations) return false;
  Ref function = make_function_object(spec.id, defaults.get(), annotations.get());
  if (!function || !store_in_type(name, function.get())) return false;
  if (stores_default_color(spec.defaults)) {
    Py_XSETREF(module_state.default_colors[index_of(spec.id)], stored.release());
  }
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
