// Which loaded targets hold each render-texture handle. Copies and adopted
// handles share one handle object among several targets, and only the last
// loaded holder to go may give its GPU resource back: a second unload would
// free GL objects whose ids a newer target may already have been given.
//
// Handles are counted by identity (the object's address) without owning a
// reference. A counted handle cannot die while counted, because every record
// that is counted under it owns it: each change of a record's handle or
// loaded flag goes through the functions below, and a dying record is
// forgotten before it releases its handle. None holds no resource and is
// never counted.
//
// Taking a record out of the count never needs memory. Counting it anew may:
// an operation that can do so first takes a Room, which fails as MemoryError
// before the operation has changed anything, so the count never disagrees
// with the records.
#pragma once

#include <Python.h>

#include "lumo_ui/fast/lmrendertex/lm_render_tex.h"

namespace lmrt::holders {

// Room for counting one record under `handle` once it is `loaded`, held
// until the change is made; needs no memory when that would count nothing.
// False, with MemoryError set, when the memory cannot be had.
class Room {
 public:
  Room(int loaded, PyObject* handle) noexcept;
  ~Room();
  Room(const Room&) = delete;
  Room& operator=(const Room&) = delete;

  explicit operator bool() const noexcept { return made_; }

 private:
  bool reserved_ = false;
  bool made_ = true;
};

// Stores `handle` (borrowed) in the record's render_texture field. The count
// is brought up to date before the old value is released, since that release
// may run arbitrary code, free the old handle and reuse its address.
void replace_handle(LmRenderTexture* self, PyObject* handle) noexcept;

// Stores the record's loaded flag (0 or 1) and brings the count up to date.
void set_loaded(LmRenderTexture* self, int loaded) noexcept;

// The flag, then the handle, as the two calls above would, counting once.
void set_loaded_and_handle(LmRenderTexture* self, int loaded, PyObject* handle) noexcept;

// The record no longer holds anything, whatever its fields say: it is dying,
// or its death's clean-up has run.
void forget(LmRenderTexture* self) noexcept;

// True when another loaded target holds this record's handle, so this one
// must not give it back.
bool held_elsewhere(const LmRenderTexture* self) noexcept;

}  // namespace lmrt::holders
