// Module initialisation: the create and exec steps of the module definition,
// the collaborator imports and checks, and the binding of the type's methods.
#include <cstdint>
#include <cstring>

#include "arguments.hpp"
#include "function.hpp"
#include "render_texture.hpp"
#include "traceback.hpp"

// The interpreter version this module was compiled for; a build may override
// it to exercise the mismatch warning.
#ifndef LMRT_COMPILED_MAJOR
#define LMRT_COMPILED_MAJOR PY_MAJOR_VERSION
#endif
#ifndef LMRT_COMPILED_MINOR
#define LMRT_COMPILED_MINOR PY_MINOR_VERSION
#endif

namespace lmrt {

State g{};

namespace {

constexpr long kChecksum = 226208704;
constexpr const char* kInitEntry = "init lumo_ui.fast.lmrendertex.lm_render_tex";

int64_t loading_interpreter = -1;
bool strings_ready = false;

// ---------------------------------------------------------------------------
// Create step

bool copy_spec_attribute(PyObject* spec, PyObject* module, const char* from, const char* to,
                         bool skip_none) {
  Ref value = Ref::steal(PyObject_GetAttrString(spec, from));
  if (!value) return false;
  if (skip_none && value.get() == Py_None) return true;
  return PyObject_SetAttrString(module, to, value.get()) == 0;
}

PyObject* module_create(PyObject* spec, PyModuleDef*) {
  int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (loading_interpreter == -1) {
    loading_interpreter = current;
  } else if (current != loading_interpreter) {
    PyErr_SetString(PyExc_ImportError,
                    "Interpreter change detected - this module can only be loaded into one "
                    "interpreter per process.");
    return nullptr;
  }
  if (g.module) return Py_NewRef(g.module);
  Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
  if (!name) return nullptr;
  Ref module = Ref::steal(PyModule_NewObject(name.get()));
  if (!module || !copy_spec_attribute(spec, module.get(), "loader", "__loader__", false) ||
      !copy_spec_attribute(spec, module.get(), "origin", "__file__", false) ||
      !copy_spec_attribute(spec, module.get(), "parent", "__package__", false) ||
      !copy_spec_attribute(spec, module.get(), "submodule_search_locations", "__path__", true)) {
    return nullptr;
  }
  return module.release();
}

// ---------------------------------------------------------------------------
// Exec steps. Each returns false with an exception set; `line` tracks the
// statement a failure is reported at.

bool set_global(const char* name, PyObject* value) {
  return PyDict_SetItemString(g.dict, name, value) == 0;
}

bool check_version() {
  int major = (Py_Version >> 24) & 0xff;
  int minor = (Py_Version >> 16) & 0xff;
  if (major == LMRT_COMPILED_MAJOR && minor == LMRT_COMPILED_MINOR) return true;
  return PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                          "compile time Python version %d.%d of module '%.100s' %s runtime "
                          "version %d.%d",
                          LMRT_COMPILED_MAJOR, LMRT_COMPILED_MINOR, kModuleName, "does not match",
                          major, minor) == 0;
}

bool create_constants() {
  if (strings_ready) return true;  // a retried import keeps the first ones
#define LMRT_INTERN_NAME(ident, text) \
  if (!(g.names.ident = PyUnicode_InternFromString(text))) return false;
  LMRT_NAMES(LMRT_INTERN_NAME)
#undef LMRT_INTERN_NAME
  strings_ready = true;
  g.checksum = PyLong_FromLong(kChecksum);
  Ref zero = Ref::steal(PyLong_FromLong(0));
  if (!g.checksum || !zero) return false;
  g.clear_color = PyTuple_Pack(4, zero.get(), zero.get(), zero.get(), zero.get());
  g.origin_position = PyTuple_Pack(2, zero.get(), zero.get());
  return g.clear_color && g.origin_position;
}

// The truth of the builtin __debug__; assertions stay on if it cannot be read.
bool read_assertion_flag() {
  g.assertions = true;
  PyObject* builtins = PyEval_GetBuiltins();
  PyObject* debug = builtins ? PyDict_GetItemWithError(builtins, names().dunder_debug) : nullptr;
  if (debug == nullptr) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_NameError, "name '__debug__' is not defined");
    return false;
  }
  int flag = PyObject_IsTrue(debug);
  if (flag < 0) return false;
  g.assertions = flag;
  return true;
}

bool register_in_sys_modules(PyObject* module) {
  PyObject* modules = PyImport_GetModuleDict();
  PyObject* existing = PyDict_GetItemWithError(modules, names().module_name);
  if (existing != nullptr) return true;
  return !PyErr_Occurred() && PyDict_SetItem(modules, names().module_name, module) == 0;
}

// ---------------------------------------------------------------------------
// Method objects

// What each Python-level function carries: its implementation, its
// parameters (after `self` for methods), its defaults and its source line.
enum class Defaults { None, Flip, BlendFlipWhite, BlendFlipBase, FlipWhite };

struct MethodSpec {
  PyObject* Names::* name;
  FunctionSpec function;
  int line;
  int param_count;
  PyObject* Names::* params[5];
  Defaults defaults;
  bool texture_annotation;
  const char* file;
};

constexpr int kMethodCount = 18;

// In binding order; the first entry is the static method, the last three are
// bound outside the ordinary loop (the pickling operations and the module
// function).
const MethodSpec kMethods[kMethodCount] = {
    {&Names::from_rl_render_texture,
     {"LmRenderTexture.from_rl_render_texture", py::from_rl_render_texture, Binding::Plain},
     line::kFromRl, 1, {&Names::rl_render_texture}, Defaults::None, false, kSourceFile},
    {&Names::blit, {"LmRenderTexture.blit", py::blit, Binding::Method}, line::kBlit, 5,
     {&Names::lm_texture, &Names::dest, &Names::blend_mode, &Names::flip, &Names::color},
     Defaults::BlendFlipWhite, false, kSourceFile},
    {&Names::lmblit, {"LmRenderTexture.lmblit", py::lmblit, Binding::Method}, line::kLmblit, 5,
     {&Names::lm_texture, &Names::dest, &Names::blend_mode, &Names::flip, &Names::color},
     Defaults::BlendFlipBase, false, kSourceFile},
    {&Names::fast_blit, {"LmRenderTexture.fast_blit", py::fast_blit, Binding::Method},
     line::kFastBlit, 4, {&Names::lm_texture, &Names::dest, &Names::flip, &Names::color},
     Defaults::FlipWhite, false, kSourceFile},
    {&Names::blit_texture, {"LmRenderTexture.blit_texture", py::blit_texture, Binding::Method},
     line::kBlitTexture, 5,
     {&Names::texture, &Names::dest, &Names::blend_mode, &Names::flip, &Names::color},
     Defaults::BlendFlipWhite, true, kSourceFile},
    {&Names::fast_blit_texture,
     {"LmRenderTexture.fast_blit_texture", py::fast_blit_texture, Binding::Method},
     line::kFastBlitTexture, 4, {&Names::texture, &Names::dest, &Names::flip, &Names::color},
     Defaults::FlipWhite, true, kSourceFile},
    {&Names::clear, {"LmRenderTexture.clear", py::clear, Binding::Method}, line::kClear, 1,
     {&Names::color}, Defaults::None, false, kSourceFile},
    {&Names::fast_clear, {"LmRenderTexture.fast_clear", py::fast_clear, Binding::Method},
     line::kFastClear, 1, {&Names::color}, Defaults::None, false, kSourceFile},
    {&Names::fill, {"LmRenderTexture.fill", py::fill, Binding::Method}, line::kFill, 1,
     {&Names::color}, Defaults::None, false, kSourceFile},
    {&Names::kill, {"LmRenderTexture.kill", py::kill, Binding::Method}, line::kKill, 0, {},
     Defaults::None, false, kSourceFile},
    {&Names::get_rect, {"LmRenderTexture.get_rect", py::get_rect, Binding::Method},
     line::kGetRect, 0, {}, Defaults::None, false, kSourceFile},
    {&Names::get_height, {"LmRenderTexture.get_height", py::get_height, Binding::Method},
     line::kGetHeight, 0, {}, Defaults::None, false, kSourceFile},
    {&Names::get_width, {"LmRenderTexture.get_width", py::get_width, Binding::Method},
     line::kGetWidth, 0, {}, Defaults::None, false, kSourceFile},
    {&Names::copy, {"LmRenderTexture.copy", py::copy, Binding::Method}, line::kCopy, 1,
     {&Names::flip}, Defaults::Flip, false, kSourceFile},
    {&Names::dunder_enter, {"LmRenderTexture.__enter__", py::enter, Binding::Method},
     line::kEnter, 0, {}, Defaults::None, false, kSourceFile},
    {&Names::dunder_exit, {"LmRenderTexture.__exit__", py::exit, Binding::Method}, line::kExit,
     3, {&Names::exc_type, &Names::exc_val, &Names::exc_tb}, Defaults::None, false, kSourceFile},
    {&Names::reduce_cython, {"LmRenderTexture.__reduce_cython__", py::reduce, Binding::Method},
     line::kPickle, 0, {}, Defaults::None, false, kStringSource},
    {&Names::setstate_cython,
     {"LmRenderTexture.__setstate_cython__", py::setstate, Binding::Method}, line::kPickle, 1,
     {&Names::pyx_state}, Defaults::None, false, kStringSource},
};

constexpr int kFromRlIndex = 0;
constexpr int kReduceIndex = 16;
constexpr int kSetstateIndex = 17;

const MethodSpec kUnpickleSpec = {
    &Names::pyx_unpickle,
    {"__pyx_unpickle_LmRenderTexture", py::unpickle, Binding::Plain},
    line::kPickle, 3, {&Names::pyx_type, &Names::pyx_checksum, &Names::pyx_state},
    Defaults::None, false, kStringSource};

// Process-lifetime objects are held as plain pointers: a static owner would
// release them after the interpreter is gone.
PyObject* code_objects[kMethodCount + 1];
// The pickling operations, bound before the other methods and kept for the
// binding of their own names.
PyObject* pickling_methods[2];

// A code object that carries the argument names and first line, so
// introspection sees a function of that shape; it is never run.
Ref make_code(const MethodSpec& spec) {
  bool method = spec.function.binding == Binding::Method;
  int argcount = spec.param_count + (method ? 1 : 0);
  Ref varnames = Ref::steal(PyTuple_New(argcount));
  if (!varnames) return Ref();
  int slot = 0;
  if (method) PyTuple_SET_ITEM(varnames.get(), slot++, Py_NewRef(names().self));
  for (int i = 0; i < spec.param_count; ++i) {
    PyTuple_SET_ITEM(varnames.get(), slot++, Py_NewRef(names().*(spec.params[i])));
  }
  Ref empty_bytes = Ref::steal(PyBytes_FromStringAndSize(nullptr, 0));
  Ref empty_tuple = Ref::steal(PyTuple_New(0));
  Ref file = Ref::steal(PyUnicode_FromString(spec.file));
  Ref qualname = Ref::steal(PyUnicode_FromString(spec.function.qualname));
  if (!empty_bytes || !empty_tuple || !file || !qualname) return Ref();
  return Ref::steal(reinterpret_cast<PyObject*>(PyUnstable_Code_NewWithPosOnlyArgs(
      argcount, 0, 0, argcount, 0, CO_OPTIMIZED | CO_NEWLOCALS, empty_bytes.get(),
      empty_tuple.get(), empty_tuple.get(), varnames.get(), empty_tuple.get(), empty_tuple.get(),
      file.get(), names().*(spec.name), qualname.get(), spec.line, empty_bytes.get(),
      empty_bytes.get())));
}

bool create_code_objects() {
  for (int i = 0; i <= kMethodCount; ++i) {
    Ref code = make_code(i == kMethodCount ? kUnpickleSpec : kMethods[i]);
    if (!code) return false;
    Py_XSETREF(code_objects[i], code.release());
  }
  return true;
}

Ref make_method(int index, PyObject* defaults = nullptr, PyObject* annotations = nullptr) {
  const MethodSpec& spec = index == kMethodCount ? kUnpickleSpec : kMethods[index];
  return Ref::steal(make_function(spec.function, names().*(spec.name), code_objects[index],
                                  defaults, annotations));
}

PyObject* type_dict() { return RenderTextureType.tp_dict; }

bool store_in_type(PyObject* name, PyObject* value) {
  if (PyDict_SetItem(type_dict(), name, value) < 0) return false;
  PyType_Modified(&RenderTextureType);
  return true;
}

// ---------------------------------------------------------------------------
// The type, its method table and pickling hooks

bool ready_type() {
  fill_method_table();
  if (!ready_function_type() || PyType_Ready(&RenderTextureType) < 0) return false;
  Ref capsule = Ref::steal(PyCapsule_New(&method_table, nullptr, nullptr));
  return capsule && store_in_type(names().pyx_vtable, capsule.get());
}

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
  bool wired = wire_hook(names().dunder_reduce, names().reduce_cython, object_reduce.get()) &&
               wire_hook(names().dunder_setstate, names().setstate_cython, nullptr);
  PyType_Modified(&RenderTextureType);
  return wired;
}

bool wire_pickling() {
  if (wire_pickling_once()) return true;
  if (!PyErr_Occurred()) {
    PyErr_Format(PyExc_RuntimeError, "Unable to initialize pickling for %.200s",
                 RenderTextureType.tp_name);
  }
  return false;
}

// ---------------------------------------------------------------------------
// Collaborators

template <typename Methods>
bool import_type(const char* module_name, PyObject* class_name, size_t expected_size,
                 PyTypeObject** type_out, Methods** methods_out) {
  Ref module = Ref::steal(PyImport_ImportModule(module_name));
  if (!module) return false;
  Ref type = Ref::steal(PyObject_GetAttr(module.get(), class_name));
  if (!type) return false;
  const char* class_text = PyUnicode_AsUTF8(class_name);
  if (!PyType_Check(type.get())) {
    PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", module_name, class_text);
    return false;
  }
  Py_ssize_t size = reinterpret_cast<PyTypeObject*>(type.get())->tp_basicsize;
  Py_ssize_t expected = static_cast<Py_ssize_t>(expected_size);
  if (size != expected) {
    const char* format =
        "%.200s.%.200s size changed, may indicate binary incompatibility. Expected %zd from C "
        "header, got %zd from PyObject";
    if (size < expected) {
      PyErr_Format(PyExc_ValueError, format, module_name, class_text, expected, size);
      return false;
    }
    if (PyErr_WarnFormat(PyExc_RuntimeWarning, 0, format, module_name, class_text, expected,
                         size) < 0) {
      return false;
    }
  }
  Ref capsule = Ref::steal(
      PyObject_GetItem(reinterpret_cast<PyTypeObject*>(type.get())->tp_dict, names().pyx_vtable));
  if (!capsule) return false;
  void* table = PyCapsule_GetPointer(capsule.get(), nullptr);
  if (table == nullptr) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_RuntimeError, "invalid vtable found for imported type");
    }
    return false;
  }
  Py_XSETREF(*type_out, reinterpret_cast<PyTypeObject*>(type.release()));
  if (methods_out) *methods_out = static_cast<Methods*>(table);
  return true;
}

bool import_types() {
  return import_type("lumo_ui.fast.lmvector2.lmvector2", names().LmVector2, sizeof(VectorRecord),
                     &g.vector_type, &g.vector_methods) &&
         import_type("lumo_ui.fast.lmrect.lmrect", names().LmRect, sizeof(RectRecord),
                     &g.rect_type, &g.rect_methods) &&
         import_type<void>("lumo_ui.fast.lmshader.lmshader", names().LmShader,
                           sizeof(ShaderRecord), &g.shader_type, nullptr);
}

constexpr const char* kBackendModule = "lumo_ui.fast.raylib.lumo_raylib";

template <typename Function>
bool import_function(PyObject* module, PyObject* table, const char* name, const char* signature,
                     Function* out) {
  PyObject* capsule = PyDict_Check(table) ? PyDict_GetItemString(table, name) : nullptr;
  if (capsule == nullptr) {
    PyErr_Format(PyExc_ImportError, "%.200s does not export expected C %.8s %.200s",
                 PyModule_GetName(module), "function", name);
    return false;
  }
  const char* found = PyCapsule_CheckExact(capsule) ? PyCapsule_GetName(capsule) : nullptr;
  if (found == nullptr || std::strcmp(found, signature) != 0) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "C %.8s %.200s.%.200s has wrong signature (expected %.500s, got %.500s)",
                 "function", PyModule_GetName(module), name, signature, found ? found : "(null)");
    return false;
  }
  void* pointer = PyCapsule_GetPointer(capsule, signature);
  if (pointer == nullptr) return false;
  *out = reinterpret_cast<Function>(pointer);
  return true;
}

bool import_backend() {
  Ref module = Ref::steal(PyImport_ImportModule(kBackendModule));
  if (!module) return false;
  Ref table = Ref::steal(PyObject_GetAttr(module.get(), names().pyx_capi));
  if (!table) return false;
  Backend& b = g.backend;
  PyObject* m = module.get();
  PyObject* t = table.get();
  return import_function(m, t, "c_clear_background", "void (PyObject *)", &b.c_clear_background) &&
         import_function(m, t, "c_draw_texture_rec",
                         "void (PyObject *, PyObject *, PyObject *, PyObject *)",
                         &b.c_draw_texture_rec) &&
         import_function(m, t, "c_draw_texture_vec", "void (PyObject *, PyObject *, PyObject *, int)",
                         &b.c_draw_texture_vec) &&
         import_function(m, t, "begin_texture_mode", "void (PyObject *, int __pyx_skip_dispatch)",
                         &b.begin_texture_mode) &&
         import_function(m, t, "clear_background", "void (PyObject *, int __pyx_skip_dispatch)",
                         &b.clear_background) &&
         import_function(m, t, "end_blend_mode", "void (int __pyx_skip_dispatch)",
                         &b.end_blend_mode) &&
         import_function(m, t, "end_texture_mode", "void (int __pyx_skip_dispatch)",
                         &b.end_texture_mode) &&
         import_function(m, t, "begin_blend_mode", "void (int, int __pyx_skip_dispatch)",
                         &b.begin_blend_mode) &&
         import_function(
             m, t, "c_draw_lmtexture_lmvec",
             "void (struct __pyx_obj_7lumo_ui_4fast_11lmrendertex_13lm_render_tex_LmRenderTexture *, "
             "struct __pyx_obj_7lumo_ui_4fast_9lmvector2_9lmvector2_LmVector2 *, "
             "struct __pyx_obj_7lumo_ui_4fast_6lmrect_6lmrect_LmRect *, int)",
             &b.c_draw_lmtexture_lmvec);
}

// `from <module> import <name>`, with the interpreter's message when the
// module lacks the name.
bool import_name(const char* module_name, PyObject* name) {
  Ref fromlist = Ref::steal(PyTuple_Pack(1, name));
  Ref module_text = Ref::steal(PyUnicode_FromString(module_name));
  if (!fromlist || !module_text) return false;
  Ref module = Ref::steal(
      PyImport_ImportModuleLevelObject(module_text.get(), g.dict, nullptr, fromlist.get(), 0));
  if (!module) return false;
  Ref value = Ref::steal(PyObject_GetAttr(module.get(), name));
  if (!value) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    Ref file = Ref::steal(PyModule_GetFilenameObject(module.get()));
    if (!file) {
      PyErr_Clear();
      PyErr_Format(PyExc_ImportError, "cannot import name %R from %R (unknown location)", name,
                   module_text.get());
    } else {
      PyErr_Format(PyExc_ImportError, "cannot import name %R from %R (%S)", name,
                   module_text.get(), file.get());
    }
    return false;
  }
  return PyDict_SetItem(g.dict, name, value.get()) == 0;
}

bool run_top_level(int& line) {
  line = line::kModule;
  Ref md = Ref::steal(PyImport_ImportModule("lumo_ui.core.modules"));
  if (!md || PyDict_SetItem(g.dict, names().md, md.get()) < 0) return false;
  line = line::kColor;
  if (!import_name("lumo_ui.presentation.color", names().Color)) return false;
  line = line::kLumoState;
  if (!import_name("lumo_ui.core.state", names().lumo_state)) return false;
  line = line::kAnnotations;
  if (!import_name("lumo_ui.core.annotations", names().Annotations)) return false;
  line = line::kBaseColor;
  PyObject* base = g.rect_methods->new_(255.0f, 255.0f, 255.0f, 0.0f);
  if (base == nullptr) return false;
  Py_SETREF(g.base_color, base);
  return true;
}

// ---------------------------------------------------------------------------
// Binding the methods

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

// The stored default colour for `kind` (a new reference) and the
// introspection tuple; White is read once for each.
bool build_defaults(Defaults kind, Ref& stored, Ref& tuple) {
  switch (kind) {
    case Defaults::None:
      return true;
    case Defaults::Flip:
      tuple = Ref::steal(PyTuple_Pack(1, Py_True));
      return static_cast<bool>(tuple);
    case Defaults::BlendFlipBase:
      stored = Ref::own(g.base_color);
      break;
    case Defaults::BlendFlipWhite:
    case Defaults::FlipWhite:
      if (!(stored = read_white())) return false;
      break;
  }
  Ref color = kind == Defaults::BlendFlipBase ? Ref::own(g.base_color) : read_white();
  if (!color) return false;
  Ref zero = Ref::steal(PyLong_FromLong(0));
  if (!zero) return false;
  tuple = Ref::steal(kind == Defaults::FlipWhite
                         ? PyTuple_Pack(2, Py_True, color.get())
                         : PyTuple_Pack(3, zero.get(), Py_True, color.get()));
  return static_cast<bool>(tuple);
}

PyObject** stored_default_slot(PyObject* Names::* name) {
  if (name == &Names::blit) return &g.defaults.blit;
  if (name == &Names::lmblit) return &g.defaults.lmblit;
  if (name == &Names::fast_blit) return &g.defaults.fast_blit;
  if (name == &Names::blit_texture) return &g.defaults.blit_texture;
  if (name == &Names::fast_blit_texture) return &g.defaults.fast_blit_texture;
  return nullptr;
}

PyObject** own_method_slot(PyObject* Names::* name) {
  if (name == &Names::clear) return &g.own.clear;
  if (name == &Names::fast_clear) return &g.own.fast_clear;
  if (name == &Names::fill) return &g.own.fill;
  if (name == &Names::kill) return &g.own.kill;
  if (name == &Names::get_rect) return &g.own.get_rect;
  if (name == &Names::get_height) return &g.own.get_height;
  if (name == &Names::get_width) return &g.own.get_width;
  return nullptr;
}

Ref texture_annotation() {
  Ref annotations = Ref::steal(PyDict_New());
  if (!annotations || PyDict_SetItem(annotations.get(), names().texture, names().object) < 0) {
    return Ref();
  }
  return annotations;
}

bool bind_pickling_method(int index) {
  PyObject* method = pickling_methods[index - kReduceIndex];
  return store_in_type(names().*(kMethods[index].name), method);
}

bool bind_method(int index) {
  const MethodSpec& spec = kMethods[index];
  if (index == kReduceIndex || index == kSetstateIndex) return bind_pickling_method(index);
  Ref stored, defaults;
  if (!build_defaults(spec.defaults, stored, defaults)) return false;
  Ref annotations = spec.texture_annotation ? texture_annotation() : Ref::steal(PyDict_New());
  if (!annotations) return false;
  Ref method = make_method(index, defaults.get(), annotations.get());
  if (!method || !store_in_type(names().*(spec.name), method.get())) return false;
  if (PyObject** slot = stored_default_slot(spec.name)) Py_XSETREF(*slot, stored.release());
  if (PyObject** slot = own_method_slot(spec.name)) Py_XSETREF(*slot, Py_NewRef(method.get()));
  return true;
}

bool bind_static_method() {
  PyObject* name = names().from_rl_render_texture;
  Ref function = make_method(kFromRlIndex);
  if (!function || !store_in_type(name, function.get())) return false;
  Ref stored = Ref::own(PyDict_GetItemWithError(type_dict(), name));
  if (!stored) {
    if (PyErr_Occurred()) return false;
    if (!(stored = Ref::steal(lookup_global(name)))) return false;
  }
  Ref staticmethod = Ref::steal(lookup_builtin(names().staticmethod));
  if (!staticmethod) return false;
  Ref wrapper = Ref::steal(PyObject_CallOneArg(staticmethod.get(), stored.get()));
  return wrapper && store_in_type(name, wrapper.get());
}

bool bind_methods(int& line) {
  line = kMethods[kFromRlIndex].line;
  if (!bind_static_method()) return false;
  for (int i = kFromRlIndex + 1; i < kMethodCount; ++i) {
    line = kMethods[i].line;
    if (!bind_method(i)) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Exec

bool exec_steps(PyObject* module, int& line) {
  line = line::kModule;
  g.dict = PyModule_GetDict(module);
  Py_XSETREF(g.builtins, PyImport_ImportModule("builtins"));
  if (!g.builtins || PyObject_SetAttrString(module, "__builtins__", g.builtins) < 0) return false;
  if (!check_version() || !create_constants() || !read_assertion_flag() ||
      !register_in_sys_modules(module)) {
    return false;
  }
  Ref staticmethod = Ref::steal(lookup_builtin(names().staticmethod));
  if (!staticmethod || !create_code_objects()) return false;
  Py_XSETREF(g.base_color, Py_NewRef(Py_None));
  if (!ready_type() || !set_global("LmRenderTexture", reinterpret_cast<PyObject*>(&RenderTextureType))) {
    return false;
  }
  // The pickling operations are in the type's dict before their hooks are
  // wired, as the other methods are not yet.
  Ref reduce = make_method(kReduceIndex);
  Ref setstate = make_method(kSetstateIndex);
  if (!reduce || !setstate || !store_in_type(names().reduce_cython, reduce.get()) ||
      !store_in_type(names().setstate_cython, setstate.get()) || !wire_pickling()) {
    return false;
  }
  Py_XSETREF(pickling_methods[0], reduce.release());
  Py_XSETREF(pickling_methods[1], setstate.release());
  if (!import_types() || !import_backend() || !run_top_level(line) || !bind_methods(line)) {
    return false;
  }
  line = line::kModule;
  Ref unpickle = make_method(kMethodCount);
  if (!unpickle || !set_global("__pyx_unpickle_LmRenderTexture", unpickle.get())) return false;
  Py_XSETREF(g.unpickle_function, unpickle.release());
  Ref test = Ref::steal(PyDict_New());
  return test && set_global("__test__", test.get());
}

int module_exec(PyObject* module) {
  if (g.module) {
    if (g.module == module) return 0;
    PyErr_SetString(PyExc_RuntimeError,
                    "Module 'lm_render_tex' has already been imported. Re-initialisation is not "
                    "supported.");
    return -1;
  }
  g.module = Py_NewRef(module);
  int line = line::kModule;
  if (exec_steps(module, line)) {
    g.initialised = true;
    return 0;
  }
  if (g.dict && strings_ready) {
    add_traceback_entry(kInitEntry, line, kSourceFile);
  }
  // A later import starts again from scratch.
  Py_CLEAR(g.module);
  g.dict = nullptr;
  if (!PyErr_Occurred()) PyErr_SetString(PyExc_ImportError, kInitEntry);
  return -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(module_create)},
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "lm_render_tex", nullptr, 0, nullptr, module_slots, nullptr, nullptr,
    nullptr,
};

}  // namespace
}  // namespace lmrt

PyMODINIT_FUNC PyInit_lm_render_tex() { return PyModuleDef_Init(&lmrt::module_def); }
