// What is derived from a descriptor at run time, and the checks of the rows:
// they follow their identifiers, and their defaults are ones binding can
// take.
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

// The parameters with a default follow the required ones (describe() counts
// the required ones up to the first default).
constexpr bool defaults_trail() {
  for (const Method& row : kMethods) {
    for (int i = row.required; i < row.count; ++i) {
      if (!row.params[i].fallback.given()) return false;
    }
  }
  return true;
}
static_assert(defaults_trail(), "parameters with a default come last");

// blend_mode and flip are converted to C ints, so an omitted one takes a
// constant; the state keeps one object per row for the defaults read at
// import, which only a colour has.
constexpr bool defaults_fit_their_conversions() {
  for (const Method& row : kMethods) {
    for (int i = row.required; i < row.count; ++i) {
      const Param& param = row.params[i];
      bool is_color = param.name == &Names::color;
      if (is_color ? !param.fallback.stored() : !param.fallback.constant()) return false;
    }
  }
  return true;
}
static_assert(defaults_fit_their_conversions(),
              "defaults: constants for blend_mode and flip, a colour read at import for color");

const char* short_name(const Method& method) {
  const char* dot = std::strrchr(method.qualname, '.');
  return dot ? dot + 1 : method.qualname;
}

void add_traceback(const Method& method) {
  add_traceback(method.qualname, method.line,
                method.source == Source::Pickling ? kStringSource : kSourceFile);
}

}  // namespace lmrt
