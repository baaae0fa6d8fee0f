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

// A parameter's default, written in its method's row: a constant, or a colour
// read once at import. Introspection (__defaults__, the signature) shows it
// and an omitted argument takes it, both from the row.
struct Default {
  enum class Kind : unsigned char {
    Required,   // no default
    Int,        // `value`
    Bool,       // `value`, 0 or 1
    White,      // Color.White as read at import
    BaseColor,  // the module's hidden LmRect(255, 255, 255, 0)
  };
  Kind kind = Kind::Required;
  int value = 0;

  static constexpr Default integer(int value) { return {Kind::Int, value}; }
  static constexpr Default boolean(bool value) { return {Kind::Bool, value ? 1 : 0}; }
  static constexpr Default color_white() { return {Kind::White}; }
  static constexpr Default base_color() { return {Kind::BaseColor}; }

  constexpr bool given() const { return kind != Kind::Required; }
  constexpr bool constant() const { return kind == Kind::Int || kind == Kind::Bool; }
  // An object made at import and kept for the omitted argument (see
  // State::default_colors).
  constexpr bool stored() const { return kind == Kind::White || kind == Kind::BaseColor; }
};

// A parameter: its name in the interned table, and its default.
struct Param {
  PyObject* Names::* name = nullptr;
  Default fallback;
};

// The source a method's entries name: the module's own, or the generated
// pickling support.
enum class Source : unsigned char { Module, Pickling };

// One method. Its name is the last part of the qualified name; all parameters
// are positional-or-keyword, and those with a default follow the required
// ones. Names point into the interned table, which exists only after import
// has created it.
struct Method {
  MethodId id;
  const char* qualname;  // the type name, a dot and the method name (or a bare function name)
  MethodImpl impl;
  Binding binding;
  int line;  // of failures, of the code object, and of a failed binding (a line::k* constant)
  Source source;
  int count;
  int required;
  Param params[kMaxParams];
  bool texture_annotation;  // {"texture": "object"}
  bool overridable;         // a Python subclass's override runs in its place
};

// Fills in what follows from a row: the parameter count and how many are
// required.
constexpr Method describe(Method row) {
  row.count = 0;
  while (row.count < kMaxParams && row.params[row.count].name != nullptr) ++row.count;
  row.required = 0;
  while (row.required < row.count && !row.params[row.required].fallback.given()) ++row.required;
  return row;
}

}  // namespace lmrt
