#include "traceback.hpp"

#include <Python.h>
#include <frameobject.h>

#include "ref.hpp"
#include "state.hpp"

namespace lmrt {

void add_traceback_entry(const char* full_name, int line, const char* file) {
  // Building the entry must not see the exception it decorates.
  PyObject* exc = PyErr_GetRaisedException();
  Ref code = Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(file, full_name, line)));
  Ref globals = module_state.dict ? Ref::own(module_state.dict) : Ref::steal(PyDict_New());
  Ref frame;
  if (code && globals) {
    frame = Ref::steal(reinterpret_cast<PyObject*>(PyFrame_New(
        PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code.get()), globals.get(), nullptr)));
  }
  // A failure to build the entry is dropped: the original error matters more.
  PyErr_Clear();
  PyErr_SetRaisedException(exc);
  if (frame) PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame.get()));
}

void add_traceback(const char* function, int line, const char* file) {
  char full_name[256];
  PyOS_snprintf(full_name, sizeof full_name, "%s.%s", kModuleName, function);
  add_traceback_entry(full_name, line, file);
}

}  // namespace lmrt
