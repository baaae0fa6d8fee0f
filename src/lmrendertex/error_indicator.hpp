// The running thread's error indicator, tested without a call into the
// interpreter. libpython is a shared library here, so every PyErr_Occurred()
// finds the thread state through thread-local storage (__tls_get_addr); an
// operation that tests the indicator after each back-end step reads the
// thread state once instead and then tests a field. The thread state cannot
// change within one call: it belongs to the thread running the call.
#pragma once

#include <Python.h>

namespace lmrt {

// The field is in CPython 3.12's layout of the thread state, which is the
// layout of the headers the module is built against (its file name carries
// that version, so no other interpreter loads it). A build against any
// other version tests through the public call.
#if PY_VERSION_HEX >= 0x030C0000 && PY_VERSION_HEX < 0x030D0000
#define LMRT_DIRECT_ERROR_TEST 1
#else
#define LMRT_DIRECT_ERROR_TEST 0
#endif

class ErrorIndicator {
 public:
#if LMRT_DIRECT_ERROR_TEST
  ErrorIndicator() : thread_(PyThreadState_Get()) {}
  bool set() const { return thread_->current_exception != nullptr; }

 private:
  PyThreadState* thread_;
#else
  bool set() const { return PyErr_Occurred() != nullptr; }
#endif
};

}  // namespace lmrt
