"""Saving what a render target shows as a PNG file."""

import os

import pyray

from lumo_rlplatform import rl


def save_png(target, path):
    """Write the picture of `target` (an LmRenderTexture, or a raylib
    RenderTexture) to the PNG file `path`, upright: the way the default
    flip=True blit shows it.  Returns its (width, height).  Needs the window
    that made the target, on its thread; raises OSError when the file cannot
    be written."""
    path = os.fspath(path)
    if not path.lower().endswith(".png"):
        raise ValueError(f"the file name must end in .png, got {path!r}")
    handle = getattr(target, "render_texture", target)
    image = rl.load_image_from_texture(handle.texture)  # refuses a dead target
    try:
        # Render textures are stored bottom-up: the first row read is the
        # bottom of the picture.
        pyray.image_flip_vertical(image)
        if not pyray.export_image(image, path):
            raise OSError(f"raylib could not write {path}")
        return image.width, image.height
    finally:
        pyray.unload_image(image)
