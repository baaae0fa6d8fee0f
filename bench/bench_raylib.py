"""Real raylib: the cost of a draw through the render target against the
same draw made by Python code calling the raylib binding itself.

    .venv/bin/python bench/bench_raylib.py [--quick]

Runs under Xvfb (software GL) when there is no display.  Every pair is
timed in the same run on the same GL context; each number is the best of a
few repeats, per call (per frame for the 1,000-blit rows).

Under a software GL driver each quad costs the driver about a microsecond,
the same on both sides, which a GPU machine does not pay on the CPU.  The
"raylib C" column is that floor: the same raylib work looped in C with no
Python in between.  "above floor" compares what each side adds to it: the
cost of calling.  The sprite is 2x2 (`--sprite N` for N x N).
"""

import os
import subprocess
import sys
import timeit

HERE = os.path.dirname(os.path.abspath(__file__))

if not os.environ.get("DISPLAY") and not os.environ.get("LUMO_BENCH_CHILD"):
    wrapper = os.path.join(HERE, os.pardir, "scripts", "with-display")
    env = dict(os.environ, LUMO_BENCH_CHILD="1")
    sys.exit(subprocess.call([wrapper, sys.executable, *sys.argv], env=env))

os.environ.setdefault("LUMO_PLATFORM", "raylib")

from lumo_rlplatform import _native, window  # noqa: E402

window.open_hidden()

import pyray as rl  # noqa: E402

from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture  # noqa: E402
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2  # noqa: E402

QUICK = "--quick" in sys.argv
NUMBER = 2_000 if QUICK else 10_000
REPEAT = 3 if QUICK else 15
S = int(sys.argv[sys.argv.index("--sprite") + 1]) if "--sprite" in sys.argv else 2

target = LmRenderTexture(LmVector2(64, 64))
src = LmRenderTexture(LmVector2(S, S))
src.fill((200, 40, 120, 255))
handle = target.render_texture  # the binding's side draws into the same target
tex = src.render_texture.texture
x, y = 3, 5
WHITE = (255, 255, 255, 255)
BLACK = (0, 0, 0, 255)
flipped = (0, 0, S, -S)
pos = LmVector2(x, y)
spots = [(i % 56, (i * 7) % 56) for i in range(1000)]

NAMESPACE = dict(globals())


def binding_frame():
    rl.begin_texture_mode(handle)
    for p in spots:
        rl.draw_texture_rec(tex, flipped, p, WHITE)
    rl.end_texture_mode()


def module_frame():
    with target:
        for p in spots:
            target.fast_blit(src, p)


NAMESPACE.update(binding_frame=binding_frame, module_frame=module_frame)
CLEAR, DRAW, BRACKETED = 0, 1, 2  # kinds of _native._floor

# (row, statement through this module, the same draw through the binding,
#  the raylib work of one run as (_floor kind, count), inside texture mode?)
ROWS = [
    ("fast_clear", "target.fast_clear(BLACK)", "rl.clear_background(BLACK)",
     (CLEAR, 1), True),
    ("fast_blit at (x, y)", "target.fast_blit(src, (x, y))",
     "rl.draw_texture_rec(tex, flipped, (x, y), WHITE)", (DRAW, 1), True),
    ("fast_blit into a rect", "target.fast_blit(src, (x, y, S, S))",
     "rl.draw_texture_pro(tex, flipped, (x, y, S, S), (0, 0), 0, WHITE)", (DRAW, 1), True),
    ("blit at (x, y)", "target.blit(src, (x, y))",
     "rl.begin_blend_mode(0); rl.begin_texture_mode(handle); "
     "rl.draw_texture_rec(tex, flipped, (x, y), WHITE); rl.end_texture_mode(); rl.end_blend_mode()",
     (BRACKETED, 1), False),
    ("lmblit at LmVector2", "target.lmblit(src, pos)",
     "rl.begin_blend_mode(0); rl.begin_texture_mode(handle); "
     "rl.draw_texture_rec(tex, flipped, (pos.x, pos.y), WHITE); rl.end_texture_mode(); "
     "rl.end_blend_mode()", (BRACKETED, 1), False),
    ("frame of 1,000 fast_blits", "module_frame()", "binding_frame()", (DRAW, 1000), True),
]


def per_run(stmt, scoped, number):
    """Seconds per run of stmt (texture mode begun around it if scoped)."""
    timer = timeit.Timer(stmt, globals=NAMESPACE)
    if scoped:
        rl.begin_texture_mode(handle)
    try:
        return timer.timeit(number) / number
    finally:
        if scoped:
            rl.end_texture_mode()


def floor_per_run(kind, count, scoped):
    """Seconds of raylib's own work for one run of a row."""
    runs = max(NUMBER // count, 20)
    return per_run(f"_native._floor({kind}, handle, tex, {runs * count})", scoped, 1) / runs


def table():
    print(f"{'draw (sprite %dx%d)' % (S, S):26} {'this module':>12} {'binding':>12} "
          f"{'raylib C':>12} {'ratio':>6} {'above floor':>11}")
    for name, ours, theirs, floor, scoped in ROWS:
        frame = name.startswith("frame")
        number = max(NUMBER // 1000, 5) if frame else NUMBER
        a = b = f = float("inf")
        for _ in range(REPEAT):  # interleaved, so that load from elsewhere hits all three
            a = min(a, per_run(ours, scoped, number))
            b = min(b, per_run(theirs, scoped, number))
            f = min(f, floor_per_run(*floor, scoped))
        unit, scale = ("ms", 1e3) if frame else ("us", 1e6)
        above = f"{(a - f) / (b - f):10.2f}x" if b > f else "       n/a"
        print(f"{name:26} {a * scale:9.3f} {unit} {b * scale:9.3f} {unit} {f * scale:9.3f} {unit} "
              f"{a / b:5.2f}x {above}")


def main():
    table()
    target.kill()
    src.kill()
    window.close()


main()
