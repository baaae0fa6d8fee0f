"""One frame of a typical application, drawn through the stand-in platform.

A canvas target is made, a sprite target is drawn and then blitted into the
canvas, a plain texture is drawn through the window's display, and the canvas
is copied; every call that reaches the platform is printed in order."""

import lumo_standin as platform
from lumo_ui.core.modules import rl
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2
from lumo_ui.presentation.color import Color


def frame():
    canvas = LmRenderTexture(LmVector2(320, 180))
    sprite = LmRenderTexture(LmVector2(32, 32))

    with sprite:
        sprite.fast_clear(Color.Blank)
    canvas.clear(Color.Black)
    canvas.blit(sprite, (10, 20))
    canvas.blit(sprite, (50, 20, 64, 64), blend_mode=rl.BlendMode.BLEND_ADDITIVE, flip=False)
    canvas.lmblit(sprite, LmVector2(100, 20))
    with canvas:
        canvas.fast_blit(sprite, (140, 20))
        canvas.fast_blit_texture(sprite.texture, (180, 20))
    snapshot = canvas.copy()
    print("canvas", canvas.get_rect(), "snapshot shares size:", snapshot.size is canvas.size)

    for target in (snapshot, sprite, canvas):
        target.kill()


def main():
    platform.reset()
    frame()
    for number, (name, *args) in enumerate(platform.calls, 1):
        print(f"{number:3} {name}({', '.join(map(repr, args))})")


if __name__ == "__main__":
    main()
