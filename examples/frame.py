"""One frame of a typical application, drawn with real raylib into a PNG.

A sprite target (an arrow and the letter F, so that every mirror shows) is
drawn once and then put on a canvas in ten labelled panels: a blit at a
position and into a larger rectangle, each with flip on and off, a tint, an
additive blend, lmblit with an LmRect tint, fast_blit and a plain texture
drawn through the window's display inside a `with canvas:` scope, and a
copy.

    python examples/frame.py [OUT.png]

Where no GL window can be opened at all, it says why, prints the calls
the same frame makes on the recording platform instead, and exits with
status 1: no PNG was written.
"""

import logging
import os
import subprocess
import sys

PANEL = 160
COLUMNS = 5
SPRITE = 48
OUT_DEFAULT = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "frame.png")


def draw_sprite(rl, sprite):
    """An arrow pointing up and right, and an F: nothing in it is symmetric."""
    with sprite:
        sprite.fast_clear((40, 40, 60, 255))
        rl.draw_triangle((30, 4), (18, 20), (44, 20), (255, 200, 0, 255))
        rl.draw_rectangle(27, 20, 6, 14, (255, 200, 0, 255))
        rl.draw_text("F", 6, 24, 20, (255, 255, 255, 255))
        rl.draw_rectangle(0, 44, SPRITE, 4, (0, 200, 120, 255))


def plain_texture(rl):
    """A plain (not render-target) texture: a gradient with a letter P."""
    image = rl.gen_image_gradient_linear(SPRITE, SPRITE, 0, (200, 60, 160, 255), (60, 60, 200, 255))
    rl.image_draw_text(image, "P", 16, 10, 30, (255, 255, 255, 255))
    texture = rl.load_texture_from_image(image)
    rl.unload_image(image)
    return texture


def panel(index):
    """Top-left corner of the sprite's place in panel `index` (5 x 2 grid)."""
    return (index % COLUMNS) * PANEL + (PANEL - SPRITE) // 2, (index // COLUMNS) * PANEL + 40


def frame(rl, LmRenderTexture, LmVector2, LmRect, texture_of):
    canvas = LmRenderTexture(LmVector2(COLUMNS * PANEL, 2 * PANEL))
    sprite = LmRenderTexture(LmVector2(SPRITE, SPRITE))
    draw_sprite(rl, sprite)
    canvas.clear((24, 24, 28, 255))
    xy = [panel(i) for i in range(2 * COLUMNS)]

    def wide(i):  # a rectangle twice as wide as the sprite, 1.5 times as high
        return (xy[i][0] - 24, xy[i][1] - 12, 2 * SPRITE, 3 * SPRITE // 2)

    canvas.blit(sprite, xy[0])
    canvas.blit(sprite, xy[1], flip=False)
    canvas.blit(sprite, wide(2))
    canvas.blit(sprite, wide(3), flip=False)
    canvas.blit(sprite, xy[4], color=(255, 90, 90, 255))
    with canvas:
        rl.draw_rectangle(xy[5][0] - 8, xy[5][1] - 8, SPRITE + 16, SPRITE + 16, (90, 0, 0, 255))
    canvas.blit(sprite, xy[5], blend_mode=rl.BlendMode.BLEND_ADDITIVE)
    canvas.lmblit(sprite, LmVector2(*xy[6]), color=LmRect(120, 200, 255, 60))
    texture = texture_of()
    with canvas:
        canvas.fast_blit(sprite, (xy[7][0] - 12, xy[7][1] - 12))
        canvas.fast_blit(sprite, (xy[7][0] + 12, xy[7][1] + 12), color=(255, 255, 255, 160))
        canvas.fast_blit_texture(texture, xy[8], flip=False)
    copied = sprite.copy()
    canvas.blit(copied, xy[9])

    labels = ("blit (flip=True)", "blit flip=False: mirror", "blit into a rect",
              "into a rect, flip=False", "tint", "additive blend", "lmblit, LmRect tint",
              "fast_blit x2 in with", "plain texture, display", "copy, then blit")
    with canvas:
        for i, label in enumerate(labels):
            x, y = (i % COLUMNS) * PANEL, (i // COLUMNS) * PANEL
            rl.draw_rectangle_lines(x + 2, y + 2, PANEL - 4, PANEL - 4, (80, 80, 90, 255))
            rl.draw_text(label, x + 10, y + 12, 10, (230, 230, 230, 255))
    return canvas, [sprite, copied], texture


def run_real(path, window):
    from lumo_rlplatform.png import save_png
    from lumo_ui.core.modules import rl
    from lumo_ui.fast.lmrect.lmrect import LmRect
    from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
    from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

    canvas, others, texture = frame(rl, LmRenderTexture, LmVector2, LmRect, lambda: plain_texture(rl))
    width, height = save_png(canvas, path)
    for target in [canvas, *others]:
        target.kill()
    rl.unload_texture(texture)
    window.close()
    print(f"wrote {path} ({width}x{height})")


def run_recording():
    """The same frame on the recording platform, its calls listed by name."""
    import lumo_standin as platform
    from lumo_standin import rl as standin_rl
    from lumo_ui.fast.lmrect.lmrect import LmRect
    from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
    from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

    class Drawing:
        """The few raylib draws the frame makes itself, as no-ops."""

        BlendMode = standin_rl.BlendMode

        def __getattr__(self, name):
            return lambda *args: None

    platform.reset()
    canvas, others, _ = frame(Drawing(), LmRenderTexture, LmVector2, LmRect,
                              lambda: standin_rl.Texture(99, SPRITE, SPRITE))
    names = {}
    for target, name in zip((canvas, *others), ("canvas", "sprite", "copy")):
        names[id(target)] = name
        names[id(target.render_texture)] = f"{name}.render_texture"
        names[id(target.render_texture.texture)] = f"{name}.texture"

    def shown(arg):
        return names.get(id(arg)) or (repr(arg) if " at 0x" not in repr(arg) else type(arg).__name__)

    for number, (name, *args) in enumerate(platform.calls, 1):
        print(f"{number:3} {name}({', '.join(map(shown, args))})")


def main():
    if os.environ.get("LUMO_PLATFORM") == "recording":
        run_recording()
        return
    path = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else OUT_DEFAULT)
    # The binding announces itself on import; the one line this prints is
    # what it wrote.
    logging.getLogger("raylib").setLevel(logging.ERROR)
    # Only a missing window falls back: a failure while drawing is a fault
    # and must not pass for a machine without GL.
    try:
        from lumo_rlplatform import window

        window.open_hidden()
    except (RuntimeError, ImportError, OSError) as error:  # no window, no GL, no X libraries
        print(f"no picture: {error}", file=sys.stderr)
        print("the calls the frame makes, on the recording platform:", file=sys.stderr)
        env = dict(os.environ, LUMO_PLATFORM="recording")
        subprocess.call([sys.executable, __file__], env=env)
        sys.exit(f"wrote no PNG: {error}")
    run_real(path, window)


if __name__ == "__main__":
    main()
