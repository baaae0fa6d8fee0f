// The shape of a method descriptor (one row of kMethods, in methods.hpp) and
// the identifiers of the rows.
#pragma once

#include <Python.h>

#include <cstddef>

namespace lmrt {

struct Names;  // state.hpp

// Rows of kMethods, in binding order: the static method first, then the
// methods bound by the ordinary loop, then the pickling operations (bound
// before their hooks are wired) and the module-level unpickling function.
// __init__ is described here too but is reached through the type's slot.
enum class MethodId : unsigned char {
  from_rl_render_texture,
  blit,
  lmblit,
  fast_blit,
  blit_texture,
  fast_blit_texture,
  clear,
  fast_clear,
  fill,
  kill,
  get_rect,
  get_height,
  get_width,
  copy,
  enter,
  exit,
  reduce,
  setstate,
  unpickle,
  init,
  count
};

inline constexpr std::size_t kMethodCount = static_cast<std::size_t>(MethodId::count);
inline constexpr std::size_t index_of(MethodId id) { return static_cast<std::size_t>(id); }

inline constexpr int kMaxParams = 5;

// Python-level entry: self is already known to be an LmRenderTexture (or is
// null for static and module-level functions).
using MethodImpl = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames);

enum class Binding : unsigned char {
  Method,  // first argument is the LmRenderTexture
  Plain,   // static and module-level functions
  Slot,    // reached through a type slot, never bound as a function object
};

// What the defaults tuple holds; the colour of the Color kinds is also kept as
// the stored default that omitted arguments use.
enum class Defaults : unsigned char {
  None,
  Flip,            // (True,)
  FlipWhite,       // (True, Color.White)
  BlendFlipWhite,  // (0, True, Color.White)
  BlendFlipBase,   // (0, True, lm_render_tex_base_color)
};

inline constexpr int default_count(Defaults defaults) {
  switch (defaults) {
    case Defaults::None:
      return 0;
    case Defaults::Flip:
      return 1;
    case Defaults::FlipWhite:
      return 2;
    case Defaults::BlendFlipWhite:
    case Defaults::BlendFlipBase:
      return 3;
  }
  return 0;
}

inline constexpr bool stores_default_color(Defaults defaults) {
  return default_count(defaults) >= 2;
}

// The source a method's entries name: the module's own, or the generated
// pickling support.
enum class Source : unsigned char { Module, Pickling };

// One method. Its name is the last part of the qualified name; all parameters
// are positional-or-keyword, and the last default_count(defaults) have
// defaults. Names point into the interned table, which exists only after
// import has created it.
struct Method {
  MethodId id;
  const char* qualname;  // the type name, a dot and the method name (or a bare function name)
  MethodImpl impl;
  Binding binding;
  int line;  // of failures, of the code object, and of a failed binding
  Source source;
  int count;
  int required;
  PyObject* Names::* params[kMaxParams];
  Defaults defaults;
  bool texture_annotation;  // {"texture": "object"}
  bool overridable;         // a Python subclass's override runs in its place
};

// Fills in what follows from a row: the parameter count and how many are
// required.
constexpr Method describe(Method row) {
  row.count = 0;
  while (row.count < kMaxParams && row.params[row.count] != nullptr) ++row.count;
  row.required = row.count - default_count(row.defaults);
  return row;
}

}  // namespace lmrt
