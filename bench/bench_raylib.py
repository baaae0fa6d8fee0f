"""Real raylib: the cost of a draw through the render target against the
same draw made by Python code calling the raylib binding itself.

    .venv/bin/python bench/bench_raylib.py [--quick] [--sprite N] [--json OUT.json]

Runs under Xvfb (software GL) when there is no display.  Every pair is
timed in the same run on the same GL context, as applications write the
calls (`target.fast_blit(src, (x, y))` against `pyray.draw_texture_rec(...)`),
drawing exactly the same quad: same texture, dest, tint and flip (checked
first: both sides of each row must leave the same pixels).

Robustness: the clock is this thread's CPU time, so time the scheduler
gives to other processes is not counted, and Mesa's software rasterizer
is kept on this thread (LP_NUM_THREADS=0) so that its work is counted on
both sides.  The three timings of a row are interleaved, in alternating
order, and each number is the best of the repeats.  A timed run of single
draws stays below raylib's batch size, so no batch is flushed inside it;
the flush lands, untimed, at the end of texture mode.  Rows that begin and
end texture mode themselves (blit, lmblit, the frame) include their flushes.

Under a software GL driver each flush costs the driver microseconds, the
same on both sides, which a GPU machine does not pay on the CPU.  The
"raylib C" column is that floor: the same raylib work looped in C with no
Python in between.  "above floor" compares what each side adds to it: the
cost of calling.  A module time under the floor is noise: the row is timed
again, and if it stays under, "above floor" says "within noise".  The
sprite is 2x2 (`--sprite N` for N x N).
"""

import json
import os
import subprocess
import sys
import time
import timeit

HERE = os.path.dirname(os.path.abspath(__file__))

if not os.environ.get("DISPLAY") and not os.environ.get("LUMO_BENCH_CHILD"):
    wrapper = os.path.join(HERE, os.pardir, "scripts", "with-display")
    env = dict(os.environ, LUMO_BENCH_CHILD="1")
    sys.exit(subprocess.call([wrapper, sys.executable, *sys.argv], env=env))

os.environ.setdefault("LUMO_PLATFORM", "raylib")
os.environ.setdefault("LP_NUM_THREADS", "0")  # read when the GL driver loads

from lumo_rlplatform import _native, window  # noqa: E402

window.open_hidden()

import pyray as rl  # noqa: E402
from raylib import ffi  # noqa: E402

from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture  # noqa: E402
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2  # noqa: E402


def option(name, default):
    return type(default)(sys.argv[sys.argv.index(name) + 1]) if name in sys.argv else default


QUICK = "--quick" in sys.argv
NUMBER = 1_000 if QUICK else 4_000  # single draws per timed run: below one batch
REPEAT = 5 if QUICK else 25
S = option("--sprite", 2)
JSON = option("--json", "")
GOAL = 0.25
RETRIES = 3  # re-timings of a row whose module time came out under its floor
LEGEND = f"""
ratio: this module's time per draw / the binding's.  goal: a ratio of at most {GOAL}x.
  Rows that begin and end texture mode themselves (blit, lmblit, the frame) include
  the batch flush at the end of texture mode, which software GL does on the CPU and
  which is the same on both sides ("raylib C"): there the ratio cannot reach the goal,
  and "above floor" compares what each side adds to that floor.
within noise: the module's time did not rise above the floor after {RETRIES} timings."""

target = LmRenderTexture(LmVector2(64, 64))
src = LmRenderTexture(LmVector2(S, S))
src.fill((200, 40, 120, 255))
with src:  # one odd corner, so that a flip shows in the check below
    rl.draw_rectangle(0, 0, 1, 1, (10, 250, 10, 255))
handle = target.render_texture  # the binding's side draws into the same target
tex = src.render_texture.texture
x, y = 3, 5
WHITE = (255, 255, 255, 255)  # fast_blit's default tint
BLACK = (0, 0, 0, 255)
flipped = (0, 0, S, -S)  # fast_blit flips by default: a render texture is stored upside down
pos = LmVector2(x, y)
spots = [(i % 56, (i * 7) % 56) for i in range(1000)]  # kind 3 of _native._floor draws these

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
CLEAR, DRAW, BRACKETED, FRAME = 0, 1, 2, 3  # kinds of _native._floor


def bracketed(draw):
    """The binding's form of a draw that blit and lmblit bracket: alpha
    blending and texture mode begun around it and ended after it."""
    return (f"rl.begin_blend_mode(0); rl.begin_texture_mode(handle); {draw}; "
            "rl.end_texture_mode(); rl.end_blend_mode()")


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
     bracketed("rl.draw_texture_rec(tex, flipped, (x, y), WHITE)"), (BRACKETED, 1), False),
    ("lmblit at LmVector2", "target.lmblit(src, pos)",
     bracketed("rl.draw_texture_rec(tex, flipped, (pos.x, pos.y), WHITE)"), (BRACKETED, 1), False),
    ("frame of 1,000 fast_blits", "module_frame()", "binding_frame()", (FRAME, 1000), False),
]


def pixels_after(stmt, scoped):
    """The target's pixels after one run of stmt on a transparent target."""
    rl.begin_texture_mode(handle)
    rl.clear_background((0, 0, 0, 0))
    rl.end_texture_mode()
    if scoped:
        rl.begin_texture_mode(handle)
    exec(stmt, NAMESPACE)
    if scoped:
        rl.end_texture_mode()
    image = rl.load_image_from_texture(handle.texture)
    try:
        return bytes(ffi.buffer(image.data, image.width * image.height * 4))
    finally:
        rl.unload_image(image)


def check_same_draws():
    """Both sides of every row must leave the very same pixels."""
    for name, ours, theirs, _, scoped in ROWS:
        if pixels_after(ours, scoped) != pixels_after(theirs, scoped):
            sys.exit(f"{name}: this module and the binding draw different pixels")


def per_run(stmt, scoped, number):
    """CPU seconds per run of stmt (texture mode begun around it, untimed,
    if scoped: its end flushes the batch outside the measurement)."""
    timer = timeit.Timer(stmt, timer=time.thread_time, globals=NAMESPACE)
    if scoped:
        rl.begin_texture_mode(handle)
    try:
        return timer.timeit(number) / number
    finally:
        if scoped:
            rl.end_texture_mode()


def floor_per_run(kind, count, scoped, number):
    """CPU seconds of raylib's own work for one run of a row."""
    if kind == FRAME:
        return per_run(f"_native._floor({kind}, handle, tex, {count})", scoped, number)
    return per_run(f"_native._floor({kind}, handle, tex, {number})", scoped, 1) / number


def measure(ours, theirs, floor, scoped, number):
    """Best of REPEAT interleaved runs of the three sides, the order
    alternating so that a slow spell does not always hit the same side."""
    sides = [lambda: per_run(ours, scoped, number), lambda: per_run(theirs, scoped, number),
             lambda: floor_per_run(*floor, scoped, number)]
    best = [float("inf")] * 3
    for r in range(REPEAT):
        order = range(3) if r % 2 == 0 else range(2, -1, -1)
        for i in order:
            best[i] = min(best[i], sides[i]())
    return best


def measure_above_floor(ours, theirs, floor, scoped, number):
    """measure(), again while the module's time comes out under the floor."""
    for _ in range(RETRIES):
        a, b, f = measure(ours, theirs, floor, scoped, number)
        if a >= f:
            break
    return a, b, f


def table():
    rows = []
    print(f"{'draw (sprite %dx%d)' % (S, S):26} {'this module':>12} {'binding':>12} "
          f"{'raylib C':>12} {'ratio':>6} {'above floor':>12}  goal")
    for name, ours, theirs, floor, scoped in ROWS:
        frame = floor[0] == FRAME
        number = 5 if frame else (NUMBER // 10 if not scoped else NUMBER)
        a, b, f = measure_above_floor(ours, theirs, floor, scoped, number)
        noise = a < f
        above = (a - f) / (b - f) if b > f and not noise else None
        unit, scale = ("ms", 1e3) if frame else ("us", 1e6)
        shown = "within noise" if noise else f"{above:11.2f}x" if above is not None else "n/a"
        print(f"{name:26} {a * scale:9.3f} {unit} {b * scale:9.3f} {unit} {f * scale:9.3f} {unit} "
              f"{a / b:5.2f}x {shown:>12}  {'met' if a / b <= GOAL else 'not met'}")
        rows.append({"draw": name, "module_us": a * 1e6, "binding_us": b * 1e6,
                     "raylib_c_us": f * 1e6, "ratio": a / b, "ratio_above_floor": above,
                     "within_noise": noise, "goal_met": a / b <= GOAL})
    print(LEGEND)
    return rows


def main():
    check_same_draws()
    rows = table()
    if JSON:
        with open(JSON, "w") as out:
            json.dump({"sprite": S, "clock": "thread CPU time", "repeats": REPEAT,
                       "lp_num_threads": os.environ["LP_NUM_THREADS"],
                       "load_average": os.getloadavg(), "rows": rows}, out, indent=1)
    target.kill()
    src.kill()
    window.close()


main()
