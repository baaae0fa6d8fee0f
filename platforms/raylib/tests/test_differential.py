"""Random sequences of drawing on real raylib: each step drawn through the
render target and the platform, and the picture it means drawn with the
binding's own calls on a twin render texture. After every step outside a
with block, and at the end of each block, every target and its twin must
read back (through the platform's rl) the same pixels.

Traps are steps too: a source killed or dropped inside a block, a PNG
saved inside a block, a target made inside a block, a target drawn into
itself, a killed source, a target of a closed window, another thread, a bad
blend mode. A trap must raise a clear error and change no pixel, or draw
what was meant; the twin draws what was meant in the way raylib always
honours (its texture mode ended first) and nothing for a refused step.

CI runs a fixed, bounded set of sequences; LUMO_DIFFERENTIAL_EXAMPLES=N runs
N random ones (LUMO_DIFFERENTIAL_STEPS sets the longest sequence). A failure
prints the shrunk sequence of steps."""

import os
import shutil
import tempfile

import pyray as rl
import pytest
from conftest import in_texture_mode, on_worker, pixels, reopen_window, shared
from hypothesis import HealthCheck, settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, precondition, rule
from raylib import ffi

import lumo_ui.core.modules as md
from lumo_rlplatform.png import save_png
from lumo_ui.fast.lmrect.lmrect import LmRect
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

WHITE, BLANK = (255, 255, 255, 255), (0, 0, 0, 0)
PLAIN_SIZE = (6, 4)
MAX_PAIRS = 6
REOPENS = 60
reopens = 0
# The steps a with block may hold, the most telling first (shrinking moves
# towards them); those in DRAWS need the block's target.
INSIDE = ["fast_blit", "source_given_back", "save_png", "fast_clear", "make", "fast_blit_texture",
          "draw_rectangle", "target_given_back"]
DRAWS = {"fast_blit", "source_given_back", "save_png", "fast_clear", "fast_blit_texture",
         "draw_rectangle"}
# What a refused step may say: each names what is wrong or the way out.
REFUSAL = (r"not loaded|was unloaded|window that was closed|target\.copy\(\)|blend mode"
           r"|thread that opened")

sizes = st.sampled_from([(16, 12), (9, 7)])
# Strong colours first: the simplest colour, all zeros, would hide a lost draw.
PALETTE = [(230, 41, 55, 255), (0, 121, 241, 255), (253, 249, 0, 255), (0, 228, 48, 140)]
colors = st.sampled_from(PALETTE) | st.tuples(*[st.integers(0, 255)] * 4)
tints = st.none() | colors
numbers = st.integers(-4, 14) | st.sampled_from([0.5, 3.25])
positions = st.tuples(numbers, numbers)
dests = positions | st.tuples(numbers, numbers, st.integers(1, 20), st.integers(1, 20))
blend_modes = st.sampled_from(sorted(rl.BlendMode))
rect_tints = st.none() | st.builds(LmRect, *[st.integers(0, 255)] * 4)
placements = st.tuples(dests, st.booleans(), tints)


def _plain():
    image = rl.gen_image_color(*PLAIN_SIZE, (240, 200, 20, 255))
    rl.image_draw_rectangle(image, 0, 0, 3, 2, (20, 20, 200, 120))
    texture = rl.load_texture_from_image(image)
    rl.unload_image(image)
    return texture


def draw_whole(texture, size, dest, flip, tint):
    """The binding's draw of a whole texture at (x, y) or into (x, y, w, h),
    as the render target draws it: flipping is a negative source height."""
    w, h = size
    rect = dest if len(dest) == 4 else (*dest, w, h)
    rl.draw_texture_pro(texture, (0, 0, w, -h if flip else h), rect, (0, 0), 0,
                        WHITE if tint is None else tint)


def cleared(color):
    """The binding's clear as the render target's: None is transparent."""
    return lambda: rl.clear_background(BLANK if color is None else color)


def refused(act, inside_block=False):
    """A trap's step: it must raise a clear error.  A failed bracketed call
    leaves its modes begun (nothing is rolled back), so they are ended."""
    with pytest.raises((AssertionError, ValueError, RuntimeError), match=REFUSAL):
        act()
    if not inside_block:
        md.rl.end_texture_mode()
        md.rl.end_blend_mode()


class Pair:
    """A render target and its twin, a handle made with the binding.  Steps
    may name a pair after its target was killed (drawing with it is a trap)
    or dropped (its name is gone: such a step does nothing)."""

    def __init__(self, number, size, window):
        self.number, self.size, self.window = number, size, window
        self.target = self.twin = None
        self.gone = False  # killed or dropped

    def __repr__(self):
        return f"pair{self.number}"

    def make(self):
        self.target = LmRenderTexture(LmVector2(*self.size))

    def make_twin(self):
        self.twin = rl.load_render_texture(*self.size)

    def clear(self, color, mark=None):
        """Cleared to color, with a corner of mark's colour, so that flips
        and positions show."""
        self.target.clear(color)
        in_texture_mode(self.twin, cleared(color))
        if mark is not None:
            with self.target:
                md.rl.draw_rectangle(0, 0, 3, 2, mark)
            in_texture_mode(self.twin, lambda: rl.draw_rectangle(0, 0, 3, 2, mark))


class Block:
    """A with block on one pair's target.  Both sides cannot be in texture
    mode at once, so the module's side runs as the steps come and the
    twin's side is replayed when the block ends."""

    def __init__(self, pair):
        self.pair = pair
        self.replay = []  # the twin's side of each step
        self.made = []    # pairs made inside, usable after the block
        self.freed = []   # pairs killed or dropped inside: twins freed after the block
        self.saved = []   # (module's PNG, twin's PNG)
        self.held = None  # a target dropped inside its own block lives on to its end

    def outside_texture_mode(self, act=lambda: None, after=lambda: None):
        """act() with the twin's texture mode ended, which draws its queue,
        and begun again; then after()."""
        rl.end_texture_mode()
        act()
        rl.begin_texture_mode(self.pair.twin)
        after()


class DrawingMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.window = 0  # windows reopened so far
        self.all = []    # every pair made
        self.named = []  # those that steps may name: made and drawn on both sides
        self.block = None
        self.folder = tempfile.mkdtemp()

    def new(self, size):
        pair = Pair(len(self.all), size, self.window)
        self.all.append(pair)
        return pair

    def pick(self, data, label, avoid=None):
        """A pair steps may name; `avoid` comes last, so that it is picked
        now and then (a trap: a target drawn into itself)."""
        first = [p for p in self.named if p is not avoid]
        return data.draw(st.sampled_from(first + [avoid] if avoid else first), label=label)

    def stale(self, pair):
        return pair.window != self.window

    def dead(self, *pairs):
        return any(p.gone or self.stale(p) for p in pairs)

    def live(self):
        return [p for p in self.all if not self.dead(p)]

    def both(self, ours, theirs, *involved, refuse=False):
        """A step on both sides.  A trap (refuse, or a dead pair involved)
        must be refused by the module's side, and the twin draws nothing.
        Inside a block the twin's side is replayed when the block ends."""
        if any(p.target is None for p in involved):
            return  # a dropped pair: the step cannot be written any more
        if refuse or self.dead(*involved):
            refused(ours, inside_block=self.block is not None)
        elif self.block is None:
            ours()
            theirs()
        else:
            ours()
            self.block.replay.append(theirs)

    def give_back(self, pair, drop):
        """kill(), or dropping the last reference; kill() of a killed target
        asserts it is loaded, and a stale one goes quietly."""
        if drop:
            pair.target = None
        elif pair.gone:
            refused(pair.target.kill, inside_block=self.block is not None)
        else:
            pair.target.kill()
        pair.gone = True

    def free_twin(self, pair):
        if pair.twin is not None and not self.stale(pair):  # else it died with its window
            rl.unload_render_texture(pair.twin)
        pair.twin = None

    # ---- outside with blocks ----

    @initialize(first=sizes, second=sizes, colors=st.lists(colors, min_size=4, max_size=4))
    def two_pairs(self, first, second, colors):
        self.new_pair(first, *colors[:2])
        self.new_pair(second, *colors[2:])

    @precondition(lambda self: len(self.live()) < MAX_PAIRS)
    @rule(size=sizes, color=colors, mark=colors)
    def new_pair(self, size, color, mark):
        pair = self.new(size)
        pair.make()
        pair.make_twin()
        pair.clear(color, mark)
        self.named.append(pair)

    @rule(data=st.data(), color=st.none() | colors, fill=st.booleans())
    def clear(self, data, color, fill):
        pair = self.pick(data, "target")
        self.both(lambda: (pair.target.fill if fill else pair.target.clear)(color),
                  lambda: in_texture_mode(pair.twin, cleared(color)),
                  pair)

    @rule(data=st.data(), dest=dests, flip=st.booleans(), tint=tints, blend=blend_modes)
    def blit(self, data, dest, flip, tint, blend):
        dst = self.pick(data, "target")
        src = self.pick(data, "source", avoid=dst)
        self.both(lambda: dst.target.blit(src.target, dest, blend, flip, tint),
                  lambda: in_texture_mode(dst.twin, lambda: draw_whole(src.twin.texture, src.size,
                                                                       dest, flip, tint),
                                          blend=blend),
                  dst, src, refuse=src is dst)

    @rule(data=st.data(), at=positions, flip=st.booleans(), tint=rect_tints)
    def lmblit(self, data, at, flip, tint):
        dst = self.pick(data, "target")
        src = self.pick(data, "source", avoid=dst)
        color = None if tint is None else (int(tint.x), int(tint.y), int(tint.w), 255 - int(tint.h))
        self.both(lambda: dst.target.lmblit(src.target, LmVector2(*at), 0, flip, tint),
                  lambda: in_texture_mode(dst.twin, lambda: draw_whole(src.twin.texture, src.size,
                                                                       at, flip, color),
                                          blend=0),
                  dst, src, refuse=src is dst)

    @rule(data=st.data(), of_a_target=st.booleans(), dest=dests, flip=st.booleans(), tint=tints,
          blend=blend_modes)
    def blit_texture(self, data, of_a_target, dest, flip, tint, blend):
        """A plain texture, or the texture of a target, through the display."""
        dst, plain = self.pick(data, "target"), shared(_plain)
        src = self.pick(data, "source", avoid=dst) if of_a_target else None
        size = src.size if src else PLAIN_SIZE
        self.both(lambda: dst.target.blit_texture(src.target.texture if src else plain, dest, blend,
                                                  flip, tint),
                  lambda: in_texture_mode(dst.twin,
                                          lambda: draw_whole(src.twin.texture if src else plain,
                                                             size, dest, flip, tint),
                                          blend=blend),
                  dst, *[src] if src else [], refuse=src is dst)

    @precondition(lambda self: len(self.live()) < MAX_PAIRS)
    @rule(data=st.data(), flip=st.booleans())
    def copy(self, data, flip):
        src = self.pick(data, "source")
        pair = self.new(src.size)
        pair.gone = True  # until both sides have drawn it

        def ours():
            pair.target = src.target.copy(flip)

        def theirs():
            pair.make_twin()
            in_texture_mode(pair.twin, lambda: rl.clear_background(BLANK),
                            lambda: rl.begin_blend_mode(rl.BlendMode.BLEND_ALPHA),
                            lambda: draw_whole(src.twin.texture, src.size, (0, 0), flip, None),
                            rl.end_blend_mode)
            pair.gone = False
            self.named.append(pair)

        self.both(ours, theirs, src)

    @rule(data=st.data(), drop=st.booleans())
    def kill_or_drop(self, data, drop):
        pair = self.pick(data, "target")
        if pair.target is not None:
            self.give_back(pair, drop)
            self.free_twin(pair)

    @precondition(lambda self: self.window == 0 and self.live())
    @rule(now=st.integers(0, 15))
    def reopen_window(self, now):
        """Every target and twin made so far dies with the window.  A window
        takes a good part of a second to open, and a process gets about two
        hundred under Mesa's GLX, so few sequences reopen theirs, and the
        run at most REOPENS times (shrinking replays many sequences)."""
        global reopens
        if now == 7 and reopens < REOPENS:
            reopens += 1
            reopen_window()
            self.window += 1

    @rule(data=st.data(), on_another_thread=st.booleans(), mode=st.sampled_from([-1, 8, 99]))
    def misuse(self, data, on_another_thread, mode):
        """A clear from another thread, or a blit with a blend mode that is
        not raylib's: refused."""
        dst = self.pick(data, "target")
        src = self.pick(data, "source", avoid=dst)
        if on_another_thread:
            self.both(lambda: on_worker(lambda: dst.target.clear(WHITE)), None, dst, refuse=True)
        else:
            self.both(lambda: dst.target.blit(src.target, (0, 0), blend_mode=mode), None, dst, src,
                      refuse=True)

    # ---- with blocks ----

    @rule(data=st.data(), steps=st.lists(st.sampled_from(INSIDE), min_size=2, max_size=8))
    def with_block(self, data, steps):
        """A with block on a target, and steps inside it."""
        pair = self.pick(data, "target")
        if pair.target is None:
            return
        if self.dead(pair):
            refused(pair.target.__enter__)
            return
        pair.target.__enter__()
        self.block = Block(pair)
        for step in steps:
            if step in DRAWS and pair.gone:
                continue  # the block's target was given back: nothing to draw into
            getattr(self, step)(data)
        self.end_block()

    def fast_blit(self, data):
        block = self.block
        src = self.pick(data, "fast_blit source", avoid=block.pair)
        dest, flip, tint = data.draw(placements, label="dest, flip, tint")
        self.both(lambda: block.pair.target.fast_blit(src.target, dest, flip, tint),
                  lambda: draw_whole(src.twin.texture, src.size, dest, flip, tint),
                  src, refuse=src is block.pair)
        return src

    def source_given_back(self, data):
        """A source drawn, then killed or dropped while its draw is queued."""
        src = self.fast_blit(data)
        if src is not self.block.pair:
            self.given_back_inside(src, data.draw(st.booleans(), label="dropped"))

    def target_given_back(self, data):
        self.given_back_inside(self.block.pair, data.draw(st.booleans(), label="dropped"))

    def given_back_inside(self, pair, drop):
        block = self.block
        if pair.target is None:
            return
        if drop and pair is block.pair:
            block.held = pair.target  # as `del target` inside `with target:`
        if not pair.gone:
            block.freed.append(pair)  # the twin's draws are replayed first
        self.give_back(pair, drop)

    def fast_clear(self, data):
        block = self.block
        color = data.draw(st.none() | colors, label="fast_clear colour")
        self.both(lambda: block.pair.target.fast_clear(color),
                  lambda: block.outside_texture_mode(after=cleared(color)))

    def fast_blit_texture(self, data):
        target, plain = self.block.pair.target, shared(_plain)
        dest, flip, tint = data.draw(placements, label="dest, flip, tint")
        self.both(lambda: target.fast_blit_texture(plain, dest, flip, tint),
                  lambda: draw_whole(plain, PLAIN_SIZE, dest, flip, tint))

    def draw_rectangle(self, data):
        """A draw of the binding's own inside the block (the platform's rl)."""
        x, y, w, h = data.draw(st.tuples(*[st.integers(-4, 14)] * 2, *[st.integers(1, 9)] * 2),
                               label="rectangle")
        color = data.draw(colors, label="rectangle colour")
        self.both(lambda: md.rl.draw_rectangle(x, y, w, h, color),
                  lambda: rl.draw_rectangle(x, y, w, h, color))

    def save_png(self, data):
        block, n = self.block, len(self.block.saved)
        ours, theirs = (os.path.join(self.folder, f"{side}{n}.png") for side in ("ours", "theirs"))
        block.saved.append((ours, theirs))
        self.both(lambda: save_png(block.pair.target, ours),
                  lambda: block.outside_texture_mode(lambda: save_png(block.pair.twin, theirs)))

    def make(self, data):
        if len(self.live()) < MAX_PAIRS:
            pair = self.new(data.draw(sizes, label="size"))
            pair.gone = True  # usable once the block has ended and both sides are cleared
            pair.make()
            self.block.made.append(pair)

    def end_block(self):
        block, self.block = self.block, None
        (block.held or block.pair.target).__exit__(None, None, None)
        block.held = None
        for pair in block.made:
            pair.make_twin()
        rl.begin_texture_mode(block.pair.twin)
        for step in block.replay:
            step()
        rl.end_texture_mode()
        for pair in block.freed:
            self.free_twin(pair)
        for ours, theirs in block.saved:
            assert self.png(ours) == self.png(theirs), "a PNG saved inside the block differs"
        for pair in block.made:
            pair.gone = False
            pair.clear(None)
            self.named.append(pair)

    # ---- checks ----

    @staticmethod
    def png(path):
        image = rl.load_image(path)
        try:
            return bytes(ffi.buffer(image.data, image.width * image.height * 4))
        finally:
            rl.unload_image(image)

    @invariant()
    def targets_match_their_twins(self):
        for pair in self.live():
            assert pixels(pair.target.render_texture.texture) == pixels(pair.twin.texture)

    def teardown(self):
        """Gives everything back, and leaves no mode begun even after a
        failed step, so that the next sequence starts as this one did."""
        if self.block is not None:
            self.block.pair.target = self.block.held = None
            self.block = None
        md.rl.end_texture_mode()
        md.rl.end_blend_mode()
        for pair in self.all:
            if pair.target is not None and pair.target.loaded:
                pair.target.kill()
            self.free_twin(pair)
        shutil.rmtree(self.folder)


LONG = int(os.environ.get("LUMO_DIFFERENTIAL_EXAMPLES", "0"))
DrawingMachine.TestCase.settings = settings(
    max_examples=LONG or 150,
    stateful_step_count=int(os.environ.get("LUMO_DIFFERENTIAL_STEPS", "25")),
    derandomize=not LONG,
    database=None,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much],
)
test_drawing_through_the_module_matches_the_binding = DrawingMachine.TestCase
