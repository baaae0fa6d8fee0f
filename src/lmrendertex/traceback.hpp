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

// The source line of every traceback entry and code object of the module, the
// one place each is written: the methods' rows (methods.hpp), the native
// entries, properties and top-level statements all name them from here. In
// the order of the source the module was written from.
namespace line {
// Top-level statements.
inline constexpr int kModule = 1;
inline constexpr int kColor = 4;
inline constexpr int kLumoState = 5;
inline constexpr int kAnnotations = 6;
inline constexpr int kBaseColor = 9;
// The type's methods and native entries.
inline constexpr int kFromRlRenderTexture = 12;
inline constexpr int kInit = 16;
inline constexpr int kNew = 31;
inline constexpr int kBlit = 43;
inline constexpr int kLmblit = 51;
inline constexpr int kCFastBlit = 59;
inline constexpr int kCFastLmblit = 71;
inline constexpr int kFastBlit = 73;
inline constexpr int kCFastBlitTexture = 76;
inline constexpr int kBlitTexture = 80;
inline constexpr int kFastBlitTexture = 88;
inline constexpr int kCFastClear = 93;
inline constexpr int kCClear = 95;
inline constexpr int kClear = 99;
inline constexpr int kFastClear = 103;
inline constexpr int kFill = 107;
inline constexpr int kKill = 111;
inline constexpr int kGetRect = 116;
inline constexpr int kGetHeight = 119;
inline constexpr int kGetWidth = 120;
inline constexpr int kCGetTexture = 123;
inline constexpr int kCopy = 127;
inline constexpr int kEnter = 143;
inline constexpr int kExit = 148;
inline constexpr int kProperty = 158;
// The generated pickling support ("<stringsource>"): every entry on line 1.
inline constexpr int kPickle = 1;
}  // namespace line

}  // namespace lmrt
