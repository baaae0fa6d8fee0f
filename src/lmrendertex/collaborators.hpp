// The modules this one draws with and reads from: the native value types, the
// drawing back-end's functions, and the module's top-level statements.
#pragma once

namespace lmrt {

// LmVector2, LmRect and LmShader, each checked against the record this module
// expects and its method table taken.
bool import_types();
// The back-end's native functions, each checked against its signature text.
bool import_backend();
// The top-level statements (md, Color, lumo_state, Annotations and the base
// colour); `line` is that of the statement being run.
bool run_top_level(int& line);

}  // namespace lmrt
