// What is derived from a descriptor at run time, and the check that the
// rows follow their identifiers.
#include "methods.hpp"

#include <cstring>

#include "traceback.hpp"

namespace lmrt {

// The rows are in the order of MethodId.
constexpr bool rows_in_order() {
  for (std::size_t i = 0; i < kMethodCount; ++i) {
    if (index_of(kMethods[i].id) != i) return false;
  }
  return true;
}
static_assert(rows_in_order(), "kMethods rows follow MethodId");

const char* short_name(const Method& method) {
  const char* dot = std::strrchr(method.qualname, '.');
  return dot ? dot + 1 : method.qualname;
}

void add_traceback(const Method& method) {
  add_traceback(method.qualname, method.line,
                method.source == Source::Pickling ? kStringSource : kSourceFile);
}

}  // namespace lmrt
