"""The drawing back-end is the native module itself: its ``__pyx_capi__``
holds the nine C functions under their signature texts."""

import sys

from lumo_rlplatform import _native

sys.modules[__name__] = _native
