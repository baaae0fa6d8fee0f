"""Stand-in of the drawing back-end.

Its C API is ``__pyx_capi__``: function name -> capsule named by the
function's C signature.  Every call is recorded in lumo_standin's call log.
"""

from lumo_standin import _breaks

_breaks.on_import(__name__)

from lumo_standin import _native  # noqa: E402

__pyx_capi__ = _native._build_capi()

begin_texture_mode = _native.begin_texture_mode
clear_background = _native.clear_background
end_blend_mode = _native.end_blend_mode
end_texture_mode = _native.end_texture_mode
begin_blend_mode = _native.begin_blend_mode

_breaks.strip(__name__, globals())
