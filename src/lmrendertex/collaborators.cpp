#include "collaborators.hpp"

#include <Python.h>

#include <cstring>
#include <type_traits>

#include "ref.hpp"
#include "state.hpp"
#include "traceback.hpp"

namespace lmrt {

namespace {

// Stores a capsule's address in a typed field of the module state.
template <auto Field, class Owner>
void store_address(Owner& owner, void* address) {
  using Pointer = std::remove_reference_t<decltype(owner.*Field)>;
  owner.*Field = reinterpret_cast<Pointer>(address);
}

// ---- native types ------------------------------------------------------------

struct TypeImport {
  const char* module;
  PyObject* Names::* class_name;
  Py_ssize_t expected_size;
  PyTypeObject* State::* type;
  void (*store_methods)(State&, void*);  // null: the table is only tested for presence
};

bool check_type_size(const char* module_name, const char* class_text, Py_ssize_t size,
                     Py_ssize_t expected) {
  if (size == expected) return true;
  const char* format =
      "%.200s.%.200s size changed, may indicate binary incompatibility. Expected %zd from C "
      "header, got %zd from PyObject";
  if (size < expected) {
    PyErr_Format(PyExc_ValueError, format, module_name, class_text, expected, size);
    return false;
  }
  return PyErr_WarnFormat(PyExc_RuntimeWarning, 0, format, module_name, class_text, expected,
                          size) == 0;
}

bool import_type(const TypeImport& row) {
  Ref module = Ref::steal(PyImport_ImportModule(row.module));
  if (!module) return false;
  PyObject* class_name = names().*row.class_name;
  Ref type = Ref::steal(PyObject_GetAttr(module.get(), class_name));
  if (!type) return false;
  const char* class_text = PyUnicode_AsUTF8(class_name);
  if (!PyType_Check(type.get())) {
    PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", row.module, class_text);
    return false;
  }
  auto* type_object = reinterpret_cast<PyTypeObject*>(type.get());
  if (!check_type_size(row.module, class_text, type_object->tp_basicsize, row.expected_size)) {
    return false;
  }
  Ref capsule = Ref::steal(PyObject_GetItem(type_object->tp_dict, names().pyx_vtable));
  if (!capsule) return false;
  void* table = PyCapsule_GetPointer(capsule.get(), nullptr);
  if (table == nullptr) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_RuntimeError, "invalid vtable found for imported type");
    }
    return false;
  }
  Py_XSETREF(module_state.*row.type, reinterpret_cast<PyTypeObject*>(type.release()));
  if (row.store_methods) row.store_methods(module_state, table);
  return true;
}

const TypeImport kTypes[] = {
    {"lumo_ui.fast.lmvector2.lmvector2", &Names::LmVector2, sizeof(VectorRecord),
     &State::vector_type, store_address<&State::vector_methods, State>},
    {"lumo_ui.fast.lmrect.lmrect", &Names::LmRect, sizeof(RectRecord), &State::rect_type,
     store_address<&State::rect_methods, State>},
    {"lumo_ui.fast.lmshader.lmshader", &Names::LmShader, sizeof(ShaderRecord),
     &State::shader_type, nullptr},
};

// ---- back-end functions --------------------------------------------------------

constexpr const char* kBackendModule = "lumo_ui.fast.raylib.lumo_raylib";

// One exported function: its name in the C-API dict, the capsule name its
// signature must carry, and where its address goes.
struct FunctionImport {
  const char* name;
  const char* signature;
  void (*store)(Backend&, void*);
};

// One row per function of LMRT_BACKEND_FUNCTIONS (state.hpp): the dict key is
// the field's name.
#define LMRT_BACKEND_FUNCTION(field, params, signature) \
  {#field, signature, store_address<&Backend::field, Backend>},

const FunctionImport kBackendFunctions[] = {LMRT_BACKEND_FUNCTIONS(LMRT_BACKEND_FUNCTION)};

#undef LMRT_BACKEND_FUNCTION

// table[key] for a C string key, as PyDict_GetItemStringRef does: 1 found
// (a new reference in `item`), 0 absent, -1 an error (making the key string
// can run out of memory), which the caller lets through.
int dict_item(PyObject* table, const char* key, Ref& item) {
  Ref text = Ref::steal(PyUnicode_FromString(key));
  if (!text) return -1;
  item = Ref::own(PyDict_GetItemWithError(table, text.get()));
  if (item) return 1;
  return PyErr_Occurred() ? -1 : 0;
}

// The messages name the module as it was asked for: whatever sys.modules
// holds under that name need not be a module that can tell its name.
bool import_function(PyObject* table, const FunctionImport& row) {
  Ref capsule;
  int found_item = PyDict_Check(table) ? dict_item(table, row.name, capsule) : 0;
  if (found_item < 0) return false;
  if (found_item == 0) {
    PyErr_Format(PyExc_ImportError, "%.200s does not export expected C %.8s %.200s",
                 kBackendModule, "function", row.name);
    return false;
  }
  const char* found =
      PyCapsule_CheckExact(capsule.get()) ? PyCapsule_GetName(capsule.get()) : nullptr;
  if (found == nullptr || std::strcmp(found, row.signature) != 0) {
    PyErr_Format(PyExc_TypeError,
                 "C %.8s %.200s.%.200s has wrong signature (expected %.500s, got %.500s)",
                 "function", kBackendModule, row.name, row.signature,
                 found ? found : "(null)");
    return false;
  }
  void* pointer = PyCapsule_GetPointer(capsule.get(), row.signature);
  if (pointer == nullptr) return false;
  row.store(module_state.backend, pointer);
  return true;
}

// ---- top-level statements ------------------------------------------------------

// `from <module> import <name>`, with the interpreter's message when the
// module lacks the name.
bool import_name(const char* module_name, PyObject* name) {
  Ref fromlist = Ref::steal(PyTuple_Pack(1, name));
  Ref module_text = Ref::steal(PyUnicode_FromString(module_name));
  if (!fromlist || !module_text) return false;
  Ref module = Ref::steal(PyImport_ImportModuleLevelObject(module_text.get(), module_state.dict,
                                                           nullptr, fromlist.get(), 0));
  if (!module) return false;
  Ref value = Ref::steal(PyObject_GetAttr(module.get(), name));
  if (!value) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    Ref file = Ref::steal(PyModule_GetFilenameObject(module.get()));
    if (!file) {
      // A module without a file gets the interpreter's wording; running out
      // of memory is not a missing file.
      if (PyErr_ExceptionMatches(PyExc_MemoryError)) return false;
      PyErr_Clear();
      PyErr_Format(PyExc_ImportError, "cannot import name %R from %R (unknown location)", name,
                   module_text.get());
    } else {
      PyErr_Format(PyExc_ImportError, "cannot import name %R from %R (%S)", name,
                   module_text.get(), file.get());
    }
    return false;
  }
  return PyDict_SetItem(module_state.dict, name, value.get()) == 0;
}

struct NameImport {
  const char* module;
  PyObject* Names::* name;
  int line;
};

const NameImport kNameImports[] = {
    {"lumo_ui.presentation.color", &Names::Color, line::kColor},
    {"lumo_ui.core.state", &Names::lumo_state, line::kLumoState},
    {"lumo_ui.core.annotations", &Names::Annotations, line::kAnnotations},
};

}  // namespace

bool import_types() {
  for (const TypeImport& row : kTypes) {
    if (!import_type(row)) return false;
  }
  return true;
}

bool import_backend() {
  Ref module = Ref::steal(PyImport_ImportModule(kBackendModule));
  if (!module) return false;
  Ref table = Ref::steal(PyObject_GetAttr(module.get(), names().pyx_capi));
  if (!table) return false;
  for (const FunctionImport& row : kBackendFunctions) {
    if (!import_function(table.get(), row)) return false;
  }
  return true;
}

bool run_top_level(int& line) {
  line = line::kModule;
  Ref md = Ref::steal(PyImport_ImportModule("lumo_ui.core.modules"));
  if (!md || PyDict_SetItem(module_state.dict, names().md, md.get()) < 0) return false;
  for (const NameImport& row : kNameImports) {
    line = row.line;
    if (!import_name(row.module, names().*row.name)) return false;
  }
  line = line::kBaseColor;
  PyObject* base = module_state.rect_methods->new_(255.0f, 255.0f, 255.0f, 0.0f);
  if (base == nullptr) return false;
  Py_SETREF(module_state.base_color, base);
  return true;
}

}  // namespace lmrt
