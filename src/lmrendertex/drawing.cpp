// Drawing into a render target: the `with` scope, clear and fill, and copy.
// These run once or more per frame, so the exact type pays no override lookup
// and nothing is allocated that the call does not hand to the back-end.
#include "drawing.hpp"
#include "lookup.hpp"
#include "native_entries.hpp"
#include "traceback.hpp"

namespace lmrt {

namespace {

// ---- clear and fill ------------------------------------------------------

// Each native entry has a body that returns its status (see run_entry), so
// the indicator is tested once per back-end step rather than once per level.

bool c_fast_clear_body(PyObject* color, const ErrorIndicator& error) {
  module_state.backend.c_clear_background(color);
  if (succeeded(error)) return true;
  add_traceback("LmRenderTexture.c_fast_clear", line::kCFastClear);
  return false;
}

bool run_c_fast_clear(LmRenderTexture* self, PyObject* color, const ErrorIndicator& error) {
  return run_entry(self->methods->c_fast_clear, native::c_fast_clear,
                   [&] { return c_fast_clear_body(color, error); }, error, self, color);
}

bool c_clear_body(LmRenderTexture* self, PyObject* color, const ErrorIndicator& error) {
  if (begin_texture_mode(self, error) && run_c_fast_clear(self, color, error) &&
      end_texture_mode(error)) {
    return true;
  }
  add_traceback("LmRenderTexture.c_clear", line::kCClear);
  return false;
}

bool run_c_clear(LmRenderTexture* self, PyObject* color, const ErrorIndicator& error) {
  return run_entry(self->methods->c_clear, native::c_clear,
                   [&] { return c_clear_body(self, color, error); }, error, self, color);
}

using ColorRun = bool (*)(LmRenderTexture*, PyObject*, const ErrorIndicator&);
using DispatchEntry = void (*)(LmRenderTexture*, PyObject*, int);

// What tells clear, fast_clear and fill apart: the row, the table entry
// Python reaches them through, the type's own entry, and the drawing step
// their body runs.
struct ColorMethod {
  MethodId id;
  DispatchEntry LmRenderTextureMethods::* entry;
  DispatchEntry own;
  ColorRun run;
};

const ColorMethod kClear{MethodId::clear, &LmRenderTextureMethods::clear, native::clear,
                         run_c_clear};
const ColorMethod kFastClear{MethodId::fast_clear, &LmRenderTextureMethods::fast_clear,
                             native::fast_clear, run_c_fast_clear};
const ColorMethod kFill{MethodId::fill, &LmRenderTextureMethods::fill, native::fill, run_c_clear};

// The body of the dispatching entries: an override of the method runs
// instead of the type's own work. A failure adds the method's entry.
bool color_entry_body(const ColorMethod& m, LmRenderTexture* self, PyObject* color,
                      int skip_dispatch, const ErrorIndicator& error) {
  Ref result;
  Dispatch dispatch = call_override(self, skip_dispatch, m.id, color, result);
  bool done = dispatch == Dispatch::Own ? check_loaded(self) && m.run(self, color, error)
                                        : dispatch == Dispatch::Override;
  if (!done) add_traceback(method(m.id));
  return done;
}

// The Python level of clear, fast_clear and fill: one colour, then the
// native entry through the object's table.
PyObject* call_color_method(const ColorMethod& m, PyObject* self, PyObject* const* args,
                            Py_ssize_t nargs, PyObject* kwnames) {
  const Method& spec = method(m.id);
  PyObject* color;
  if (!bind(spec, args, nargs, kwnames, &color) || !check_tuple_argument(color, true, "color")) {
    return fail(spec);
  }
  LmRenderTexture* record = as_record(self);
  ErrorIndicator error;
  if (!run_entry(record->methods->*m.entry, m.own,
                 [&] { return color_entry_body(m, record, color, 1, error); }, error, record,
                 color, 1)) {
    return fail(spec);
  }
  Py_RETURN_NONE;
}

// ---- scope and copy ------------------------------------------------------

// md.rl.BlendMode.BLEND_ALPHA as a native int, read afresh each time.
bool alpha_blend_mode(int* out) {
  Ref rl = raylib_binding();
  if (!rl) return false;
  static NamespaceCache blend_modes_cache;
  Ref blend_modes = Ref::steal(binding_attribute(rl.get(), names().BlendMode, blend_modes_cache));
  if (!blend_modes) return false;
  Ref alpha = Ref::steal(PyObject_GetAttr(blend_modes.get(), names().BLEND_ALPHA));
  return alpha && as_int32(alpha.get(), out);
}

// The body of copy's scope, run with the new target current. The target is
// an exact LmRenderTexture, so its fast_blit is the type's own and is called
// directly rather than looked up by name.
bool draw_copy(LmRenderTexture* target, LmRenderTexture* source, int flip) {
  ErrorIndicator error;
  target->methods->fast_clear(target, module_state.clear_color, 0);
  if (!succeeded(error)) return false;
  int mode;
  if (!alpha_blend_mode(&mode) || !begin_blend_mode(mode, error)) return false;
  PyObject* blit_args[] = {as_object(source), module_state.origin_position,
                           flip ? Py_True : Py_False};
  Ref drawn = Ref::steal(py::fast_blit(as_object(target), blit_args, 3, nullptr));
  return drawn && end_blend_mode(error);
}

// Leaves the scope after its body failed, as a `with` statement does: __exit__
// sees the exception as the one being handled, so an error of its own is
// chained to it and replaces it (false). Otherwise the body's exception is
// set again (true).
bool exit_after_failure(PyObject* target) {
  Ref raised = Ref::steal(PyErr_GetRaisedException());
  if (!raised) return true;
  Ref traceback = Ref::steal(PyException_GetTraceback(raised.get()));
  Ref handled_before = Ref::steal(PyErr_GetHandledException());
  PyErr_SetHandledException(raised.get());
  PyObject* exit_args[] = {reinterpret_cast<PyObject*>(Py_TYPE(raised.get())), raised.get(),
                           traceback ? traceback.get() : Py_None};
  Ref exited = Ref::steal(py::exit_scope(target, exit_args, 3, nullptr));
  PyErr_SetHandledException(handled_before.get());
  if (!exited) return false;
  PyErr_SetRaisedException(raised.release());
  return true;
}

}  // namespace

// ---- Python level --------------------------------------------------------

namespace py {

PyObject* enter(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const Method& enter = method(MethodId::enter);
  if (!bind(enter, args, nargs, kwnames, nullptr) || !check_loaded(as_record(self)) ||
      !begin_texture_mode(as_record(self), ErrorIndicator())) {
    return fail(enter);
  }
  return Py_NewRef(self);
}

PyObject* exit_scope(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const Method& exit = method(MethodId::exit);
  PyObject* exc_info[3];
  if (!bind(exit, args, nargs, kwnames, exc_info) || !end_texture_mode(ErrorIndicator())) {
    return fail(exit);
  }
  Py_RETURN_NONE;
}

PyObject* clear(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_color_method(kClear, self, args, nargs, kwnames);
}

PyObject* fast_clear(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_color_method(kFastClear, self, args, nargs, kwnames);
}

PyObject* fill(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_color_method(kFill, self, args, nargs, kwnames);
}

PyObject* copy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const Method& copy = method(MethodId::copy);
  PyObject* flip_arg;
  int flip;
  LmRenderTexture* source = as_record(self);
  if (!bind(copy, args, nargs, kwnames, &flip_arg) ||
      !convert_flip(flip_arg, copy.params[0], &flip) || !check_loaded(source)) {
    return fail(copy);
  }
  // The new target shares the source's size vector itself.
  Ref size = Ref::own(source->size);
  Ref target = Ref::steal(
      PyObject_CallOneArg(reinterpret_cast<PyObject*>(&RenderTextureType), size.get()));
  if (!target) return fail(copy);
  Ref entered = Ref::steal(enter(target.get(), nullptr, 0, nullptr));
  if (!entered) return fail(copy);
  if (!draw_copy(as_record(target.get()), source, flip)) {
    // The entry goes in first so that __exit__ sees it in the traceback.
    add_traceback(copy);
    if (!exit_after_failure(target.get())) add_traceback(copy);
    return nullptr;
  }
  PyObject* no_exception[] = {Py_None, Py_None, Py_None};
  Ref exited = Ref::steal(exit_scope(target.get(), no_exception, 3, nullptr));
  if (!exited) return fail(copy);
  return target.release();
}

}  // namespace py

// ---- native level --------------------------------------------------------

namespace native {

// Called from C, so each entry reads the thread state for itself.

void c_fast_clear(LmRenderTexture*, PyObject* color) {
  c_fast_clear_body(color, ErrorIndicator());
}

void c_clear(LmRenderTexture* self, PyObject* color) {
  c_clear_body(self, color, ErrorIndicator());
}

void clear(LmRenderTexture* self, PyObject* color, int skip_dispatch) {
  color_entry_body(kClear, self, color, skip_dispatch, ErrorIndicator());
}

void fast_clear(LmRenderTexture* self, PyObject* color, int skip_dispatch) {
  color_entry_body(kFastClear, self, color, skip_dispatch, ErrorIndicator());
}

void fill(LmRenderTexture* self, PyObject* color, int skip_dispatch) {
  color_entry_body(kFill, self, color, skip_dispatch, ErrorIndicator());
}

}  // namespace native

}  // namespace lmrt
