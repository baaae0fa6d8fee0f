// Module lifecycle: the create and exec steps of the module definition. The
// exec step runs the other concerns' steps in order: constants, the type and
// its pickling hooks, the collaborators, and the method objects.
#include <cstdint>

#include "collaborators.hpp"
#include "function.hpp"
#include "lookup.hpp"
#include "method_objects.hpp"
#include "methods.hpp"
#include "pickling.hpp"
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

State module_state{};

namespace {

constexpr const char* kInitEntry = "init " LMRT_MODULE_NAME;

int64_t loading_interpreter = -1;
// Set once every interned string exists: failures from then on get an entry.
bool names_ready = false;
// Set once every constant exists, so a retried import makes only the missing.
bool constants_ready = false;

// ---------------------------------------------------------------------------
// Create step. It runs before the interned strings exist.

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
  if (module_state.module) return Py_NewRef(module_state.module);
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

// Interns what is still missing, so a retry after a failure keeps the first.
bool intern(PyObject*& slot, const char* text) {
  if (slot == nullptr) slot = PyUnicode_InternFromString(text);
  return slot != nullptr;
}

bool intern_names() {
#define LMRT_INTERN_NAME(ident, text) \
  if (!intern(module_state.names.ident, text)) return false;
  LMRT_NAMES(LMRT_INTERN_NAME)
#undef LMRT_INTERN_NAME
  for (const Method& method : kMethods) {
    if (!intern(module_state.method_names[index_of(method.id)], short_name(method))) return false;
  }
  return true;
}

// Each constant is made once; the ready flag goes up only when all exist, so
// a retried import after a failure here makes the rest.
bool create_constants() {
  if (constants_ready) return true;
  if (!intern_names()) return false;
  names_ready = true;
  if (!module_state.checksum) module_state.checksum = PyLong_FromLongLong(kLayoutChecksums[0]);
  Ref zero = Ref::steal(PyLong_FromLong(0));
  if (!module_state.checksum || !zero) return false;
  if (!module_state.clear_color) {
    module_state.clear_color = PyTuple_Pack(4, zero.get(), zero.get(), zero.get(), zero.get());
  }
  if (!module_state.origin_position) {
    module_state.origin_position = PyTuple_Pack(2, zero.get(), zero.get());
  }
  constants_ready = module_state.clear_color && module_state.origin_position;
  return constants_ready;
}

// The truth of the builtin __debug__; assertions stay on if it cannot be read.
bool read_assertion_flag() {
  module_state.assertions = true;
  PyObject* builtins = PyEval_GetBuiltins();
  PyObject* debug = builtins ? PyDict_GetItemWithError(builtins, names().dunder_debug) : nullptr;
  if (debug == nullptr) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_NameError, "name '__debug__' is not defined");
    return false;
  }
  int flag = PyObject_IsTrue(debug);
  if (flag < 0) return false;
  module_state.assertions = flag;
  return true;
}

bool register_in_sys_modules(PyObject* module) {
  PyObject* modules = PyImport_GetModuleDict();
  PyObject* existing = PyDict_GetItemWithError(modules, names().module_name);
  if (existing != nullptr) return true;
  return !PyErr_Occurred() && PyDict_SetItem(modules, names().module_name, module) == 0;
}

bool set_global(PyObject* name, PyObject* value) {
  return PyDict_SetItem(module_state.dict, name, value) == 0;
}

// The type and its published method table, bound in the namespace.
bool ready_type() {
  fill_method_table();
  if (!ready_function_type() || PyType_Ready(&RenderTextureType) < 0) return false;
  Ref capsule = Ref::steal(PyCapsule_New(&method_table, nullptr, nullptr));
  return capsule && store_in_type(names().pyx_vtable, capsule.get()) &&
         set_global(names().LmRenderTexture, reinterpret_cast<PyObject*>(&RenderTextureType));
}

bool exec_steps(PyObject* module, int& line) {
  line = line::kModule;
  module_state.dict = PyModule_GetDict(module);
  Py_XSETREF(module_state.builtins, PyImport_ImportModule("builtins"));
  if (!module_state.builtins ||
      PyObject_SetAttrString(module, "__builtins__", module_state.builtins) < 0) {
    return false;
  }
  if (!check_version() || !create_constants() || !read_assertion_flag() ||
      !register_in_sys_modules(module)) {
    return false;
  }
  Ref staticmethod = Ref::steal(lookup_builtin(names().staticmethod));
  if (!staticmethod || !create_code_objects()) return false;
  Py_XSETREF(module_state.base_color, Py_NewRef(Py_None));
  if (!ready_type() || !bind_pickling_operations() || !wire_pickling()) return false;
  if (!import_types() || !import_backend() || !run_top_level(line) || !bind_methods(line)) {
    return false;
  }
  line = line::kModule;
  PyObject* unpickle_name = method_name(MethodId::unpickle);
  if (!bind_function(MethodId::unpickle) ||
      !set_global(unpickle_name, method_object(MethodId::unpickle))) {
    return false;
  }
  Ref test = Ref::steal(PyDict_New());
  return test && set_global(names().dunder_test, test.get());
}

int module_exec(PyObject* module) {
  if (module_state.module) {
    if (module_state.module == module) return 0;
    PyErr_SetString(PyExc_RuntimeError,
                    "Module 'lm_render_tex' has already been imported. Re-initialisation is not "
                    "supported.");
    return -1;
  }
  module_state.module = Py_NewRef(module);
  int line = line::kModule;
  if (exec_steps(module, line)) {
    module_state.initialised = true;
    return 0;
  }
  if (module_state.dict && names_ready) add_traceback_entry(kInitEntry, line, kSourceFile);
  // A later import starts again from scratch.
  Py_CLEAR(module_state.module);
  module_state.dict = nullptr;
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
