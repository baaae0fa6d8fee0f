// The record, its method table, the three constructors, the native accessor,
// the properties and garbage-collector support.
#include "render_texture.hpp"

#include "arguments.hpp"
#include "handle_holders.hpp"
#include "lookup.hpp"
#include "native_entries.hpp"
#include "traceback.hpp"

namespace lmrt {

LmRenderTextureMethods method_table;

void fill_method_table() {
  method_table.c_fast_blit = native::c_fast_blit;
  method_table.c_fast_blit_texture = native::c_fast_blit_texture;
  method_table.c_fast_lmblit = native::c_fast_lmblit;
  method_table.c_fast_clear = native::c_fast_clear;
  method_table.c_clear = native::c_clear;
  method_table.clear = native::clear;
  method_table.fast_clear = native::fast_clear;
  method_table.fill = native::fill;
  method_table.kill = native::kill;
  method_table.get_rect = native::get_rect;
  method_table.get_height = native::get_height;
  method_table.get_width = native::get_width;
  method_table.c_get_texture = native::c_get_texture;
  method_table.new_ = native::new_;
}

// ---------------------------------------------------------------------------
// Allocation and construction

LmRenderTexture* allocate(PyTypeObject* type) {
  // A failed import can leave the type reachable (through the namespace its
  // traceback entries keep) without the collaborators every operation needs.
  if (!module_state.initialised) {
    PyErr_Format(PyExc_RuntimeError, "%s was not imported successfully", kModuleName);
    return nullptr;
  }
  PyObject* object = type->tp_alloc(type, 0);
  if (object == nullptr) return nullptr;
  LmRenderTexture* self = as_record(object);
  self->methods = &method_table;
  self->render_texture = Py_NewRef(Py_None);
  self->size = Py_NewRef(Py_None);
  return self;
}

namespace {

PyObject* render_texture_new(PyTypeObject* type, PyObject*, PyObject*) {
  return as_object(allocate(type));
}

// int() of a size component: an exact int as it is, a float truncated as
// int() truncates it (same result, same errors), anything else converted.
Ref integer_of(PyObject* value) {
  if (PyLong_CheckExact(value)) return Ref::own(value);
  if (PyFloat_CheckExact(value)) return Ref::steal(PyLong_FromDouble(PyFloat_AS_DOUBLE(value)));
  return Ref::steal(PyNumber_Long(value));
}

// size.x or size.y as ordinary attribute access reads it; the vector type's
// getter is called without the generic lookup while the type is unchanged.
Ref integer_attribute(PyObject* object, PyObject* name, GetterCache& cache) {
  Ref value = Ref::steal(get_attribute(object, name, cache));
  return value ? integer_of(value.get()) : std::move(value);
}

GetterCache size_x_cache, size_y_cache;

// Asks the raylib binding for a target of `size` and stores it. Nothing is
// written unless every step before the store succeeded.
bool load(LmRenderTexture* self, PyObject* size) {
  Ref rl = raylib_binding();
  if (!rl) return false;
  Ref width = integer_attribute(size, names().x, size_x_cache);
  if (!width) return false;
  Ref height = integer_attribute(size, names().y, size_y_cache);
  if (!height) return false;
  PyObject* args[] = {rl.get(), width.get(), height.get()};
  static NamespaceCache load_cache;
  Ref handle = Ref::steal(call_binding(names().load_render_texture, load_cache, args, 3));
  if (!handle) return false;
  holders::Room room(1, handle.get());
  if (!room) return false;
  holders::replace_handle(self, handle.get());
  replace_field(self->size, size);
  holders::set_loaded(self, 1);
  return true;
}

// The handle's texture dimension as a double.
bool texture_dimension(PyObject* handle, PyObject* name, double* out) {
  Ref texture = Ref::steal(PyObject_GetAttr(handle, names().texture));
  if (!texture) return false;
  Ref value = Ref::steal(PyObject_GetAttr(texture.get(), name));
  if (!value) return false;
  return as_double(value.get(), out);
}

bool adopt(LmRenderTexture* self, PyObject* handle) {
  holders::replace_handle(self, handle);
  double width, height;
  if (!texture_dimension(handle, names().width, &width)) return false;
  if (!texture_dimension(handle, names().height, &height)) return false;
  Ref size = Ref::steal(module_state.vector_methods->new_(width, height));
  if (!size) return false;
  holders::Room room(1, self->render_texture);
  if (!room) return false;
  replace_field(self->size, size.get());
  holders::set_loaded(self, 1);
  return true;
}

}  // namespace

int render_texture_init(PyObject* self, PyObject* args, PyObject* kwargs) {
  const Method& init = method(MethodId::init);
  PyObject* size;
  if (bind_tuple_dict(init, args, kwargs, &size) &&
      check_argument_type(size, module_state.vector_type, false, "size") &&
      load(as_record(self), size)) {
    return 0;
  }
  add_traceback(init);
  return -1;
}

namespace native {

LmRenderTexture* new_(::LmVector2* size) {
  Ref self = Ref::steal(as_object(allocate(&RenderTextureType)));
  if (!self || !load(as_record(self.get()), reinterpret_cast<PyObject*>(size))) {
    add_traceback("LmRenderTexture.new", line::kNew);
    return nullptr;
  }
  return as_record(self.release());
}

PyObject* c_get_texture(LmRenderTexture* self) {
  Ref handle = Ref::own(self->render_texture);  // the lookup may replace the field
  PyObject* texture = PyObject_GetAttr(handle.get(), names().texture);
  if (texture == nullptr) add_traceback("LmRenderTexture.c_get_texture", line::kCGetTexture);
  return texture;
}

}  // namespace native

namespace py {

PyObject* from_rl_render_texture(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
  const Method& from_rl = method(MethodId::from_rl_render_texture);
  PyObject* handle;
  Ref self;
  if (bind(from_rl, args, nargs, kwnames, &handle)) {
    self = Ref::steal(as_object(allocate(&RenderTextureType)));
    // A half-built object is released with loaded 0, so nothing is unloaded.
    if (self && !adopt(as_record(self.get()), handle)) self = Ref();
  }
  if (!self) add_traceback(from_rl);
  return self.release();
}

}  // namespace py

// ---------------------------------------------------------------------------
// Properties

namespace {

// Derived properties read one attribute of a field; the closure names both.
struct DerivedProperty {
  PyObject* LmRenderTexture::* field;
  PyObject* Names::* attribute;
  const char* traceback_name;
  GetterCache* cache;
};

GetterCache texture_cache, id_cache, depth_cache, width_cache, height_cache;

// Where the property is known (the draws' reads of width and height), the
// compiler folds its description away.
inline PyObject* derived_value(PyObject* self, const DerivedProperty& property) {
  // Held for the lookup, which may run code that replaces the field.
  Ref owner = Ref::own(as_record(self)->*(property.field));
  PyObject* value = get_attribute(owner.get(), names().*(property.attribute), *property.cache);
  if (value == nullptr) add_traceback(property.traceback_name, line::kProperty);
  return value;
}

PyObject* get_derived(PyObject* self, void* closure) {
  return derived_value(self, *static_cast<const DerivedProperty*>(closure));
}

const DerivedProperty kTexture{&LmRenderTexture::render_texture, &Names::texture,
                               "LmRenderTexture.texture.__get__", &texture_cache};
const DerivedProperty kId{&LmRenderTexture::render_texture, &Names::id,
                          "LmRenderTexture.id.__get__", &id_cache};
const DerivedProperty kDepth{&LmRenderTexture::render_texture, &Names::depth,
                             "LmRenderTexture.depth.__get__", &depth_cache};
const DerivedProperty kWidth{&LmRenderTexture::size, &Names::x, "LmRenderTexture.width.__get__",
                             &width_cache};
const DerivedProperty kHeight{&LmRenderTexture::size, &Names::y, "LmRenderTexture.height.__get__",
                              &height_cache};

PyObject* get_render_texture(PyObject* self, void*) {
  return Py_NewRef(as_record(self)->render_texture);
}

int set_render_texture(PyObject* self, PyObject* value, void*) {
  PyObject* handle = value ? value : Py_None;
  holders::Room room(as_record(self)->loaded, handle);
  if (!room) {
    add_traceback("LmRenderTexture.render_texture.__set__", line::kProperty);
    return -1;
  }
  holders::replace_handle(as_record(self), handle);
  return 0;
}

PyObject* get_size(PyObject* self, void*) { return Py_NewRef(as_record(self)->size); }

int set_size(PyObject* self, PyObject* value, void*) {
  if (value != nullptr && !check_convertible(value, module_state.vector_type)) {
    add_traceback("LmRenderTexture.size.__set__", line::kProperty);
    return -1;
  }
  replace_field(as_record(self)->size, value ? value : Py_None);
  return 0;
}

PyObject* get_loaded(PyObject* self, void*) { return PyBool_FromLong(as_record(self)->loaded); }

int set_loaded(PyObject* self, PyObject* value, void*) {
  if (value == nullptr) {
    PyErr_SetString(PyExc_NotImplementedError, "__del__");
    return -1;
  }
  int loaded = truth(value);
  holders::Room room(loaded > 0, as_record(self)->render_texture);
  if (loaded < 0 || !room) {
    add_traceback("LmRenderTexture.loaded.__set__", line::kProperty);
    return -1;
  }
  holders::set_loaded(as_record(self), loaded);
  return 0;
}

void* closure_of(const DerivedProperty& property) {
  return const_cast<DerivedProperty*>(&property);
}

}  // namespace

PyObject* read_width(PyObject* source) {
  return Py_IS_TYPE(source, &RenderTextureType) ? derived_value(source, kWidth)
                                                : PyObject_GetAttr(source, names().width);
}

PyObject* read_height(PyObject* source) {
  return Py_IS_TYPE(source, &RenderTextureType) ? derived_value(source, kHeight)
                                                : PyObject_GetAttr(source, names().height);
}

namespace {

PyGetSetDef properties[] = {
    {"render_texture", get_render_texture, set_render_texture, nullptr, nullptr},
    {"size", get_size, set_size, nullptr, nullptr},
    {"loaded", get_loaded, set_loaded, nullptr, nullptr},
    {"texture", get_derived, nullptr, nullptr, closure_of(kTexture)},
    {"id", get_derived, nullptr, nullptr, closure_of(kId)},
    {"depth", get_derived, nullptr, nullptr, closure_of(kDepth)},
    {"width", get_derived, nullptr, nullptr, closure_of(kWidth)},
    {"height", get_derived, nullptr, nullptr, closure_of(kHeight)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---------------------------------------------------------------------------
// Garbage-collector support

int render_texture_traverse(PyObject* self, visitproc visit, void* arg) {
  LmRenderTexture* record = as_record(self);
  Py_VISIT(record->render_texture);
  Py_VISIT(record->size);
  return 0;
}

// Breaks cycles by pointing both fields at None; `loaded` stays. The
// finaliser gave the resource back before the collector got here, unless a
// subclass's own __del__ took the finaliser slot: then the clean-up runs now,
// while the fields still hold the handle.
int render_texture_clear(PyObject* self) {
  render_texture_finalize(self);
  LmRenderTexture* record = as_record(self);
  holders::replace_handle(record, Py_None);
  replace_field(record->size, Py_None);
  return 0;
}

PyTypeObject make_render_texture_type() {
  PyTypeObject type = {PyVarObject_HEAD_INIT(nullptr, 0)};
  type.tp_name = LMRT_MODULE_NAME ".LmRenderTexture";
  type.tp_basicsize = sizeof(LmRenderTexture);
  type.tp_dealloc = render_texture_dealloc;
  type.tp_finalize = render_texture_finalize;
  type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
  type.tp_traverse = render_texture_traverse;
  type.tp_clear = render_texture_clear;
  type.tp_getset = properties;
  type.tp_init = render_texture_init;
  type.tp_new = render_texture_new;
  return type;
}

}  // namespace

PyTypeObject RenderTextureType = make_render_texture_type();

}  // namespace lmrt
