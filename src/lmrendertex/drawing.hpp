// What the drawing operations share: the back-end's mode brackets, failure
// reporting and the conversions of optional arguments (with their rows'
// defaults).
#pragma once

#include <Python.h>

#include "arguments.hpp"
#include "error_indicator.hpp"
#include "ref.hpp"
#include "render_texture.hpp"
#include "state.hpp"

namespace lmrt {

// Back-end and native entries report failure only through the indicator.
inline bool succeeded(const ErrorIndicator& error) { return !error.set(); }

// Python-level operations reach their native level through the object's
// method table. When the table holds the type's own entry, its body runs
// directly and reports its status, so the error indicator is not tested a
// second time; a replaced entry is called through the table, with the
// indicator tested after.
template <typename Entry, typename OwnBody, typename... Args>
inline bool run_entry(Entry entry, Entry own, OwnBody&& own_body, const ErrorIndicator& error,
                      Args... entry_args) {
  if (entry == own) return own_body();
  entry(entry_args...);
  return succeeded(error);
}

inline PyObject* fail(const Method& method) {
  add_traceback(method);
  return nullptr;
}

// The target is held for the call: the back-end may run code that replaces
// the field and would otherwise free the handle it is working with.
inline bool begin_texture_mode(LmRenderTexture* self, const ErrorIndicator& error) {
  Ref target = Ref::own(self->render_texture);
  module_state.backend.begin_texture_mode(target.get(), 0);
  return succeeded(error);
}
inline bool end_texture_mode(const ErrorIndicator& error) {
  module_state.backend.end_texture_mode(0);
  return succeeded(error);
}
inline bool begin_blend_mode(int mode, const ErrorIndicator& error) {
  module_state.backend.begin_blend_mode(mode, 0);
  return succeeded(error);
}
inline bool end_blend_mode(const ErrorIndicator& error) {
  module_state.backend.end_blend_mode(0);
  return succeeded(error);
}

// Conversions of optional arguments. An omitted one (null) takes the constant
// its parameter's row gives, converted as that value would be if passed.
inline bool convert_blend_mode(PyObject* value, const Param& param, int* out) {
  if (value == nullptr) {
    *out = param.fallback.value;
    return true;
  }
  return as_int32(value, out);
}
inline bool convert_flip(PyObject* value, const Param& param, int* out) {
  *out = value == nullptr ? param.fallback.value != 0 : truth(value);
  return *out >= 0;
}

}  // namespace lmrt
