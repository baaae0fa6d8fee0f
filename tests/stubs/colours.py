"""Type-checked, not run: scripts/test has mypy --strict check this file
with --warn-unused-ignores, so every line marked `type: ignore` must be an
error (else its ignore is reported unused) and every other line must pass.
Colours are four ints, as the library's Color constants are."""

from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.presentation.color import Color


def draw(target: LmRenderTexture, sprite: LmRenderTexture) -> None:
    target.clear(Color.White)
    target.fill((255, 0, 0, 255))
    target.fast_clear(None)
    target.blit(sprite, (0, 0), color=Color.Red)
    target.blit_texture(sprite.texture, (0, 0, 8, 8), color=(1, 2, 3, 4))
    target.clear((255, 0, 0))  # type: ignore[arg-type]
    target.fill((255, 0, 0, 255, 0))  # type: ignore[arg-type]
    target.fast_clear([255, 0, 0, 255])  # type: ignore[arg-type]
    target.blit(sprite, (0, 0), color=(255, 255, 255))  # type: ignore[arg-type]
    target.fast_blit(sprite, (0, 0), color=(255, 255, 255))  # type: ignore[arg-type]
    target.blit_texture(sprite.texture, (0, 0), color=(1, 2, 3))  # type: ignore[arg-type]
    target.fast_blit_texture(sprite.texture, (0, 0), color=(1, 2, 3))  # type: ignore[arg-type]
