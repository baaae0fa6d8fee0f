// The pickle protocol: the reduce and set-state operations, the module-level
// unpickling function, and the wiring of the first two into the type's
// standard hooks.
#pragma once

namespace lmrt {

// Layout checksums of the member list "loaded render_texture size" that stored
// pickles may carry (SHA-256, SHA-1 and MD5 digests); new pickles carry the
// first.
inline constexpr long long kLayoutChecksums[] = {0xd7babc0, 0x80a1750, 0x4dee0a1};

// Moves the pickling operations to __reduce__ and __setstate__ unless the type
// already has its own; RuntimeError when that fails without an error of its own.
bool wire_pickling();

}  // namespace lmrt
