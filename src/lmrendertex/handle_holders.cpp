// The holder count: for each handle, the loaded records counted under it.
#include "handle_holders.hpp"

#include "address_table.hpp"

namespace lmrt::holders {
namespace {

// Plain statics with no destructor: records may still die after static
// destructors have run.
//
// Record -> the handle it is counted under. A record is counted at most
// once, so a later change always knows what to take back.
constinit AddressTable counted_under;
// Handle -> how many records are counted under it; no entry at zero, so
// the table never outgrows the live holders.
constinit AddressTable holders;

PyObject* counted(int loaded, PyObject* handle) {
  return loaded && handle != nullptr && handle != Py_None ? handle : nullptr;
}

PyObject* handle_of(const AddressTable::Entry* entry) {
  return entry == nullptr ? nullptr : reinterpret_cast<PyObject*>(entry->value);
}

void take_back(PyObject* handle) {
  AddressTable::Entry* entry = holders.find(handle);
  if (--entry->value == 0) holders.erase(entry);
}

// Moves the record from `entry` (what it is counted under, or null) to
// `wanted`. Inserts only into the room of the Room the calling operation
// holds: at most one entry in each table, after taking the old one back.
[[gnu::noinline]] void recount(LmRenderTexture* self, AddressTable::Entry* entry,
                               PyObject* wanted) {
  PyObject* current = handle_of(entry);
  if (current != nullptr) take_back(current);
  if (wanted == nullptr) {
    counted_under.erase(entry);
    return;
  }
  if (AddressTable::Entry* held = holders.find(wanted)) {
    ++held->value;
  } else {
    holders.insert(wanted, 1);
  }
  auto value = reinterpret_cast<std::uintptr_t>(wanted);
  if (entry != nullptr) {
    entry->value = value;
  } else {
    counted_under.insert(self, value);
  }
}

// Most calls change nothing (a flag set to what it was, a record that was
// never counted): that case stays a lookup where it is called.
inline void count(LmRenderTexture* self, PyObject* wanted) {
  AddressTable::Entry* entry = counted_under.find(self);
  if (wanted != handle_of(entry)) recount(self, entry, wanted);
}

}  // namespace

// A room is reserved whenever the result would be counted, even when the
// record already is: code run before the change (the release of an old
// field) may take it out of the count.
Room::Room(int loaded, PyObject* handle) noexcept {
  if (counted(loaded, handle) == nullptr) return;
  if (!counted_under.reserve()) {
    made_ = false;
    return;
  }
  if (!holders.reserve()) {
    counted_under.release();
    made_ = false;
    return;
  }
  reserved_ = true;
}

Room::~Room() {
  if (!reserved_) return;
  holders.release();
  counted_under.release();
}

void replace_handle(LmRenderTexture* self, PyObject* handle) noexcept {
  set_loaded_and_handle(self, self->loaded, handle);
}

void set_loaded(LmRenderTexture* self, int loaded) noexcept {
  self->loaded = loaded;
  count(self, counted(loaded, self->render_texture));
}

void set_loaded_and_handle(LmRenderTexture* self, int loaded, PyObject* handle) noexcept {
  PyObject* old = self->render_texture;
  self->loaded = loaded;
  self->render_texture = Py_NewRef(handle);
  count(self, counted(loaded, handle));
  Py_XDECREF(old);
}

void forget(LmRenderTexture* self) noexcept { count(self, nullptr); }

bool held_elsewhere(const LmRenderTexture* self) noexcept {
  PyObject* handle = self->render_texture;
  if (handle == nullptr || handle == Py_None) return false;
  const AddressTable::Entry* entry = holders.find(handle);
  if (entry == nullptr) return false;
  bool counted_here = handle_of(counted_under.find(self)) == handle;
  return entry->value > (counted_here ? 1u : 0u);
}

}  // namespace lmrt::holders
