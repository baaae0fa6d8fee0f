// Keeps the module loadable with the C++ runtime of older distributions. The
// standard library's allocators name one helper that only recent runtimes
// export, std::__throw_bad_array_new_length; the link redirects it here
// (see CMakeLists.txt). It is reached only for an impossible array size, and
// throws the base class, which every handler of std::bad_alloc catches alike.
#include <new>

// Kept through link-time optimisation, which cannot see the redirected call.
extern "C" [[noreturn, gnu::used, gnu::externally_visible]] void
__wrap__ZSt28__throw_bad_array_new_lengthv() {
  throw std::bad_alloc();
}
