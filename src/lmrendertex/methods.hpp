// One descriptor per Python-level method: each row of kMethods is the one
// place a method's qualified name, parameters with their defaults,
// implementation and overridability are written, and it names its traceback
// line from traceback.hpp. Binding (an omitted argument takes the row's
// default), introspection (the code object, __defaults__, the signature) and
// failure entries are all derived from it. The table is visible to every
// operation so that binding sees its parameter counts and constant defaults
// as constants.
#pragma once

#include <Python.h>

#include "method.hpp"
#include "state.hpp"
#include "traceback.hpp"

namespace lmrt {

// The Python-level entries, one per row, grouped by the file that holds them.
namespace py {
// render_texture.cpp
PyObject* from_rl_render_texture(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
// drawing.cpp
PyObject* enter(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* exit_scope(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* clear(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* fast_clear(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* fill(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* copy(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
// blits.cpp
PyObject* blit(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* lmblit(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* fast_blit(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* blit_texture(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* fast_blit_texture(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
// release.cpp
PyObject* kill(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
// geometry.cpp
PyObject* get_rect(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* get_height(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* get_width(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
// pickling.cpp
PyObject* reduce(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* setstate(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* unpickle(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
}  // namespace py

// In the order of MethodId (checked in methods.cpp).
inline constexpr Method kMethods[kMethodCount] = {
    describe({.id = MethodId::from_rl_render_texture,
              .qualname = "LmRenderTexture.from_rl_render_texture",
              .impl = py::from_rl_render_texture,
              .binding = Binding::Plain,
              .line = line::kFromRlRenderTexture,
              .params = {{&Names::rl_render_texture}}}),
    describe({.id = MethodId::blit,
              .qualname = "LmRenderTexture.blit",
              .impl = py::blit,
              .line = line::kBlit,
              .params = {{&Names::lm_texture},
                         {&Names::dest},
                         {&Names::blend_mode, Default::integer(0)},
                         {&Names::flip, Default::boolean(true)},
                         {&Names::color, Default::color_white()}}}),
    describe({.id = MethodId::lmblit,
              .qualname = "LmRenderTexture.lmblit",
              .impl = py::lmblit,
              .line = line::kLmblit,
              .params = {{&Names::lm_texture},
                         {&Names::dest},
                         {&Names::blend_mode, Default::integer(0)},
                         {&Names::flip, Default::boolean(true)},
                         {&Names::color, Default::base_color()}}}),
    describe({.id = MethodId::fast_blit,
              .qualname = "LmRenderTexture.fast_blit",
              .impl = py::fast_blit,
              .line = line::kFastBlit,
              .params = {{&Names::lm_texture},
                         {&Names::dest},
                         {&Names::flip, Default::boolean(true)},
                         {&Names::color, Default::color_white()}}}),
    describe({.id = MethodId::blit_texture,
              .qualname = "LmRenderTexture.blit_texture",
              .impl = py::blit_texture,
              .line = line::kBlitTexture,
              .params = {{&Names::texture},
                         {&Names::dest},
                         {&Names::blend_mode, Default::integer(0)},
                         {&Names::flip, Default::boolean(true)},
                         {&Names::color, Default::color_white()}},
              .texture_annotation = true}),
    describe({.id = MethodId::fast_blit_texture,
              .qualname = "LmRenderTexture.fast_blit_texture",
              .impl = py::fast_blit_texture,
              .line = line::kFastBlitTexture,
              .params = {{&Names::texture},
                         {&Names::dest},
                         {&Names::flip, Default::boolean(true)},
                         {&Names::color, Default::color_white()}},
              .texture_annotation = true}),
    describe({.id = MethodId::clear,
              .qualname = "LmRenderTexture.clear",
              .impl = py::clear,
              .line = line::kClear,
              .params = {{&Names::color}},
              .overridable = true}),
    describe({.id = MethodId::fast_clear,
              .qualname = "LmRenderTexture.fast_clear",
              .impl = py::fast_clear,
              .line = line::kFastClear,
              .params = {{&Names::color}},
              .overridable = true}),
    describe({.id = MethodId::fill,
              .qualname = "LmRenderTexture.fill",
              .impl = py::fill,
              .line = line::kFill,
              .params = {{&Names::color}},
              .overridable = true}),
    describe({.id = MethodId::kill,
              .qualname = "LmRenderTexture.kill",
              .impl = py::kill,
              .line = line::kKill,
              .overridable = true}),
    describe({.id = MethodId::get_rect,
              .qualname = "LmRenderTexture.get_rect",
              .impl = py::get_rect,
              .line = line::kGetRect,
              .overridable = true}),
    describe({.id = MethodId::get_height,
              .qualname = "LmRenderTexture.get_height",
              .impl = py::get_height,
              .line = line::kGetHeight,
              .overridable = true}),
    describe({.id = MethodId::get_width,
              .qualname = "LmRenderTexture.get_width",
              .impl = py::get_width,
              .line = line::kGetWidth,
              .overridable = true}),
    describe({.id = MethodId::copy,
              .qualname = "LmRenderTexture.copy",
              .impl = py::copy,
              .line = line::kCopy,
              .params = {{&Names::flip, Default::boolean(true)}}}),
    describe({.id = MethodId::enter,
              .qualname = "LmRenderTexture.__enter__",
              .impl = py::enter,
              .line = line::kEnter}),
    describe({.id = MethodId::exit,
              .qualname = "LmRenderTexture.__exit__",
              .impl = py::exit_scope,
              .line = line::kExit,
              .params = {{&Names::exc_type}, {&Names::exc_val}, {&Names::exc_tb}}}),
    describe({.id = MethodId::reduce,
              .qualname = "LmRenderTexture.__reduce_cython__",
              .impl = py::reduce,
              .line = line::kPickle,
              .source = Source::Pickling}),
    describe({.id = MethodId::setstate,
              .qualname = "LmRenderTexture.__setstate_cython__",
              .impl = py::setstate,
              .line = line::kPickle,
              .source = Source::Pickling,
              .params = {{&Names::pyx_state}}}),
    describe({.id = MethodId::unpickle,
              .qualname = "__pyx_unpickle_LmRenderTexture",
              .impl = py::unpickle,
              .binding = Binding::Plain,
              .line = line::kPickle,
              .source = Source::Pickling,
              .params = {{&Names::pyx_type}, {&Names::pyx_checksum}, {&Names::pyx_state}}}),
    describe({.id = MethodId::init,
              .qualname = "LmRenderTexture.__init__",
              .binding = Binding::Slot,
              .line = line::kInit,
              .params = {{&Names::size}}}),
};

inline constexpr const Method& method(MethodId id) { return kMethods[index_of(id)]; }

// The text after the last dot of the qualified name, as messages name it.
const char* short_name(const Method& method);

// Adds the method's entry to the pending exception's traceback.
void add_traceback(const Method& method);

}  // namespace lmrt
