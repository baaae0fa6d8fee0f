"""Stand-in of the graphics binding reached as ``lumo_ui.core.modules.rl``."""

import enum
import itertools

from . import calllog

PIXELFORMAT_UNCOMPRESSED_R8G8B8A8 = 7
PIXELFORMAT_DEPTH = 19

_ids = itertools.count(1)


class BlendMode(enum.IntEnum):
    BLEND_ALPHA = 0
    BLEND_ADDITIVE = 1
    BLEND_MULTIPLIED = 2
    BLEND_ADD_COLORS = 3
    BLEND_SUBTRACT_COLORS = 4
    BLEND_ALPHA_PREMULTIPLY = 5
    BLEND_CUSTOM = 6
    BLEND_CUSTOM_SEPARATE = 7


class Texture:
    """A GPU texture handle."""

    def __init__(self, id, width, height, mipmaps=1, format=PIXELFORMAT_UNCOMPRESSED_R8G8B8A8):
        self.id = id
        self.width = width
        self.height = height
        self.mipmaps = mipmaps
        self.format = format

    def __repr__(self):
        return (
            f"Texture(id={self.id}, width={self.width}, height={self.height}, "
            f"mipmaps={self.mipmaps}, format={self.format})"
        )


class RenderTexture:
    """A render target: a framebuffer id with its colour and depth textures."""

    def __init__(self, id, texture, depth):
        self.id = id
        self.texture = texture
        self.depth = depth

    def __repr__(self):
        return (
            f"RenderTexture(id={self.id}, {self.texture.width}x{self.texture.height}, "
            f"texture={self.texture.id}, depth={self.depth.id})"
        )


def load_render_texture(width, height):
    calllog.record("load_render_texture", width, height)
    handle = RenderTexture(
        next(_ids),
        Texture(next(_ids), width, height),
        Texture(next(_ids), width, height, format=PIXELFORMAT_DEPTH),
    )
    calllog._live[id(handle)] = handle
    return handle


def unload_render_texture(handle):
    calllog.record("unload_render_texture", handle)
    # Only a handle this binding loaded is forgotten; anything else (None
    # included) is logged and ignored.
    if id(handle) in calllog._live and calllog._live[id(handle)] is handle:
        del calllog._live[id(handle)]


def is_window_ready():
    calllog.record("is_window_ready")
    return calllog.window_ready()
