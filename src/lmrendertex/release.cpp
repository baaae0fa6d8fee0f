// Giving the GPU resource back: explicitly through kill, implicitly when the
// object is freed while still loaded and the window still exists.
#include <Python.h>

#include <utility>

#include "address_table.hpp"
#include "arguments.hpp"
#include "handle_holders.hpp"
#include "lookup.hpp"
#include "native_entries.hpp"
#include "ref.hpp"
#include "render_texture.hpp"
#include "state.hpp"

namespace lmrt {

namespace {

constexpr const char* kDeallocContext = LMRT_MODULE_NAME ".LmRenderTexture.__dealloc__";

// md.rl.unload_render_texture(self.render_texture). The handle is held for the
// call: the binding may run code that replaces the field.
bool unload(LmRenderTexture* self) {
  Ref rl = raylib_binding();
  if (!rl) return false;
  Ref handle = Ref::own(self->render_texture);
  PyObject* args[] = {rl.get(), handle.get()};
  static NamespaceCache unload_cache;
  return static_cast<bool>(
      Ref::steal(call_binding(names().unload_render_texture, unload_cache, args, 2)));
}

// A handle that another loaded target still holds stays loaded for it.
bool unload_checked(LmRenderTexture* self) {
  if (!check_loaded(self)) return false;
  if (!holders::held_elsewhere(self) && !unload(self)) return false;
  holders::set_loaded(self, 0);
  return true;
}

// A subclass's override of kill, when there is one, replaces the body.
bool run_kill(LmRenderTexture* self, int skip_dispatch) {
  Ref result;
  Dispatch dispatch = call_override(self, skip_dispatch, MethodId::kill, nullptr, result);
  if (dispatch != Dispatch::Own) return dispatch == Dispatch::Override;
  return unload_checked(self);
}

// ---- deallocation ----------------------------------------------------------

// md.rl.is_window_ready() as a truth value; -1 on error.
int window_ready() {
  Ref rl = raylib_binding();
  if (!rl) return -1;
  PyObject* args[] = {rl.get()};
  static NamespaceCache ready_cache;
  Ref ready = Ref::steal(call_binding(names().is_window_ready, ready_cache, args, 1));
  return ready ? truth(ready.get()) : -1;
}

// Unloads a still-loaded object while the window exists. False with the
// error set when any step raised.
bool release_gpu_resource(PyObject* self) {
  if (!Py_IS_TYPE(self, &RenderTextureType)) {
    // hasattr(self, "render_texture"): a subclass may hide the property. The
    // type's own getter always succeeds, so its instances skip the lookup.
    Ref render_texture;
    int present = optional_attribute(self, names().render_texture, render_texture);
    if (present <= 0) return present == 0;
  }
  if (!as_record(self)->loaded || holders::held_elsewhere(as_record(self))) return true;
  int ready = window_ready();
  if (ready <= 0) return ready == 0;
  return unload(as_record(self));
}

// Printing must not end the process, so the exception is displayed rather
// than handed to the interpreter's print routine, which exits on SystemExit.
void report_unraisable(Ref error) {
  PyErr_DisplayException(error.get());
  PyErr_Clear();
  Ref context = Ref::steal(PyUnicode_FromString(kDeallocContext));
  if (!context) PyErr_Clear();
  PyErr_SetRaisedException(error.release());
  PyErr_WriteUnraisable(context ? context.get() : Py_None);
}

// The clean-up never lets an exception out: ordinary errors vanish, anything
// else (KeyboardInterrupt, SystemExit) is printed and reported.
void guarded_release(PyObject* self) {
  Ref handled = Ref::steal(PyErr_GetHandledException());
  if (!release_gpu_resource(self)) {
    Ref error = Ref::steal(PyErr_GetRaisedException());
    if (error && !PyErr_GivenExceptionMatches(error.get(), PyExc_Exception)) {
      report_unraisable(std::move(error));
    }
  }
  PyErr_SetHandledException(handled.get());
}

// Objects whose clean-up has run. It runs once per object, whichever comes
// first: the finaliser (which the collector calls on cyclic garbage before
// clearing any of it, and deallocation calls otherwise), collector clearing,
// or deallocation itself when a subclass's own __del__ took the finaliser
// slot. The clean-up leaves the object unloaded, and a resurrected object
// keeps its entry, so its clean-up does not run again when it dies again;
// only a target loaded anew since (a second __init__, its loaded flag set)
// is cleaned up again. Never destroyed, like the holder count.
//
// The interpreter's "finalized" mark cannot stand in for this set: it is set
// when whatever occupies the finaliser slot ran, which for a subclass with
// its own __del__ is not this clean-up, and a direct call of __del__ does not
// set it at all. The record has no spare field (its layout is public). An
// entry lives from the clean-up to deallocation, which erases it on every
// path that frees the object, so a later object at the same address starts
// without one.
constinit AddressTable cleaned_up;

// Marks the object's clean-up as run. Without memory for the mark, the
// clean-up runs unmarked rather than not at all: it leaves the object
// unloaded, and a clean-up of an unloaded object gives nothing back, so a
// second run can only repeat the attribute test, never the unload. Skipping
// it would keep the resource for good.
void mark_cleaned_up(PyObject* self) {
  if (cleaned_up.find(self) == nullptr && !cleaned_up.add(self, 0)) PyErr_Clear();
}

// The clean-up ran Python code that may have kept a new reference. Such an
// object must stay whole and collectable. A heap subclass's dealloc drops the
// instance's type reference once we return, so the survivor takes another.
void keep_resurrected(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  if (!PyObject_GC_IsTracked(self)) PyObject_GC_Track(self);
  if (PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE) && type->tp_dealloc != render_texture_dealloc) {
    Py_INCREF(type);
  }
}

// Whether the clean-up has yet to run for what the object holds now.
bool clean_up_due(PyObject* self) {
  return cleaned_up.find(self) == nullptr || as_record(self)->loaded;
}

// True if the finaliser brought the object back to life.
bool finalizer_resurrected(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  return type->tp_finalize != nullptr && !PyObject_GC_IsFinalized(self) &&
         type->tp_dealloc == render_texture_dealloc && PyObject_CallFinalizerFromDealloc(self) < 0;
}

}  // namespace

// The dying object's hold on its handle ends first, so that of several
// holders dying together (one cycle of garbage) the last one gives it back.
// Afterwards the object is no longer loaded: a target that outlives this
// (resurrected, or __del__ called by hand) must not give the handle back
// again through kill or its later death, nor draw on it.
void render_texture_finalize(PyObject* self) {
  if (!clean_up_due(self)) return;
  Ref pending = Ref::steal(PyErr_GetRaisedException());
  mark_cleaned_up(self);
  LmRenderTexture* record = as_record(self);
  holders::forget(record);
  guarded_release(self);
  holders::set_loaded(record, 0);
  PyErr_SetRaisedException(pending.release());
}

void render_texture_dealloc(PyObject* self) {
  if (finalizer_resurrected(self)) return;
  PyObject_GC_UnTrack(self);
  if (clean_up_due(self)) {
    // Another finaliser took the slot (a subclass's own __del__), or the
    // target was loaded again after its clean-up, so the clean-up runs
    // here. The count is moved by hand: a decrement through Py_DECREF would
    // re-enter this function when it reached zero.
    Py_SET_REFCNT(self, Py_REFCNT(self) + 1);
    render_texture_finalize(self);
    Py_SET_REFCNT(self, Py_REFCNT(self) - 1);
    if (Py_REFCNT(self) > 0) {
      keep_resurrected(self);
      return;
    }
  }
  cleaned_up.erase(self);
  LmRenderTexture* record = as_record(self);
  holders::forget(record);
  Py_CLEAR(record->render_texture);
  Py_CLEAR(record->size);
  Py_TYPE(self)->tp_free(self);
}

namespace native {

void kill(LmRenderTexture* self, int skip_dispatch) {
  if (!run_kill(self, skip_dispatch)) add_traceback(method(MethodId::kill));
}

}  // namespace native

namespace py {

PyObject* kill(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const Method& kill = method(MethodId::kill);
  if (bind(kill, args, nargs, kwnames, nullptr)) {
    LmRenderTexture* record = as_record(self);
    record->methods->kill(record, 1);
    if (!PyErr_Occurred()) Py_RETURN_NONE;
  }
  add_traceback(kill);
  return nullptr;
}

}  // namespace py

}  // namespace lmrt
