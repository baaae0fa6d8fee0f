// The holder count: for each handle, the loaded records counted under it.
#include "handle_holders.hpp"

#include <unordered_map>

namespace lmrt::holders {
namespace {

struct Table {
  // Record -> the handle it is counted under. A record is counted at most
  // once, so a later change always knows what to take back.
  std::unordered_map<const LmRenderTexture*, PyObject*> counted_under;
  // Handle -> how many records are counted under it; no entry at zero, so
  // the table never outgrows the live holders.
  std::unordered_map<const PyObject*, Py_ssize_t> holders;
};

// Never destroyed: records may still die after static destructors have run.
Table& table() {
  static Table* instance = new Table;
  return *instance;
}

PyObject* wanted_handle(const LmRenderTexture* self) {
  PyObject* handle = self->render_texture;
  return self->loaded && handle != nullptr && handle != Py_None ? handle : nullptr;
}

void take_back(Table& t, PyObject* handle) {
  auto entry = t.holders.find(handle);
  if (--entry->second == 0) t.holders.erase(entry);
}

void count(LmRenderTexture* self, PyObject* wanted) {
  Table& t = table();
  auto entry = t.counted_under.find(self);
  PyObject* current = entry == t.counted_under.end() ? nullptr : entry->second;
  if (wanted == current) return;
  if (current != nullptr) take_back(t, current);
  if (wanted == nullptr) {
    t.counted_under.erase(entry);
    return;
  }
  ++t.holders[wanted];
  if (current != nullptr) {
    entry->second = wanted;
  } else {
    t.counted_under.emplace(self, wanted);
  }
}

}  // namespace

void replace_handle(LmRenderTexture* self, PyObject* handle) noexcept {
  PyObject* old = self->render_texture;
  self->render_texture = Py_NewRef(handle);
  count(self, wanted_handle(self));
  Py_XDECREF(old);
}

void set_loaded(LmRenderTexture* self, int loaded) noexcept {
  self->loaded = loaded;
  count(self, wanted_handle(self));
}

void forget(LmRenderTexture* self) noexcept { count(self, nullptr); }

bool held_elsewhere(const LmRenderTexture* self) noexcept {
  PyObject* handle = self->render_texture;
  if (handle == nullptr || handle == Py_None) return false;
  const Table& t = table();
  auto entry = t.holders.find(handle);
  if (entry == t.holders.end()) return false;
  auto own = t.counted_under.find(self);
  bool counted_here = own != t.counted_under.end() && own->second == handle;
  return entry->second > (counted_here ? 1 : 0);
}

}  // namespace lmrt::holders
