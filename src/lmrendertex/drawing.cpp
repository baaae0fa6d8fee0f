// Drawing into a render target: the `with` scope, clear and fill, blits of
// render textures and plain textures, and copy. These run once or more per
// frame, so the exact type pays no override lookup and nothing is allocated
// that the call does not hand to the back-end.
#include <Python.h>

#include "arguments.hpp"
#include "ref.hpp"
#include "render_texture.hpp"
#include "state.hpp"
#include "traceback.hpp"

namespace lmrt {

namespace {

// Back-end and native entries report failure only through the indicator.
inline bool succeeded() { return PyErr_Occurred() == nullptr; }

inline PyObject* fail(const char* function, int line) {
  add_traceback(function, line);
  return nullptr;
}

// The target is held for the call: the back-end may run code that replaces
// the field and would otherwise free the handle it is working with.
bool begin_texture_mode(LmRenderTexture* self) {
  Ref target = Ref::own(self->render_texture);
  g.backend.begin_texture_mode(target.get(), 0);
  return succeeded();
}
bool end_texture_mode() {
  g.backend.end_texture_mode(0);
  return succeeded();
}
bool begin_blend_mode(int mode) {
  g.backend.begin_blend_mode(mode, 0);
  return succeeded();
}
bool end_blend_mode() {
  g.backend.end_blend_mode(0);
  return succeeded();
}

// blend mode outermost, then texture mode on self, then the draw. Nothing is
// ended when a later step fails: callers rely on no rollback.
template <class Draw>
bool bracketed(LmRenderTexture* self, int blend_mode, Draw draw) {
  return check_loaded(self) && begin_blend_mode(blend_mode) && begin_texture_mode(self) && draw() &&
         end_texture_mode() && end_blend_mode();
}

// Conversions of omitted-or-given optional arguments.
bool convert_blend_mode(PyObject* value, int* out) {
  *out = 0;
  return value == nullptr || as_int32(value, out);
}
bool convert_flip(PyObject* value, int* out) {
  *out = value == nullptr ? 1 : truth(value);
  return *out >= 0;
}

// ---- clear and fill ------------------------------------------------------

using ColorEntry = void (*)(LmRenderTexture*, PyObject*);
using DispatchEntry = void (*)(LmRenderTexture*, PyObject*, int);

// The body shared by the dispatching entries: an override found for `name`
// runs instead of the type's own work.
bool run_overridable(LmRenderTexture* self, PyObject* color, int skip_dispatch, PyObject* name,
                     PyObject* own_method, ColorEntry LmRenderTextureMethods::*body) {
  Ref result;
  Dispatch dispatch = call_override(self, skip_dispatch, name, own_method, color, result);
  if (dispatch != Dispatch::Own) return dispatch == Dispatch::Override;
  if (!check_loaded(self)) return false;
  (self->methods->*body)(self, color);
  return succeeded();
}

constexpr Signature kClearSig{"clear", 1, 1, {&Names::color}};
constexpr Signature kFastClearSig{"fast_clear", 1, 1, {&Names::color}};
constexpr Signature kFillSig{"fill", 1, 1, {&Names::color}};

struct ColorMethod {
  const Signature& sig;
  const char* qualname;
  int line;
  DispatchEntry LmRenderTextureMethods::*entry;
};

PyObject* call_color_method(const ColorMethod& method, PyObject* self, PyObject* const* args,
                            Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* color;
  if (!bind(method.sig, args, nargs, kwnames, &color) ||
      !check_tuple_argument(color, true, "color")) {
    return fail(method.qualname, method.line);
  }
  LmRenderTexture* record = as_record(self);
  (record->methods->*method.entry)(record, color, 1);
  if (!succeeded()) return fail(method.qualname, method.line);
  Py_RETURN_NONE;
}

// ---- blits of render textures --------------------------------------------

void raise_invalid_dest(PyObject* dest) {
  PyErr_Format(PyExc_ValueError,
               "Invalid dest argument - %S, must be (x, y) or (x, y, width, height)", dest);
}

// The colour texture of the source's handle; the handle is held while its
// attribute is read.
Ref source_texture(LmRenderTexture* source) {
  Ref handle = Ref::own(source->render_texture);
  return Ref::steal(PyObject_GetAttr(handle.get(), names().texture));
}

bool draw_at_position(LmRenderTexture* source, PyObject* dest, int flip, PyObject* color) {
  Ref texture = source_texture(source);
  if (!texture) return false;
  g.backend.c_draw_texture_vec(texture.get(), dest, color, flip);
  return succeeded();
}

// The whole source into the dest rectangle; a negative source height mirrors.
bool draw_into_rect(LmRenderTexture* source, PyObject* dest, PyObject* height, PyObject* color) {
  Ref texture = source_texture(source);
  if (!texture) return false;
  Ref width = Ref::steal(read_width(as_object(source)));
  if (!width) return false;
  Ref zero = Ref::steal(PyLong_FromLong(0));  // cached small int: no allocation
  Ref source_rect = Ref::steal(PyTuple_Pack(4, zero.get(), zero.get(), width.get(), height));
  if (!source_rect) return false;
  g.backend.c_draw_texture_rec(texture.get(), source_rect.get(), dest, color);
  return succeeded();
}

bool draw_render_texture(LmRenderTexture* source, PyObject* dest, int flip, PyObject* color) {
  // The height comes first whatever dest holds, so a None source fails here
  // before its record is touched.
  Ref height = Ref::steal(read_height(as_object(source)));
  if (!height) return false;
  // Negating a plain number has no effect anyone can see, so it is skipped
  // when a position draw will not use it.
  bool unused = PyTuple_CheckExact(dest) && PyTuple_GET_SIZE(dest) == 2 &&
                (PyFloat_CheckExact(height.get()) || PyLong_CheckExact(height.get()));
  if (flip && !unused) {
    height = Ref::steal(PyNumber_Negative(height.get()));
    if (!height) return false;
  }
  // None has no len(); native callers are trusted with the tuple type but a
  // wrong one still fails cleanly.
  Py_ssize_t length = PyTuple_CheckExact(dest) ? PyTuple_GET_SIZE(dest) : PyObject_Length(dest);
  if (length < 0) return false;
  switch (length) {
    case 2:
      return draw_at_position(source, dest, flip, color);
    case 4:
      return draw_into_rect(source, dest, height.get(), color);
    default:
      raise_invalid_dest(dest);
      return false;
  }
}

bool call_fast_blit(LmRenderTexture* self, PyObject* lm_texture, PyObject* dest, int flip,
                    PyObject* color) {
  self->methods->c_fast_blit(self, as_record(lm_texture), dest, flip, color);
  return succeeded();
}

constexpr Signature kBlitSig{
    "blit",
    5,
    2,
    {&Names::lm_texture, &Names::dest, &Names::blend_mode, &Names::flip, &Names::color}};
constexpr Signature kLmblitSig{
    "lmblit",
    5,
    2,
    {&Names::lm_texture, &Names::dest, &Names::blend_mode, &Names::flip, &Names::color}};
constexpr Signature kFastBlitSig{
    "fast_blit", 4, 2, {&Names::lm_texture, &Names::dest, &Names::flip, &Names::color}};

// ---- blits of plain textures ---------------------------------------------

// Only a tuple or None may reach the display as dest.
bool check_texture_dest(PyObject* dest) {
  if (PyTuple_CheckExact(dest) || dest == Py_None) return true;
  raise_unexpected_type("tuple", dest);
  return false;
}

bool call_fast_blit_texture(LmRenderTexture* self, PyObject* texture, PyObject* dest, int flip,
                            PyObject* color) {
  self->methods->c_fast_blit_texture(self, texture, dest, flip, color);
  return succeeded();
}

// lumo_state.window.display.fast_blit_pro(texture, dest, flip, color), the
// chain read afresh so a rebound lumo_state or window takes effect at once.
bool draw_on_display(PyObject* texture, PyObject* dest, int flip, PyObject* color) {
  Ref state = Ref::steal(lookup_global(names().lumo_state));
  if (!state) return false;
  Ref window = Ref::steal(PyObject_GetAttr(state.get(), names().window));
  if (!window) return false;
  Ref display = Ref::steal(PyObject_GetAttr(window.get(), names().display));
  if (!display) return false;
  PyObject* call_args[] = {nullptr, display.get(), texture, dest, flip ? Py_True : Py_False, color};
  Ref result = Ref::steal(PyObject_VectorcallMethod(
      names().fast_blit_pro, call_args + 1, 5 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
  return static_cast<bool>(result);
}

constexpr Signature kBlitTextureSig{
    "blit_texture",
    5,
    2,
    {&Names::texture, &Names::dest, &Names::blend_mode, &Names::flip, &Names::color}};
constexpr Signature kFastBlitTextureSig{
    "fast_blit_texture", 4, 2, {&Names::texture, &Names::dest, &Names::flip, &Names::color}};

// ---- scope and copy ------------------------------------------------------

constexpr Signature kEnterSig{"__enter__", 0, 0, {}};
constexpr Signature kExitSig{
    "__exit__", 3, 3, {&Names::exc_type, &Names::exc_val, &Names::exc_tb}};
constexpr Signature kCopySig{"copy", 1, 0, {&Names::flip}};

// md.rl.BlendMode.BLEND_ALPHA as a native int, read afresh each time.
bool alpha_blend_mode(int* out) {
  Ref rl = raylib_binding();
  if (!rl) return false;
  Ref blend_modes = Ref::steal(PyObject_GetAttr(rl.get(), names().BlendMode));
  if (!blend_modes) return false;
  Ref alpha = Ref::steal(PyObject_GetAttr(blend_modes.get(), names().BLEND_ALPHA));
  return alpha && as_int32(alpha.get(), out);
}

// The body of copy's scope, run with the new target current. The target is
// an exact LmRenderTexture, so its fast_blit is the type's own and is called
// directly rather than looked up by name.
bool draw_copy(LmRenderTexture* target, LmRenderTexture* source, int flip) {
  target->methods->fast_clear(target, g.clear_color, 0);
  if (!succeeded()) return false;
  int mode;
  if (!alpha_blend_mode(&mode) || !begin_blend_mode(mode)) return false;
  PyObject* blit_args[] = {as_object(source), g.origin_position, flip ? Py_True : Py_False};
  Ref drawn = Ref::steal(py::fast_blit(as_object(target), blit_args, 3, nullptr));
  return drawn && end_blend_mode();
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
  Ref exited = Ref::steal(py::exit(target, exit_args, 3, nullptr));
  PyErr_SetHandledException(handled_before.get());
  if (!exited) return false;
  PyErr_SetRaisedException(raised.release());
  return true;
}

}  // namespace

// ---- Python level --------------------------------------------------------

namespace py {

PyObject* enter(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* unused[1];
  if (!bind(kEnterSig, args, nargs, kwnames, unused) || !check_loaded(as_record(self)) ||
      !begin_texture_mode(as_record(self))) {
    return fail("LmRenderTexture.__enter__", line::kEnter);
  }
  return Py_NewRef(self);
}

PyObject* exit(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* exc_info[3];
  if (!bind(kExitSig, args, nargs, kwnames, exc_info) || !end_texture_mode()) {
    return fail("LmRenderTexture.__exit__", line::kExit);
  }
  Py_RETURN_NONE;
}

PyObject* clear(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr ColorMethod method{kClearSig, "LmRenderTexture.clear", line::kClear,
                                      &LmRenderTextureMethods::clear};
  return call_color_method(method, self, args, nargs, kwnames);
}

PyObject* fast_clear(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr ColorMethod method{kFastClearSig, "LmRenderTexture.fast_clear",
                                      line::kFastClear, &LmRenderTextureMethods::fast_clear};
  return call_color_method(method, self, args, nargs, kwnames);
}

PyObject* fill(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr ColorMethod method{kFillSig, "LmRenderTexture.fill", line::kFill,
                                      &LmRenderTextureMethods::fill};
  return call_color_method(method, self, args, nargs, kwnames);
}

PyObject* blit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  // lm_texture, dest, blend_mode, flip, color
  PyObject* a[5];
  int blend_mode, flip;
  if (!bind(kBlitSig, args, nargs, kwnames, a) || !convert_blend_mode(a[2], &blend_mode) ||
      !convert_flip(a[3], &flip)) {
    return fail("LmRenderTexture.blit", line::kBlit);
  }
  PyObject* color = a[4] ? a[4] : g.defaults.blit;
  LmRenderTexture* record = as_record(self);
  bool done = check_argument_type(a[0], &RenderTextureType, false, "lm_texture") &&
              check_tuple_argument(a[1], false, "dest") &&
              check_tuple_argument(color, true, "color") &&
              bracketed(record, blend_mode,
                        [&] { return call_fast_blit(record, a[0], a[1], flip, color); });
  if (!done) return fail("LmRenderTexture.blit", line::kBlit);
  Py_RETURN_NONE;
}

PyObject* lmblit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  // lm_texture, dest, blend_mode, flip, color
  PyObject* a[5];
  int blend_mode, flip;
  if (!bind(kLmblitSig, args, nargs, kwnames, a) || !convert_blend_mode(a[2], &blend_mode) ||
      !convert_flip(a[3], &flip)) {
    return fail("LmRenderTexture.lmblit", line::kLmblit);
  }
  PyObject* color = a[4] ? a[4] : g.defaults.lmblit;
  LmRenderTexture* record = as_record(self);
  auto draw = [&] {
    record->methods->c_fast_lmblit(record, as_record(a[0]), reinterpret_cast<::LmVector2*>(a[1]),
                                   blend_mode, flip, reinterpret_cast<::LmRect*>(color));
    return succeeded();
  };
  bool done = check_argument_type(a[0], &RenderTextureType, false, "lm_texture") &&
              check_argument_type(a[1], g.vector_type, false, "dest") &&
              check_argument_type(color, g.rect_type, true, "color") &&
              bracketed(record, blend_mode, draw);
  if (!done) return fail("LmRenderTexture.lmblit", line::kLmblit);
  Py_RETURN_NONE;
}

PyObject* fast_blit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  // lm_texture, dest, flip, color
  PyObject* a[4];
  int flip;
  if (!bind(kFastBlitSig, args, nargs, kwnames, a) || !convert_flip(a[2], &flip)) {
    return fail("LmRenderTexture.fast_blit", line::kFastBlit);
  }
  PyObject* color = a[3] ? a[3] : g.defaults.fast_blit;
  bool done = check_argument_type(a[0], &RenderTextureType, true, "lm_texture") &&
              check_tuple_argument(a[1], true, "dest") &&
              check_tuple_argument(color, true, "color") &&
              call_fast_blit(as_record(self), a[0], a[1], flip, color);
  if (!done) return fail("LmRenderTexture.fast_blit", line::kFastBlit);
  Py_RETURN_NONE;
}

PyObject* blit_texture(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
  // texture, dest, blend_mode, flip, color
  PyObject* a[5];
  int blend_mode, flip;
  if (!bind(kBlitTextureSig, args, nargs, kwnames, a) || !convert_blend_mode(a[2], &blend_mode) ||
      !convert_flip(a[3], &flip)) {
    return fail("LmRenderTexture.blit_texture", line::kBlitTexture);
  }
  PyObject* color = a[4] ? a[4] : g.defaults.blit_texture;
  LmRenderTexture* record = as_record(self);
  // dest is checked only once the modes are begun; they stay begun if it fails.
  auto draw = [&] {
    return check_texture_dest(a[1]) && call_fast_blit_texture(record, a[0], a[1], flip, color);
  };
  bool done = check_tuple_argument(color, true, "color") && bracketed(record, blend_mode, draw);
  if (!done) return fail("LmRenderTexture.blit_texture", line::kBlitTexture);
  Py_RETURN_NONE;
}

PyObject* fast_blit_texture(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  // texture, dest, flip, color
  PyObject* a[4];
  int flip;
  if (!bind(kFastBlitTextureSig, args, nargs, kwnames, a) || !convert_flip(a[2], &flip)) {
    return fail("LmRenderTexture.fast_blit_texture", line::kFastBlitTexture);
  }
  PyObject* color = a[3] ? a[3] : g.defaults.fast_blit_texture;
  bool done = check_tuple_argument(color, true, "color") && check_texture_dest(a[1]) &&
              call_fast_blit_texture(as_record(self), a[0], a[1], flip, color);
  if (!done) return fail("LmRenderTexture.fast_blit_texture", line::kFastBlitTexture);
  Py_RETURN_NONE;
}

PyObject* copy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* flip_arg;
  int flip;
  LmRenderTexture* source = as_record(self);
  if (!bind(kCopySig, args, nargs, kwnames, &flip_arg) || !convert_flip(flip_arg, &flip) ||
      !check_loaded(source)) {
    return fail("LmRenderTexture.copy", line::kCopy);
  }
  // The new target shares the source's size vector itself.
  Ref size = Ref::own(source->size);
  Ref target = Ref::steal(
      PyObject_CallOneArg(reinterpret_cast<PyObject*>(&RenderTextureType), size.get()));
  if (!target) return fail("LmRenderTexture.copy", line::kCopy);
  Ref entered = Ref::steal(enter(target.get(), nullptr, 0, nullptr));
  if (!entered) return fail("LmRenderTexture.copy", line::kCopy);
  if (!draw_copy(as_record(target.get()), source, flip)) {
    // The entry goes in first so that __exit__ sees it in the traceback.
    add_traceback("LmRenderTexture.copy", line::kCopy);
    if (!exit_after_failure(target.get())) add_traceback("LmRenderTexture.copy", line::kCopy);
    return nullptr;
  }
  PyObject* no_exception[] = {Py_None, Py_None, Py_None};
  Ref exited = Ref::steal(exit(target.get(), no_exception, 3, nullptr));
  if (!exited) return fail("LmRenderTexture.copy", line::kCopy);
  return target.release();
}

}  // namespace py

// ---- native level --------------------------------------------------------

namespace native {

void c_fast_clear(LmRenderTexture*, PyObject* color) {
  g.backend.c_clear_background(color);
  if (!succeeded()) add_traceback("LmRenderTexture.c_fast_clear", line::kCFastClear);
}

void c_clear(LmRenderTexture* self, PyObject* color) {
  auto fast_clear = [&] {
    self->methods->c_fast_clear(self, color);
    return succeeded();
  };
  if (!(begin_texture_mode(self) && fast_clear() && end_texture_mode())) {
    add_traceback("LmRenderTexture.c_clear", line::kCClear);
  }
}

void clear(LmRenderTexture* self, PyObject* color, int skip_dispatch) {
  if (!run_overridable(self, color, skip_dispatch, names().clear, g.own.clear,
                       &LmRenderTextureMethods::c_clear)) {
    add_traceback("LmRenderTexture.clear", line::kClear);
  }
}

void fast_clear(LmRenderTexture* self, PyObject* color, int skip_dispatch) {
  if (!run_overridable(self, color, skip_dispatch, names().fast_clear, g.own.fast_clear,
                       &LmRenderTextureMethods::c_fast_clear)) {
    add_traceback("LmRenderTexture.fast_clear", line::kFastClear);
  }
}

void fill(LmRenderTexture* self, PyObject* color, int skip_dispatch) {
  if (!run_overridable(self, color, skip_dispatch, names().fill, g.own.fill,
                       &LmRenderTextureMethods::c_clear)) {
    add_traceback("LmRenderTexture.fill", line::kFill);
  }
}

void c_fast_blit(LmRenderTexture*, LmRenderTexture* lm_texture, PyObject* dest, int flip,
                 PyObject* color) {
  if (!draw_render_texture(lm_texture, dest, flip, color)) {
    add_traceback("LmRenderTexture.c_fast_blit", line::kCFastBlit);
  }
}

void c_fast_lmblit(LmRenderTexture*, LmRenderTexture* lm_texture, ::LmVector2* dest, int,
                   int flip, ::LmRect* color) {
  g.backend.c_draw_lmtexture_lmvec(lm_texture, reinterpret_cast<VectorRecord*>(dest),
                                   reinterpret_cast<RectRecord*>(color), flip);
  if (!succeeded()) add_traceback("LmRenderTexture.c_fast_lmblit", line::kCFastLmblit);
}

void c_fast_blit_texture(LmRenderTexture*, PyObject* texture, PyObject* dest, int flip,
                         PyObject* color) {
  if (!draw_on_display(texture, dest, flip, color)) {
    add_traceback("LmRenderTexture.c_fast_blit_texture", line::kCFastBlitTexture);
  }
}

}  // namespace native

}  // namespace lmrt
