// Owned references as a type: every early return releases what it holds.
#pragma once

#include <Python.h>

#include <utility>

namespace lmrt {

// Owns one strong reference (or nothing). The raw pointer leaves only through
// get() (borrowed) or release() (ownership handed over), never implicitly, so a
// reference cannot be dropped or leaked by accident.
class Ref {
 public:
  Ref() noexcept = default;
  ~Ref() { Py_XDECREF(ptr_); }

  // Takes over a reference the caller already owns (a "new reference" result).
  static Ref steal(PyObject* p) noexcept { return Ref(p); }
  // Adds a reference to a borrowed pointer.
  static Ref own(PyObject* p) noexcept {
    Py_XINCREF(p);
    return Ref(p);
  }

  Ref(Ref&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    Ref tmp(std::move(other));
    std::swap(ptr_, tmp.ptr_);
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;

  PyObject* get() const noexcept { return ptr_; }
  PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

 private:
  explicit Ref(PyObject* p) noexcept : ptr_(p) {}
  PyObject* ptr_ = nullptr;
};

// A new tuple holding the given items (each gets a reference); empty with
// MemoryError set when it cannot be made. PyTuple_Pack does the same through
// a variable argument list, which costs more than the tuple itself.
template <typename... Items>
Ref new_tuple(Items*... items) {
  PyObject* tuple = PyTuple_New(sizeof...(items));
  if (tuple == nullptr) return Ref();
  Py_ssize_t index = 0;
  (PyTuple_SET_ITEM(tuple, index++, Py_NewRef(items)), ...);
  return Ref::steal(tuple);
}

// Replaces an owned field, releasing the old value only after the new one is in
// place (the release may run arbitrary code that reads the field).
inline void replace_field(PyObject*& field, PyObject* new_value) {
  PyObject* old = field;
  Py_INCREF(new_value);
  field = new_value;
  Py_XDECREF(old);
}

}  // namespace lmrt
