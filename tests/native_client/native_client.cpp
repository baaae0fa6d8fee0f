// A stand-in sibling module: it knows LmRenderTexture only through the public
// header, exposes each entry of the method table to the tests, and defines a
// native subclass whose table replaces entries.
#include "lumo_ui/fast/lmrendertex/lm_render_tex.h"

#include <time.h>

#include <algorithm>
#include <cstddef>
#include <type_traits>

namespace {

PyTypeObject* render_texture_type = nullptr;
LmRenderTextureMethods* methods = nullptr;

bool ensure_table() {
  if (methods) return true;
  render_texture_type = LmRenderTexture_ImportType(&methods);
  return render_texture_type != nullptr;
}

LmRenderTexture* record(PyObject* object) {
  if (!ensure_table()) return nullptr;
  if (!PyObject_TypeCheck(object, render_texture_type)) {
    PyErr_Format(PyExc_TypeError, "expected an LmRenderTexture, got %.200s", Py_TYPE(object)->tp_name);
    return nullptr;
  }
  return reinterpret_cast<LmRenderTexture*>(object);
}

bool parse(PyObject* args, const char* format, LmRenderTexture** self, PyObject** object_self,
           auto*... rest) {
  if (!PyArg_ParseTuple(args, format, object_self, rest...)) return false;
  *self = record(*object_self);
  return *self != nullptr;
}

PyObject* done() {
  if (PyErr_Occurred()) return nullptr;
  Py_RETURN_NONE;
}

// Field values read straight from the record: (render_texture, size, loaded).
PyObject* fields(PyObject*, PyObject* object) {
  LmRenderTexture* self = record(object);
  if (!self) return nullptr;
  return Py_BuildValue("(OOi)", self->render_texture, self->size, self->loaded);
}

PyObject* table_is_published(PyObject*, PyObject*) {
  if (!ensure_table()) return nullptr;
  return PyBool_FromLong(methods != nullptr);
}

PyObject* new_(PyObject*, PyObject* size) {
  if (!ensure_table()) return nullptr;
  return reinterpret_cast<PyObject*>(methods->new_(reinterpret_cast<LmVector2*>(size)));
}

PyObject* c_get_texture(PyObject*, PyObject* object) {
  LmRenderTexture* self = record(object);
  return self ? methods->c_get_texture(self) : nullptr;
}

PyObject* c_fast_blit(PyObject*, PyObject* args) {
  LmRenderTexture *self, *source;
  PyObject *object, *source_object, *dest, *color;
  int flip;
  if (!parse(args, "OOOiO", &self, &object, &source_object, &dest, &flip, &color)) return nullptr;
  if (!(source = record(source_object))) return nullptr;
  methods->c_fast_blit(self, source, dest, flip, color);
  return done();
}

PyObject* c_fast_lmblit(PyObject*, PyObject* args) {
  LmRenderTexture *self, *source;
  PyObject *object, *source_object, *dest, *color;
  int blend_mode, flip;
  if (!parse(args, "OOOiiO", &self, &object, &source_object, &dest, &blend_mode, &flip, &color)) {
    return nullptr;
  }
  if (!(source = record(source_object))) return nullptr;
  methods->c_fast_lmblit(self, source, reinterpret_cast<LmVector2*>(dest), blend_mode, flip,
                         reinterpret_cast<LmRect*>(color));
  return done();
}

PyObject* c_fast_blit_texture(PyObject*, PyObject* args) {
  LmRenderTexture* self;
  PyObject *object, *texture, *dest, *color;
  int flip;
  if (!parse(args, "OOOiO", &self, &object, &texture, &dest, &flip, &color)) return nullptr;
  methods->c_fast_blit_texture(self, texture, dest, flip, color);
  return done();
}

template <void (*LmRenderTextureMethods::*Entry)(LmRenderTexture*, PyObject*)>
PyObject* color_entry(PyObject*, PyObject* args) {
  LmRenderTexture* self;
  PyObject *object, *color;
  if (!parse(args, "OO", &self, &object, &color)) return nullptr;
  (methods->*Entry)(self, color);
  return done();
}

template <void (*LmRenderTextureMethods::*Entry)(LmRenderTexture*, PyObject*, int)>
PyObject* dispatching_color_entry(PyObject*, PyObject* args) {
  LmRenderTexture* self;
  PyObject *object, *color;
  int skip_dispatch;
  if (!parse(args, "OOi", &self, &object, &color, &skip_dispatch)) return nullptr;
  (methods->*Entry)(self, color, skip_dispatch);
  return done();
}

PyObject* kill(PyObject*, PyObject* args) {
  LmRenderTexture* self;
  PyObject* object;
  int skip_dispatch;
  if (!parse(args, "Oi", &self, &object, &skip_dispatch)) return nullptr;
  methods->kill(self, skip_dispatch);
  return done();
}

PyObject* get_rect(PyObject*, PyObject* args) {
  LmRenderTexture* self;
  PyObject* object;
  int skip_dispatch;
  if (!parse(args, "Oi", &self, &object, &skip_dispatch)) return nullptr;
  return reinterpret_cast<PyObject*>(methods->get_rect(self, skip_dispatch));
}

// A failed size query must answer 0.0 with the error set.
template <double (*LmRenderTextureMethods::*Entry)(LmRenderTexture*, int)>
PyObject* size_query(PyObject*, PyObject* args) {
  LmRenderTexture* self;
  PyObject* object;
  int skip_dispatch;
  if (!parse(args, "Oi", &self, &object, &skip_dispatch)) return nullptr;
  double value = (methods->*Entry)(self, skip_dispatch);
  if (PyErr_Occurred()) {
    if (value != 0.0) {
      PyErr_Clear();
      PyObject* answer = PyFloat_FromDouble(value);
      if (answer) PyErr_Format(PyExc_SystemError, "failed size query answered %R", answer);
      Py_XDECREF(answer);
    }
    return nullptr;
  }
  return PyFloat_FromDouble(value);
}

// ---- A native subclass with its own table --------------------------------
//
// NativeSubclass is a compiled subclass of LmRenderTexture, as a sibling
// module defines one: a static type whose base is the imported type and whose
// records point to a copy of the type's table with entries replaced. Every
// entry that a Python-level method can reach is replaced; the constructor and
// c_get_texture keep the type's own. A replaced entry first calls the hook
// set by replaced_entry_hook(callable) with its name. If the hook raises, the
// entry fails the way the table's entries report failure: that exception set,
// and 0.0 or NULL where it answers. Otherwise it delegates to the type's
// entry, and get_width and get_height answer half a unit more than it.

LmRenderTextureMethods subclass_methods;
PyObject* replaced_entry_hook = nullptr;

PyObject* set_replaced_entry_hook(PyObject*, PyObject* hook) {
  Py_XSETREF(replaced_entry_hook, hook == Py_None ? nullptr : Py_NewRef(hook));
  Py_RETURN_NONE;
}

// False, with its exception set, when the hook raised.
bool hook_lets_through(const char* entry) {
  if (!replaced_entry_hook) return true;
  PyObject* result = PyObject_CallFunction(replaced_entry_hook, "s", entry);
  Py_XDECREF(result);
  return result != nullptr;
}

// An entry's name, usable as a template argument.
template <std::size_t N>
struct EntryName {
  char text[N];
  constexpr EntryName(const char (&name)[N]) { std::copy_n(name, N, text); }
};

template <typename Entry>
struct Replaced;

template <typename R, typename... A>
struct Replaced<R (*)(LmRenderTexture*, A...)> {
  template <EntryName name, R (*LmRenderTextureMethods::*entry)(LmRenderTexture*, A...)>
  static R call(LmRenderTexture* self, A... args) {
    if (!hook_lets_through(name.text)) return R();
    if constexpr (std::is_same_v<R, double>) {
      double answer = (methods->*entry)(self, args...);
      return PyErr_Occurred() ? answer : answer + 0.5;
    } else {
      return (methods->*entry)(self, args...);
    }
  }
};

#define LMRT_REPLACE(entry)                                                   \
  subclass_methods.entry = Replaced<decltype(subclass_methods.entry)>::call< \
      #entry, &LmRenderTextureMethods::entry>

void fill_subclass_methods() {
  subclass_methods = *methods;
  LMRT_REPLACE(c_fast_blit);
  LMRT_REPLACE(c_fast_blit_texture);
  LMRT_REPLACE(c_fast_lmblit);
  LMRT_REPLACE(c_fast_clear);
  LMRT_REPLACE(c_clear);
  LMRT_REPLACE(clear);
  LMRT_REPLACE(fast_clear);
  LMRT_REPLACE(fill);
  LMRT_REPLACE(kill);
  LMRT_REPLACE(get_rect);
  LMRT_REPLACE(get_height);
  LMRT_REPLACE(get_width);
}

#undef LMRT_REPLACE

// The base allocates and sets the type's table; the subclass's replaces it.
PyObject* native_subclass_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  PyObject* self = render_texture_type->tp_new(type, args, kwargs);
  if (self) reinterpret_cast<LmRenderTexture*>(self)->methods = &subclass_methods;
  return self;
}

// The record is the base's; deallocation, the collector's slots and the
// properties are inherited.
PyTypeObject make_native_subclass_type() {
  PyTypeObject type{};
  type.ob_base = PyVarObject{PyObject_HEAD_INIT(nullptr) 0};
  type.tp_name = "lmrt_native_client.NativeSubclass";
  type.tp_basicsize = sizeof(LmRenderTexture);
  type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
  type.tp_new = native_subclass_new;
  return type;
}

PyTypeObject native_subclass_type = make_native_subclass_type();

bool ready_native_subclass() {
  if (!ensure_table()) return false;
  fill_subclass_methods();
  native_subclass_type.tp_base = render_texture_type;
  return PyType_Ready(&native_subclass_type) == 0;
}

// ---- Timing loops for the benchmarks ------------------------------------
//
// time_X(target, ..., n, floor=False, cpu=True) calls the table entry X n
// times in a C loop and answers the mean ns per call. With floor true the same
// loop calls a do-nothing function of the same signature instead, so the two
// figures differ only by the entry's own work. The function pointer is read
// through a volatile, so the compiler can inline neither; every call is
// followed by the error test a real caller makes. The clock is the thread's
// CPU time, which time spent descheduled on a shared machine does not inflate;
// cpu=False takes the monotonic wall clock instead.

template <typename Fn>
struct Noop;

template <typename R, typename... A>
struct Noop<R (*)(A...)> {
  static R call(A...) {
    if constexpr (!std::is_void_v<R>) return R{};
  }
};

double now_ns(clockid_t clock) {
  timespec now;
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// The trailing arguments of every timer: the loop count, and the two flags.
struct Timing {
  Py_ssize_t n = 0;
  int floor = 0;
  int cpu = 1;
};

template <typename Fn, typename... Args>
PyObject* time_loop(Fn entry, Timing timing, Args... args) {
  if (timing.n <= 0) {
    PyErr_SetString(PyExc_ValueError, "n must be positive");
    return nullptr;
  }
  clockid_t clock = timing.cpu ? CLOCK_THREAD_CPUTIME_ID : CLOCK_MONOTONIC;
  Fn volatile chosen = timing.floor ? &Noop<Fn>::call : entry;
  Fn call = chosen;
  using Result = decltype(call(args...));
  [[maybe_unused]] volatile double sink = 0.0;
  double start = now_ns(clock);
  for (Py_ssize_t i = 0; i < timing.n; ++i) {
    if constexpr (std::is_void_v<Result>) {
      call(args...);
    } else {
      sink = sink + static_cast<double>(call(args...));
    }
    if (PyErr_Occurred()) return nullptr;
  }
  return PyFloat_FromDouble((now_ns(clock) - start) / static_cast<double>(timing.n));
}

// Times a colour entry; Extra are its trailing arguments (skip_dispatch).
template <auto Entry, int... Extra>
PyObject* time_color_entry(PyObject*, PyObject* args) {
  LmRenderTexture* self;
  PyObject *object, *color;
  Timing timing;
  if (!parse(args, "OOn|pp", &self, &object, &color, &timing.n, &timing.floor, &timing.cpu)) {
    return nullptr;
  }
  return time_loop(methods->*Entry, timing, self, color, Extra...);
}

PyObject* time_get_width(PyObject*, PyObject* args) {
  LmRenderTexture* self;
  PyObject* object;
  Timing timing;
  if (!parse(args, "On|pp", &self, &object, &timing.n, &timing.floor, &timing.cpu)) return nullptr;
  return time_loop(methods->get_width, timing, self, 1);
}

PyObject* time_c_fast_blit(PyObject*, PyObject* args) {
  LmRenderTexture *self, *source;
  PyObject *object, *source_object, *dest, *color;
  int flip;
  Timing timing;
  if (!parse(args, "OOOiOn|pp", &self, &object, &source_object, &dest, &flip, &color, &timing.n,
             &timing.floor, &timing.cpu)) {
    return nullptr;
  }
  if (!(source = record(source_object))) return nullptr;
  return time_loop(methods->c_fast_blit, timing, self, source, dest, flip, color);
}

PyObject* time_c_fast_lmblit(PyObject*, PyObject* args) {
  LmRenderTexture *self, *source;
  PyObject *object, *source_object, *dest, *color;
  int blend_mode, flip;
  Timing timing;
  if (!parse(args, "OOOiiOn|pp", &self, &object, &source_object, &dest, &blend_mode, &flip, &color,
             &timing.n, &timing.floor, &timing.cpu)) {
    return nullptr;
  }
  if (!(source = record(source_object))) return nullptr;
  return time_loop(methods->c_fast_lmblit, timing, self, source,
                   reinterpret_cast<LmVector2*>(dest), blend_mode, flip,
                   reinterpret_cast<LmRect*>(color));
}

// ---- A function-like floor ----------------------------------------------
//
// FunctionFloor() is a do-nothing callable shaped like the module's method
// objects: vectorcall plus the method-descriptor flag, so that `obj.noop(x)`
// on a class holding one takes the interpreter's unbound-method path. It
// shows what that shape costs beside a plain METH_FASTCALL method.

struct FunctionFloor {
  PyObject_HEAD
  vectorcallfunc vectorcall;
};

PyObject* function_floor_call(PyObject*, PyObject* const*, size_t, PyObject*) { Py_RETURN_NONE; }

PyObject* function_floor_new(PyTypeObject* type, PyObject*, PyObject*) {
  auto* self = reinterpret_cast<FunctionFloor*>(type->tp_alloc(type, 0));
  if (self) self->vectorcall = function_floor_call;
  return reinterpret_cast<PyObject*>(self);
}

PyObject* function_floor_get(PyObject* self, PyObject* object, PyObject*) {
  if (object == nullptr || object == Py_None) return Py_NewRef(self);
  return PyMethod_New(self, object);
}

PyMemberDef function_floor_members[] = {
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(FunctionFloor, vectorcall), Py_READONLY,
     nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot function_floor_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(function_floor_new)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_descr_get, reinterpret_cast<void*>(function_floor_get)},
    {Py_tp_members, function_floor_members},
    {0, nullptr},
};

PyType_Spec function_floor_spec = {
    "lmrt_native_client.FunctionFloor", sizeof(FunctionFloor), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR,
    function_floor_slots,
};

PyMethodDef client_methods[] = {
    {"fields", fields, METH_O, nullptr},
    {"table_is_published", table_is_published, METH_NOARGS, nullptr},
    {"new", new_, METH_O, nullptr},
    {"c_get_texture", c_get_texture, METH_O, nullptr},
    {"c_fast_blit", c_fast_blit, METH_VARARGS, nullptr},
    {"c_fast_lmblit", c_fast_lmblit, METH_VARARGS, nullptr},
    {"c_fast_blit_texture", c_fast_blit_texture, METH_VARARGS, nullptr},
    {"c_fast_clear", color_entry<&LmRenderTextureMethods::c_fast_clear>, METH_VARARGS, nullptr},
    {"c_clear", color_entry<&LmRenderTextureMethods::c_clear>, METH_VARARGS, nullptr},
    {"clear", dispatching_color_entry<&LmRenderTextureMethods::clear>, METH_VARARGS, nullptr},
    {"fast_clear", dispatching_color_entry<&LmRenderTextureMethods::fast_clear>, METH_VARARGS, nullptr},
    {"fill", dispatching_color_entry<&LmRenderTextureMethods::fill>, METH_VARARGS, nullptr},
    {"kill", kill, METH_VARARGS, nullptr},
    {"get_rect", get_rect, METH_VARARGS, nullptr},
    {"get_height", size_query<&LmRenderTextureMethods::get_height>, METH_VARARGS, nullptr},
    {"get_width", size_query<&LmRenderTextureMethods::get_width>, METH_VARARGS, nullptr},
    {"time_c_fast_clear", time_color_entry<&LmRenderTextureMethods::c_fast_clear>, METH_VARARGS,
     nullptr},
    {"time_fast_clear", time_color_entry<&LmRenderTextureMethods::fast_clear, 1>, METH_VARARGS,
     nullptr},
    {"replaced_entry_hook", set_replaced_entry_hook, METH_O, nullptr},
    {"time_get_width", time_get_width, METH_VARARGS, nullptr},
    {"time_c_fast_blit", time_c_fast_blit, METH_VARARGS, nullptr},
    {"time_c_fast_lmblit", time_c_fast_lmblit, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef client_module = {
    PyModuleDef_HEAD_INIT, "lmrt_native_client", nullptr, -1, client_methods,
    nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_lmrt_native_client() {
  PyObject* module = PyModule_Create(&client_module);
  if (!module) return nullptr;
  PyObject* floor_type = PyType_FromSpec(&function_floor_spec);
  int added = floor_type ? PyModule_AddObjectRef(module, "FunctionFloor", floor_type) : -1;
  Py_XDECREF(floor_type);
  if (added == 0) {
    added = ready_native_subclass()
                ? PyModule_AddObjectRef(module, "NativeSubclass",
                                        reinterpret_cast<PyObject*>(&native_subclass_type))
                : -1;
  }
  if (added < 0) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}
