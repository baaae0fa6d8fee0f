// Size queries: width, height and the rectangle a target spans, all read
// fresh from the size vector so a replaced or mutated vector shows at once.
#include <Python.h>

#include <utility>

#include "arguments.hpp"
#include "lookup.hpp"
#include "native_entries.hpp"
#include "ref.hpp"
#include "render_texture.hpp"
#include "state.hpp"

namespace lmrt {

namespace {

// size.x or size.y, each through its own lookup cache.
struct Axis {
  PyObject* Names::* name;
  GetterCache* cache;
};

GetterCache x_cache, y_cache;
const Axis kX{&Names::x, &x_cache};
const Axis kY{&Names::y, &y_cache};

// size.<axis> as the vector gives it. The vector is held for the lookup,
// which may run code that replaces the field.
Ref read_axis_value(LmRenderTexture* self, const Axis& axis) {
  Ref size = Ref::own(self->size);
  return Ref::steal(get_attribute(size.get(), names().*axis.name, *axis.cache));
}

// size.<axis> as a double.
bool read_axis(LmRenderTexture* self, const Axis& axis, double* out) {
  Ref value = read_axis_value(self, axis);
  return value && as_double(value.get(), out);
}

using AxisEntry = double (*)(LmRenderTexture*, int);

// What tells the width query from the height query.
struct AxisQuery {
  const Axis& axis;
  MethodId method;  // the one a subclass may override
  AxisEntry LmRenderTextureMethods::* entry;
};

const AxisQuery kWidth{kX, MethodId::get_width, &LmRenderTextureMethods::get_width};
const AxisQuery kHeight{kY, MethodId::get_height, &LmRenderTextureMethods::get_height};

bool run_axis_query(LmRenderTexture* self, int skip_dispatch, const AxisQuery& query,
                    double* out) {
  Ref result;
  switch (call_override(self, skip_dispatch, query.method, nullptr, result)) {
    case Dispatch::Error:
      return false;
    case Dispatch::Override:
      return as_double(result.get(), out);
    case Dispatch::Own:
      return read_axis(self, query.axis, out);
  }
  return false;
}

// Native convention: 0.0 with the error set on failure.
double axis_query(LmRenderTexture* self, int skip_dispatch, const AxisQuery& query) {
  double value;
  if (run_axis_query(self, skip_dispatch, query, &value)) return value;
  add_traceback(method(query.method));
  return 0.0;
}

// The rectangle's fields are single precision; the width is read first.
Ref make_rect(LmRenderTexture* self) {
  double width, height;
  if (!read_axis(self, kX, &width) || !read_axis(self, kY, &height)) return Ref();
  return Ref::steal(module_state.rect_methods->new_(0.0f, 0.0f, static_cast<float>(width),
                                         static_cast<float>(height)));
}

// An override's rectangle stands as it comes, provided it is one (or None).
Ref run_rect_query(LmRenderTexture* self, int skip_dispatch) {
  Ref result;
  switch (call_override(self, skip_dispatch, MethodId::get_rect, nullptr, result)) {
    case Dispatch::Error:
      return Ref();
    case Dispatch::Override:
      return check_convertible(result.get(), module_state.rect_type) ? std::move(result) : Ref();
    case Dispatch::Own:
      return make_rect(self);
  }
  return Ref();
}

// The type's own Python-level answer (its native body never dispatches when
// called from here): the float the vector gave when nobody else holds it, as
// a new float of that value would be indistinguishable, otherwise a new one.
// The error indicator is not read on success.
PyObject* own_axis_result(LmRenderTexture* self, const AxisQuery& query) {
  Ref value = read_axis_value(self, query.axis);
  if (value && PyFloat_CheckExact(value.get()) && Py_REFCNT(value.get()) == 1) {
    return value.release();
  }
  double number;
  if (value && as_double(value.get(), &number)) return PyFloat_FromDouble(number);
  add_traceback(method(query.method));
  return nullptr;
}

// The Python level calls the native entry through the object's table; when
// that entry is the type's own, its body runs here directly.
PyObject* python_axis_query(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, const AxisQuery& query, AxisEntry own) {
  const Method& spec = method(query.method);
  PyObject* result = nullptr;
  if (bind(spec, args, nargs, kwnames, nullptr)) {
    LmRenderTexture* record = as_record(self);
    AxisEntry entry = record->methods->*query.entry;
    if (entry == own) {
      result = own_axis_result(record, query);
    } else {
      double value = entry(record, 1);
      if (!PyErr_Occurred()) result = PyFloat_FromDouble(value);
    }
  }
  if (result == nullptr) add_traceback(spec);
  return result;
}

}  // namespace

namespace native {

double get_width(LmRenderTexture* self, int skip_dispatch) {
  return axis_query(self, skip_dispatch, kWidth);
}

double get_height(LmRenderTexture* self, int skip_dispatch) {
  return axis_query(self, skip_dispatch, kHeight);
}

::LmRect* get_rect(LmRenderTexture* self, int skip_dispatch) {
  Ref rect = run_rect_query(self, skip_dispatch);
  if (!rect) add_traceback(method(MethodId::get_rect));
  return reinterpret_cast<::LmRect*>(rect.release());
}

}  // namespace native

namespace py {

PyObject* get_width(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return python_axis_query(self, args, nargs, kwnames, kWidth, native::get_width);
}

PyObject* get_height(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return python_axis_query(self, args, nargs, kwnames, kHeight, native::get_height);
}

PyObject* get_rect(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const Method& get_rect = method(MethodId::get_rect);
  PyObject* rect = nullptr;
  if (bind(get_rect, args, nargs, kwnames, nullptr)) {
    LmRenderTexture* record = as_record(self);
    rect = reinterpret_cast<PyObject*>(record->methods->get_rect(record, 1));
  }
  if (rect == nullptr) add_traceback(get_rect);
  return rect;
}

}  // namespace py

}  // namespace lmrt
