// Traceback entries for failures raised in native code, so a Python traceback
// names the operation that failed.
#pragma once

namespace lmrt {

// Source names shown in the entries: the module's own source for its
// operations, and "<stringsource>" for the generated pickling support.
inline constexpr const char* kSourceFile = "lumo_ui/fast/lmrendertex/lm_render_tex";
inline constexpr const char* kStringSource = "<stringsource>";

// Adds an entry named `full_name` at `line` to the pending exception.
void add_traceback_entry(const char* full_name, int line, const char* file);
// Adds an entry "<module>.<function>" at `line` to the pending exception.
void add_traceback(const char* function, int line, const char* file = kSourceFile);

// Source lines of the entries that are not a method's own (a method's line is
// in its descriptor).
namespace line {
inline constexpr int kModule = 1;
inline constexpr int kColor = 4;
inline constexpr int kLumoState = 5;
inline constexpr int kAnnotations = 6;
inline constexpr int kBaseColor = 9;
inline constexpr int kNew = 31;
inline constexpr int kCFastBlit = 59;
inline constexpr int kCFastLmblit = 71;
inline constexpr int kCFastBlitTexture = 76;
inline constexpr int kCFastClear = 93;
inline constexpr int kCClear = 95;
inline constexpr int kCGetTexture = 123;
inline constexpr int kProperty = 158;
inline constexpr int kPickle = 1;
}  // namespace line

}  // namespace lmrt
