"""Per-call cost of the drawing operations against a do-nothing C call.

Runs on the stand-in platform in quiet mode, so the back-end returns at once
and what is measured is this module's own overhead: argument binding, checks,
dispatch and the calls it makes. Each operation is shown beside a floor, the
stand-in's C method `noop` called with the same arguments, and as a ratio to
it.

    python bench/bench_drawing.py [--iterations N] [--repeats R]
"""

import argparse
import time

import lumo_standin as standin
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2

RED = (255, 0, 0, 255)


def make_loop(call_text, arity):
    """A function timing `iterations` calls of f(a0, ..., a{arity-1}); the
    arguments are locals so the floor and the operation pay the same."""
    params = ", ".join(f"a{i}" for i in range(arity))
    source = (
        f"def loop(f, iterations{', ' if params else ''}{params}):\n"
        f"    start = perf_counter_ns()\n"
        f"    for _ in range(iterations):\n"
        f"        {call_text}\n"
        f"    return perf_counter_ns() - start\n"
    )
    namespace = {"perf_counter_ns": time.perf_counter_ns}
    exec(source, namespace)
    return namespace["loop"]


def best_ns_per_call(operation, floor, args, iterations, repeats):
    """Best ns per call of the operation and of the floor; the two are timed
    in turn within each repeat so that drift in machine load hits both."""
    loop = make_loop(f"f({', '.join(f'a{i}' for i in range(len(args)))})", len(args))
    loop(operation, iterations // 10, *args)  # warm caches and the allocator
    best_operation = best_floor = float("inf")
    for _ in range(repeats):
        best_floor = min(best_floor, loop(floor, iterations, *args))
        best_operation = min(best_operation, loop(operation, iterations, *args))
    return best_operation / iterations, best_floor / iterations


def cases():
    target = LmRenderTexture(LmVector2(256.0, 128.0))
    source = LmRenderTexture(LmVector2(64.0, 32.0))
    position = LmVector2(10.0, 20.0)
    texture = source.render_texture.texture
    return [
        ("fast_clear", target.fast_clear, (RED,)),
        ("clear", target.clear, (RED,)),
        ("fast_blit (x, y)", target.fast_blit, (source, (10, 20))),
        ("fast_blit (x, y, w, h)", target.fast_blit, (source, (10, 20, 64, 32))),
        ("blit", target.blit, (source, (10, 20))),
        ("lmblit", target.lmblit, (source, position)),
        ("fast_blit_texture", target.fast_blit_texture, (texture, (10, 20))),
        ("blit_texture", target.blit_texture, (texture, (10, 20))),
        ("copy", target.copy, ()),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--iterations", type=int, default=200_000)
    parser.add_argument("--repeats", type=int, default=7)
    options = parser.parse_args()

    floor = standin.Floor().noop
    standin.reset()
    with standin.quiet():
        print(f"{'operation':24} {'ns/call':>9} {'floor ns':>9} {'ratio':>7}")
        for name, method, args in cases():
            iterations = options.iterations // 10 if name == "copy" else options.iterations
            cost, base = best_ns_per_call(method, floor, args, iterations, options.repeats)
            print(f"{name:24} {cost:9.1f} {base:9.1f} {cost / base:7.2f}")


if __name__ == "__main__":
    main()
