// Blits: drawing a render texture or a plain texture into a target. Five
// Python methods share one wrapper, driven by a row that says how each checks
// its arguments, whether it brackets the draw in blend and texture mode, and
// how it draws. They run many times per frame: the exact type pays no
// override lookup and nothing is allocated that the back-end is not handed.
#include "drawing.hpp"
#include "lookup.hpp"
#include "native_entries.hpp"
#include "traceback.hpp"

namespace lmrt {

namespace {

// ---- drawing a render texture ----------------------------------------------

void raise_invalid_dest(PyObject* dest) {
  PyErr_Format(PyExc_ValueError,
               "Invalid dest argument - %S, must be (x, y) or (x, y, width, height)", dest);
}

// The colour texture of the source's handle; the handle is held while its
// attribute is read.
Ref source_texture(LmRenderTexture* source) {
  static GetterCache cache;
  Ref handle = Ref::own(source->render_texture);
  return Ref::steal(get_attribute(handle.get(), names().texture, cache));
}

bool draw_at_position(LmRenderTexture* source, PyObject* dest, int flip, PyObject* color,
                      const ErrorIndicator& error) {
  Ref texture = source_texture(source);
  if (!texture) return false;
  module_state.backend.c_draw_texture_vec(texture.get(), dest, color, flip);
  return succeeded(error);
}

// The source rectangle (0, 0, width, height) handed to the back-end. Making
// and freeing a 4-tuple was the larger part of a rect draw's own work, so one
// tuple is kept between draws and filled anew, as the interpreter's own
// iterators (enumerate, zip) reuse their result tuples: only while nothing
// but this code refers to it, so that no one can see it change. A draw run
// from inside the back-end's call finds no spare and makes its own. Between
// draws the spare holds None where the sizes were, keeping nothing alive.
class SourceRect {
 public:
  // Takes the spare or makes a tuple; null with the error set.
  static Ref fill(PyObject* width, PyObject* height) {
    PyObject* rect = std::exchange(spare_, nullptr);
    if (rect == nullptr) {
      rect = PyTuple_New(4);
      if (rect == nullptr) return {};
      PyObject* zero = PyLong_FromLong(0);  // a cached small int: cannot fail
      PyTuple_SET_ITEM(rect, 0, zero);
      PyTuple_SET_ITEM(rect, 1, Py_NewRef(zero));
      PyTuple_SET_ITEM(rect, 2, Py_NewRef(Py_None));
      PyTuple_SET_ITEM(rect, 3, Py_NewRef(Py_None));
    } else if (!PyObject_GC_IsTracked(rect)) {
      PyObject_GC_Track(rect);  // the collector untracks a tuple of atoms
    }
    put(rect, 2, width);
    put(rect, 3, height);
    return Ref::steal(rect);
  }

  // Keeps `rect` as the spare unless someone else kept it too.
  static void give_back(Ref rect) {
    if (Py_REFCNT(rect.get()) != 1) return;
    put(rect.get(), 2, Py_None);  // releasing the sizes may run code, even a draw
    put(rect.get(), 3, Py_None);
    if (spare_ == nullptr && Py_REFCNT(rect.get()) == 1) spare_ = rect.release();
  }

 private:
  static void put(PyObject* rect, Py_ssize_t index, PyObject* item) {
    PyObject* old = PyTuple_GET_ITEM(rect, index);
    PyTuple_SET_ITEM(rect, index, Py_NewRef(item));
    Py_DECREF(old);
  }

  static inline PyObject* spare_ = nullptr;
};

// The whole source into the dest rectangle; a negative source height mirrors.
bool draw_into_rect(LmRenderTexture* source, PyObject* dest, PyObject* height, PyObject* color,
                    const ErrorIndicator& error) {
  Ref texture = source_texture(source);
  if (!texture) return false;
  Ref width = Ref::steal(read_width(as_object(source)));
  if (!width) return false;
  Ref source_rect = SourceRect::fill(width.get(), height);
  if (!source_rect) return false;
  module_state.backend.c_draw_texture_rec(texture.get(), source_rect.get(), dest, color);
  SourceRect::give_back(std::move(source_rect));
  return succeeded(error);
}

// -height as Python computes it; a float's negation is made directly.
Ref negated(PyObject* height) {
  if (PyFloat_CheckExact(height)) return Ref::steal(PyFloat_FromDouble(-PyFloat_AS_DOUBLE(height)));
  return Ref::steal(PyNumber_Negative(height));
}

bool draw_render_texture(LmRenderTexture* source, PyObject* dest, int flip, PyObject* color,
                         const ErrorIndicator& error) {
  // The height comes first whatever dest holds, so a None source fails here
  // before its record is touched.
  Ref height = Ref::steal(read_height(as_object(source)));
  if (!height) return false;
  // A position draw does not use the height; negating a plain number for it
  // has no effect anyone can see, so it is skipped.
  bool negation_unobservable =
      PyTuple_CheckExact(dest) && PyTuple_GET_SIZE(dest) == 2 &&
      (PyFloat_CheckExact(height.get()) || PyLong_CheckExact(height.get()));
  if (flip && !negation_unobservable) {
    height = negated(height.get());
    if (!height) return false;
  }
  // None has no len(); native callers are trusted with the tuple type but a
  // wrong one still fails cleanly.
  Py_ssize_t length = PyTuple_CheckExact(dest) ? PyTuple_GET_SIZE(dest) : PyObject_Length(dest);
  if (length < 0) return false;
  switch (length) {
    case 2:
      return draw_at_position(source, dest, flip, color, error);
    case 4:
      return draw_into_rect(source, dest, height.get(), color, error);
    default:
      raise_invalid_dest(dest);
      return false;
  }
}

// lumo_state.window.display.fast_blit_pro(texture, dest, flip, color), the
// chain read afresh so a rebound lumo_state or window takes effect at once.
bool draw_on_display(PyObject* texture, PyObject* dest, int flip, PyObject* color) {
  static NamespaceCache state_cache;
  Ref state = Ref::steal(lookup_global(names().lumo_state, state_cache));
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

// The bodies of the native draw entries: true on success; a failure adds
// the entry's traceback line.

bool c_fast_blit_body(LmRenderTexture* lm_texture, PyObject* dest, int flip, PyObject* color,
                      const ErrorIndicator& error) {
  if (draw_render_texture(lm_texture, dest, flip, color, error)) return true;
  add_traceback("LmRenderTexture.c_fast_blit", line::kCFastBlit);
  return false;
}

bool c_fast_lmblit_body(LmRenderTexture* lm_texture, ::LmVector2* dest, int flip,
                        ::LmRect* color, const ErrorIndicator& error) {
  module_state.backend.c_draw_lmtexture_lmvec(lm_texture, reinterpret_cast<VectorRecord*>(dest),
                                              reinterpret_cast<RectRecord*>(color), flip);
  if (succeeded(error)) return true;
  add_traceback("LmRenderTexture.c_fast_lmblit", line::kCFastLmblit);
  return false;
}

bool c_fast_blit_texture_body(PyObject* texture, PyObject* dest, int flip, PyObject* color) {
  if (draw_on_display(texture, dest, flip, color)) return true;
  add_traceback("LmRenderTexture.c_fast_blit_texture", line::kCFastBlitTexture);
  return false;
}

// ---- the Python-level wrapper --------------------------------------------------

// A blit's arguments after binding, conversion and the colour default, and
// the thread state read once for the call's tests of the error indicator.
struct BlitCall {
  ErrorIndicator error;
  LmRenderTexture* self;
  PyObject* source;  // lm_texture or texture
  PyObject* dest;
  int blend_mode;  // 0 for the blits without the parameter
  int flip;
  PyObject* color;
};

// The declared type an argument must have; None passes where allowed.
enum class Expect : unsigned char { Unchecked, RenderTexture, Tuple, Vector, Rect };

struct ArgumentCheck {
  Expect expect;
  bool none_allowed;
};

// The wrapper is instantiated per row and these are inlined into it, so each
// blit's checks and binding compile to what a hand-written one would be.
#define LMRT_INLINE [[gnu::always_inline]] inline

LMRT_INLINE PyTypeObject* expected_type(Expect expect) {
  switch (expect) {
    case Expect::RenderTexture:
      return &RenderTextureType;
    case Expect::Vector:
      return module_state.vector_type;
    case Expect::Rect:
      return module_state.rect_type;
    default:
      return &PyTuple_Type;
  }
}

// A parameter declared as `tuple` takes exactly the built-in tuple; one
// declared as an extension type takes subclasses too.
LMRT_INLINE bool check(const ArgumentCheck& rule, PyObject* value, PyObject* Names::* param) {
  if (rule.expect == Expect::Unchecked) return true;
  PyTypeObject* type = expected_type(rule.expect);
  bool accepted = rule.expect == Expect::Tuple ? PyTuple_CheckExact(value)
                                               : PyObject_TypeCheck(value, type);
  if (accepted || (rule.none_allowed && value == Py_None)) return true;
  if (const char* name = PyUnicode_AsUTF8(names().*param)) raise_incorrect_type(name, type, value);
  return false;
}

using BlitDraw = bool (*)(const BlitCall& call);

struct Blit {
  MethodId id;
  ArgumentCheck source, dest, color;  // checked in this order, before the draw
  bool bracketed;                     // in blend mode, then texture mode on self
  BlitDraw draw;
};

// blend mode outermost, then texture mode on self, then the draw. Nothing is
// ended when a later step fails: callers rely on no rollback.
LMRT_INLINE bool draw_bracketed(const Blit& blit, const BlitCall& call) {
  return check_loaded(call.self) && begin_blend_mode(call.blend_mode, call.error) &&
         begin_texture_mode(call.self, call.error) && blit.draw(call) &&
         end_texture_mode(call.error) && end_blend_mode(call.error);
}

// Binds the row's parameters, (source, dest, [blend_mode,] flip, color), into
// named fields; an omitted one takes the row's default.
LMRT_INLINE bool bind_blit(const Blit& blit, PyObject* self, PyObject* const* args,
                           Py_ssize_t nargs, PyObject* kwnames, BlitCall& call) {
  const Method& spec = method(blit.id);
  PyObject* bound[kMaxParams];
  if (!bind(spec, args, nargs, kwnames, bound)) return false;
  const int flip = spec.count - 2, color = spec.count - 1;
  call.self = as_record(self);
  call.source = bound[0];
  call.dest = bound[1];
  call.color = bound[color] ? bound[color] : module_state.default_colors[index_of(blit.id)];
  call.blend_mode = 0;
  bool has_blend_mode = spec.params[2].name == &Names::blend_mode;
  return (!has_blend_mode || convert_blend_mode(bound[2], spec.params[2], &call.blend_mode)) &&
         convert_flip(bound[flip], spec.params[flip], &call.flip);
}

template <const Blit& blit>
PyObject* call_blit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const Method& spec = method(blit.id);
  BlitCall call;
  bool done = bind_blit(blit, self, args, nargs, kwnames, call) &&
              check(blit.source, call.source, spec.params[0].name) &&
              check(blit.dest, call.dest, spec.params[1].name) &&
              check(blit.color, call.color, spec.params[spec.count - 1].name) &&
              (blit.bracketed ? draw_bracketed(blit, call) : blit.draw(call));
  if (!done) return fail(spec);
  Py_RETURN_NONE;
}

// The draws go through the target's method table (see run_entry).
LMRT_INLINE bool draw_render_texture_entry(const BlitCall& call) {
  auto* source = as_record(call.source);
  return run_entry(
      call.self->methods->c_fast_blit, native::c_fast_blit,
      [&] { return c_fast_blit_body(source, call.dest, call.flip, call.color, call.error); },
      call.error, call.self, source, call.dest, call.flip, call.color);
}

LMRT_INLINE bool draw_lmtexture_entry(const BlitCall& call) {
  auto* source = as_record(call.source);
  auto* dest = reinterpret_cast<::LmVector2*>(call.dest);
  auto* color = reinterpret_cast<::LmRect*>(call.color);
  return run_entry(
      call.self->methods->c_fast_lmblit, native::c_fast_lmblit,
      [&] { return c_fast_lmblit_body(source, dest, call.flip, color, call.error); }, call.error,
      call.self, source, dest, call.blend_mode, call.flip, color);
}

// Only a tuple or None may reach the display as dest; in the bracketed blit
// the modes are begun by then, and stay begun if it fails.
LMRT_INLINE bool draw_texture_entry(const BlitCall& call) {
  if (!PyTuple_CheckExact(call.dest) && call.dest != Py_None) {
    raise_unexpected_type("tuple", call.dest);
    return false;
  }
  return run_entry(
      call.self->methods->c_fast_blit_texture, native::c_fast_blit_texture,
      [&] { return c_fast_blit_texture_body(call.source, call.dest, call.flip, call.color); },
      call.error, call.self, call.source, call.dest, call.flip, call.color);
}

#undef LMRT_INLINE

constexpr ArgumentCheck kUnchecked{Expect::Unchecked, true};

constexpr Blit kBlit{MethodId::blit, {Expect::RenderTexture, false}, {Expect::Tuple, false},
                     {Expect::Tuple, true}, true, draw_render_texture_entry};
constexpr Blit kLmblit{MethodId::lmblit, {Expect::RenderTexture, false}, {Expect::Vector, false},
                       {Expect::Rect, true}, true, draw_lmtexture_entry};
constexpr Blit kFastBlit{MethodId::fast_blit, {Expect::RenderTexture, true},
                         {Expect::Tuple, true}, {Expect::Tuple, true}, false,
                         draw_render_texture_entry};
constexpr Blit kBlitTexture{MethodId::blit_texture, kUnchecked, kUnchecked,
                            {Expect::Tuple, true}, true, draw_texture_entry};
constexpr Blit kFastBlitTexture{MethodId::fast_blit_texture, kUnchecked, kUnchecked,
                                {Expect::Tuple, true}, false, draw_texture_entry};

}  // namespace

namespace py {

PyObject* blit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_blit<kBlit>(self, args, nargs, kwnames);
}

PyObject* lmblit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_blit<kLmblit>(self, args, nargs, kwnames);
}

PyObject* fast_blit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_blit<kFastBlit>(self, args, nargs, kwnames);
}

PyObject* blit_texture(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
  return call_blit<kBlitTexture>(self, args, nargs, kwnames);
}

PyObject* fast_blit_texture(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  return call_blit<kFastBlitTexture>(self, args, nargs, kwnames);
}

}  // namespace py

namespace native {

void c_fast_blit(LmRenderTexture*, LmRenderTexture* lm_texture, PyObject* dest, int flip,
                 PyObject* color) {
  c_fast_blit_body(lm_texture, dest, flip, color, ErrorIndicator());
}

void c_fast_lmblit(LmRenderTexture*, LmRenderTexture* lm_texture, ::LmVector2* dest, int,
                   int flip, ::LmRect* color) {
  c_fast_lmblit_body(lm_texture, dest, flip, color, ErrorIndicator());
}

void c_fast_blit_texture(LmRenderTexture*, PyObject* texture, PyObject* dest, int flip,
                         PyObject* color) {
  c_fast_blit_texture_body(texture, dest, flip, color);
}

}  // namespace native

}  // namespace lmrt
