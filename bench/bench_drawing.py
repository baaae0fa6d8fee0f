"""Per-call cost of LmRenderTexture's operations beside a do-nothing C call.

Runs on the recording platform in quiet mode: the back-end returns at once,
so what is measured is this module's own work (argument binding, checks,
dispatch, the calls it makes) plus whatever the stand-ins' Python code costs
(construction, copy and pickling load render textures through it).

Python rows time the statement an application writes, `t.fast_clear(color)`:
attribute lookup and call inside the timed loop, never a pre-bound method.
Each row is timed beside its floor, the same statement with the operation
replaced by the stand-in's `Floor().noop`, a METH_FASTCALL|METH_KEYWORDS C
method that returns None at once (`f.noop(color)`). A few rows have another
floor, given in the table: `with` against two no-op calls (enter and exit),
construction against constructing and dropping a bare C object, the pickle
round trip against the round trip of such an object. Property reads are set
against `f.noop()`. The row "floor: function-like method" shows what a
callable shaped like this module's methods (vectorcall and the
method-descriptor flag) costs beside the plain METH_FASTCALL floor, and
"floor: with, function-like methods" what a `with` statement costs over an
object whose __enter__ and __exit__ are such callables: the interpreter binds
both to the object (a bound-method allocation each) before calling them.

Native rows call the type's method table from the test client's C loop
(lmrt_native_client.time_*), beside the same loop calling a no-op function of
the same signature; both test the error indicator after every call.

Time is the thread's CPU time (--wall: the monotonic wall clock). On a
shared machine the wall clock also counts the time the benchmark waits for a
core, which varied the figures by up to half between runs here; CPU time
varied by a few percent.

Each row is timed best-of-R: the floor and the operation are timed in turn in
every repeat, so drift in machine load hits both; the loop count is chosen so
one repeat takes about --budget seconds. With --runs N the whole table is
timed N times and each row keeps its best; the JSON keeps every run's best
(ns_runs, floor_runs) and the medians, and the table shows the spread. The
loop overhead (a few ns for a Python `for`) is in both figures, so ratios
understate the distance to the floor a little. Absolute figures move with
the machine; compare runs by their ratios. bench/baseline-before.json (before
the drawing paths were tuned) and bench/baseline-after.json (after) were made
with --runs 3.

--count counts instructions instead (callgrind, see instruction_counts.py):
each row's loop and its floor's, run under valgrind with collection on
only inside the loop; per row the instructions of one call, its floor's
and the difference ("own"), the median of --layouts memory layouts. The
figures repeat exactly where timings here vary by a fifth. --python PY
counts the build another environment holds (this script runs there, on
the same stand-ins); --against PY counts that build as well and prints both
with new/old; --annotate ROW attributes one row's instructions per call to
libraries and functions (self cost), and with --against lists the
functions that differ most. Valgrind comes from Debian: as root the script
installs it when it is missing, otherwise it says how.

Usage (from the repository, after scripts/test has made .venv):

    .venv/bin/python bench/bench_drawing.py                  # full run, ~20 s of CPU
    .venv/bin/python bench/bench_drawing.py --quick          # rough, ~5 s
    .venv/bin/python bench/bench_drawing.py --only blit      # rows matching a regex
    .venv/bin/python bench/bench_drawing.py --json out.json  # also save the results
    .venv/bin/python bench/bench_drawing.py --runs 3         # the table three times, best kept
    .venv/bin/python bench/bench_drawing.py --compare old.json          # run, then set beside old
    .venv/bin/python bench/bench_drawing.py --compare old.json new.json # compare two saved runs
    .venv/bin/python bench/bench_drawing.py --count                     # instructions per call, ~3 min
    .venv/bin/python bench/bench_drawing.py --count --against OTHER/bin/python  # two builds
    .venv/bin/python bench/bench_drawing.py --annotate blit_texture --against OTHER/bin/python
"""

import argparse
import datetime
import gc
import itertools
import json
import os
import platform
import re
import statistics
import sys
import time
from collections import defaultdict

# The benchmark is defined on the recording stand-ins, whatever the default
# platform of the installation is.
os.environ["LUMO_PLATFORM"] = "recording"

import pickle  # noqa: E402

import instruction_counts  # noqa: E402
import lmrt_native_client as client  # noqa: E402
import lumo_standin as standin  # noqa: E402
from lumo_ui.fast.lmrect.lmrect import LmRect  # noqa: E402
from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture  # noqa: E402
from lumo_ui.fast.lmvector2.lmvector2 import LmVector2  # noqa: E402

RED = (255, 0, 0, 255)


class FunctionLike:
    """Holds a callable shaped like the module's method objects; without a
    dict, so that the lookup costs what it costs on an extension type."""

    __slots__ = ()
    noop = client.FunctionFloor()
    __enter__ = client.FunctionFloor()
    __exit__ = client.FunctionFloor()


def namespace():
    """The locals every timed statement may use."""
    target = LmRenderTexture(LmVector2(256.0, 128.0))
    source = LmRenderTexture(LmVector2(64.0, 32.0))
    return {
        "t": target,
        "src": source,
        "f": standin.Floor(),
        "fl": FunctionLike(),
        "F": standin.Floor,
        "T": LmRenderTexture,
        "color": RED,
        "pos": (10, 20),
        "rect": (10, 20, 64, 32),
        "vec": LmVector2(10.0, 20.0),
        "tint": LmRect(255.0, 255.0, 255.0, 0.0),
        "tex": source.render_texture.texture,
        "size": LmVector2(64.0, 32.0),
        "flip": False,
        "loads": pickle.loads,
        "dumps": pickle.dumps,
    }


# (name, statement[, floor statement]). A row without a floor is a method
# call or a property read on an object, `x.name(args)` or `x.name`: its floor
# is `f.noop(args)` (or `f.noop()`), the same statement with a no-op in place
# of the operation.
PYTHON_CASES = [
    ("floor: function-like method", "fl.noop(color)"),
    ("fast_clear", "t.fast_clear(color)"),
    ("clear", "t.clear(color)"),
    ("fill", "t.fill(color)"),
    ("fast_blit (x, y)", "t.fast_blit(src, pos)"),
    ("fast_blit (x, y, w, h)", "t.fast_blit(src, rect)"),
    ("blit (x, y)", "t.blit(src, pos)"),
    ("blit (x, y, w, h) flip=, color=", "t.blit(src, rect, flip=flip, color=color)"),
    ("lmblit", "t.lmblit(src, vec)"),
    ("fast_blit_texture", "t.fast_blit_texture(tex, pos)"),
    ("blit_texture", "t.blit_texture(tex, pos)"),
    ("with target: pass", "with t:\n    pass", "f.noop()\nf.noop(None, None, None)"),
    ("floor: with, function-like methods", "with fl:\n    pass", "f.noop()\nf.noop(None, None, None)"),
    ("get_width()", "t.get_width()"),
    ("get_height()", "t.get_height()"),
    ("get_rect()", "t.get_rect()"),
    ("width", "t.width"),
    ("height", "t.height"),
    ("texture", "t.texture"),
    ("id", "t.id"),
    ("depth", "t.depth"),
    ("size", "t.size"),
    ("render_texture", "t.render_texture"),
    ("loaded", "t.loaded"),
    ("loaded = True", "t.loaded = True", "f.noop(True)"),
    ("construction + deallocation", "T(size)", "F(size)"),
    ("copy()", "t.copy()"),
    ("pickle round trip", "loads(dumps(t))", "loads(dumps(f))"),
]

# (name, client timer, arguments before n: names in the namespace, or numbers).
# Each timer takes n, the floor flag and the clock flag last.
NATIVE_CASES = [
    ("native c_fast_clear", "time_c_fast_clear", ("t", "color")),
    ("native fast_clear (skip_dispatch 1)", "time_fast_clear", ("t", "color")),
    ("native get_width", "time_get_width", ("t",)),
    ("native c_fast_blit (x, y)", "time_c_fast_blit", ("t", "src", "pos", 1, "color")),
    ("native c_fast_blit (x, y, w, h)", "time_c_fast_blit", ("t", "src", "rect", 1, "color")),
    ("native c_fast_lmblit", "time_c_fast_lmblit", ("t", "src", "vec", 0, 1, "tint")),
]


def floor_of(statement):
    """The floor of a row that names none: `f.noop` with the same arguments."""
    call = re.fullmatch(r"\w+\.\w+(\(.*\))?", statement)
    if not call:
        raise ValueError(f"the row {statement!r} must name its floor")
    return "f.noop" + (call[1] or "()")


def make_loop(statement, names, clock):
    """A function timing n runs of `statement`, with `names` as its locals so
    that the operation and its floor pay the same for them. The loop makes
    no object per iteration (as `range` would past 256), so the cost of an
    iteration does not depend on n."""
    body = "\n".join("        " + line for line in statement.splitlines())
    source = (
        f"def loop(n, {', '.join(names)}):\n"
        f"    start = clock()\n"
        f"    for _ in repeat(None, n):\n"
        f"{body}\n"
        f"    return clock() - start\n"
    )
    scope = {"clock": clock, "repeat": itertools.repeat}
    exec(source, scope)
    return scope["loop"]


def python_timer(statement, ns, cpu):
    """ns-per-call timer of a Python statement: timer(n) -> ns."""
    names = sorted(name for name in ns if re.search(rf"\b{name}\b", statement))
    loop = make_loop(statement, names, time.thread_time_ns if cpu else time.perf_counter_ns)
    values = [ns[name] for name in names]
    return lambda n: loop(n, *values) / n


def native_timer(function, args, floor, cpu):
    timer = getattr(client, function)
    return lambda n: timer(*args, n, floor, cpu)


def calibrate(timer, budget):
    """A loop count making one run of `timer` take about `budget` seconds."""
    n = 1000
    while True:
        cost = timer(n)
        if n * cost >= 2e7 or n >= 10**8:  # at least 20 ms measured
            return max(100, int(budget * 1e9 / cost))
        n *= 10


def measure(operation, floor, repeats, budget):
    """Best and median ns per call of the operation and of its floor."""
    operation(1000)  # warm caches, the allocator and the specialising interpreter
    floor(1000)
    n = calibrate(operation, budget)
    n_floor = calibrate(floor, budget)
    costs, floors = [], []
    gc.collect()
    gc.disable()
    try:
        for _ in range(repeats):
            floors.append(floor(n_floor))
            costs.append(operation(n))
    finally:
        gc.enable()
    return {
        "ns": min(costs),
        "ns_median": statistics.median(costs),
        "floor_ns": min(floors),
        "floor_median": statistics.median(floors),
        "ratio": min(costs) / min(floors),
    }


def cases(ns, cpu):
    """(name, operation timer, floor timer, floor description) per row."""
    for name, statement, *floor in PYTHON_CASES:
        floor = floor[0] if floor else floor_of(statement)
        yield name, python_timer(statement, ns, cpu), python_timer(floor, ns, cpu), floor.replace("\n", "; ")
    for name, function, arguments in NATIVE_CASES:
        args = [ns[argument] if isinstance(argument, str) else argument for argument in arguments]
        yield (
            name,
            native_timer(function, args, False, cpu),
            native_timer(function, args, True, cpu),
            "C no-op, same signature",
        )


def run(options):
    """Times every selected row, the whole table --runs times over so that a
    burst of load on the shared machine spoils one run of a row, not all;
    keeps each row's best, and the per-run bests as a measure of the noise."""
    standin.reset()
    rows = {}
    with standin.quiet():
        ns = namespace()
        selected = [row for row in cases(ns, not options.wall) if not options.only or re.search(options.only, row[0])]
        for number in range(options.runs):
            if options.runs > 1:
                print(f"run {number + 1} of {options.runs}")
            print(f"{'operation':38} {'ns/call':>8} {'floor ns':>9} {'ratio':>6}  floor")
            for name, operation, floor, floor_text in selected:
                timing = measure(operation, floor, options.repeats, options.budget)
                print(f"{name:38} {timing['ns']:8.1f} {timing['floor_ns']:9.1f} {timing['ratio']:6.2f}  {floor_text}")
                row = rows.setdefault(name, {"name": name, "floor": floor_text, "runs": []})
                row["runs"].append(timing)
    return [best_of(row) for row in rows.values()]


def best_of(row):
    """A row's best figures over all runs, with the spread of the runs."""
    runs = row.pop("runs")
    best = min(timing["ns"] for timing in runs)
    floor = min(timing["floor_ns"] for timing in runs)
    row.update(
        ns=best,
        floor_ns=floor,
        ratio=best / floor,
        ns_runs=[round(timing["ns"], 2) for timing in runs],
        floor_runs=[round(timing["floor_ns"], 2) for timing in runs],
        ns_median=statistics.median(timing["ns_median"] for timing in runs),
        floor_median=statistics.median(timing["floor_median"] for timing in runs),
    )
    return row


def print_table(results):
    print(f"\nbest of all runs\n{'operation':38} {'ns/call':>8} {'floor ns':>9} {'ratio':>6} {'spread':>7}")
    for row in results:
        spread = max(row["ns_runs"]) / row["ns"] - 1
        print(f"{row['name']:38} {row['ns']:8.1f} {row['floor_ns']:9.1f} {row['ratio']:6.2f} {spread:7.1%}")


def machine():
    """What the figures depend on, so that two saved runs can be judged."""
    return {
        "python": sys.version,
        "implementation": platform.python_implementation(),
        "platform": platform.platform(),
        "machine": platform.machine(),
        "processor": platform.processor(),
        "cpus": os.cpu_count(),
        "load_average": os.getloadavg(),
        "date": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
    }


def compare(old, new):
    """Prints two runs side by side: ns, ratio to the floor, and how each
    changed (new/old); the change of the ratio is the one to trust across
    machines and loads."""
    before = {row["name"]: row for row in old["results"]}
    print(f"\n{'operation':38} {'old ns':>8} {'new ns':>8} {'old ×fl':>8} {'new ×fl':>8} {'ns n/o':>7} {'×fl n/o':>7}")
    for row in new["results"]:
        was = before.get(row["name"])
        if was is None:
            print(f"{row['name']:38} {'-':>8} {row['ns']:8.1f} {'-':>8} {row['ratio']:8.2f}")
            continue
        print(
            f"{row['name']:38} {was['ns']:8.1f} {row['ns']:8.1f} {was['ratio']:8.2f} {row['ratio']:8.2f} "
            f"{row['ns'] / was['ns']:7.2f} {row['ratio'] / was['ratio']:7.2f}"
        )


def load(path):
    with open(path, encoding="utf-8") as file:
        return json.load(file)


def count_child(spec):
    """Under callgrind: runs every selected row's loops for instruction_counts
    and prints the plan, the label of each loop in the order run."""
    standin.reset()
    with standin.quiet():
        ns = namespace()
        selected = [row for row in cases(ns, True) if re.search(spec["only"], row[0])]
        loops, rows = [], []
        for name, operation, floor, floor_text in selected:
            rows.append({"name": name, "floor": floor_text})
            loops.append(((name, "operation"), operation))
            if spec["floors"]:
                loops.append(((name, "floor"), floor))
        instruction_counts.count_loops(loops, spec["calls"], spec["warm_up"])
    print(json.dumps({"loops": [label for label, _ in loops], "rows": rows}))


def child_arguments(options, only, floors, layout=0):
    """The child's command line; each layout warms up a little longer."""
    spec = {"only": only, "floors": floors, "calls": options.calls, "warm_up": options.warm_up + 37 * layout}
    return ["--count-child", json.dumps(spec)]


def build_label(python):
    """The counted interpreter as the reports name it: its path from here
    when it lies below this folder, else its environment's folder and the
    path in it (saved reports hold no machine's absolute paths)."""
    relative = os.path.relpath(python)
    if not relative.startswith(os.pardir):
        return relative
    parts = os.path.normpath(python).split(os.sep)
    return os.path.join(*parts[-3:])


def count_rows(options, python):
    """Instructions per call of every selected row and of its floor, counted
    in the build that `python` runs: medians over the layouts."""
    plan, figures = instruction_counts.count(
        python, os.path.abspath(__file__),
        lambda layout: child_arguments(options, options.only or "", True, layout),
        options.calls, options.layouts,
    )
    per_loop = {tuple(label): values for label, values in figures}
    results = []
    for row in plan["rows"]:
        runs = per_loop[row["name"], "operation"]
        floor_runs = per_loop[row["name"], "floor"]
        results.append({
            **row,
            "ir": statistics.median(runs),
            "floor_ir": statistics.median(floor_runs),
            "own_ir": statistics.median(op - floor for op, floor in zip(runs, floor_runs)),
            "ir_runs": runs,
            "floor_ir_runs": floor_runs,
        })
    return {
        "kind": "instructions",
        "machine": machine(),
        "python": build_label(python),
        "options": {
            "calls": options.calls, "warm_up": options.warm_up, "layouts": options.layouts, "only": options.only,
        },
        "results": results,
    }


def print_counts(report):
    print(f"instructions per call ({report['python']}), median of {report['options']['layouts']} layouts")
    print(f"{'operation':38} {'Ir':>9} {'spread':>7} {'floor Ir':>9} {'own Ir':>9} {'×floor':>7}  floor")
    for row in report["results"]:
        spread = max(row["ir_runs"]) - min(row["ir_runs"])
        print(
            f"{row['name']:38} {row['ir']:9.1f} {spread:7.1f} {row['floor_ir']:9.1f} {row['own_ir']:9.1f} "
            f"{row['ir'] / row['floor_ir']:7.2f}  {row['floor']}"
        )


def compare_counts(old, new):
    """Two counted builds side by side: the whole call, and the own work (the
    call less its floor), each with new/old. "spread" is the larger of the
    two rows' spreads over the layouts: a difference within it may be where
    objects landed rather than what the code does."""
    before = {row["name"]: row for row in old["results"]}
    print(f"\nold: {old['python']}\nnew: {new['python']}")
    print(
        f"{'operation':38} {'old Ir':>9} {'new Ir':>9} {'n/o':>6} {'spread':>7} "
        f"{'old own':>9} {'new own':>9} {'own n/o':>7}"
    )
    for row in new["results"]:
        was = before.get(row["name"])
        if was is None:
            print(f"{row['name']:38} {'-':>9} {row['ir']:9.1f}")
            continue
        spread = max(max(r["ir_runs"]) - min(r["ir_runs"]) for r in (row, was))
        own_ratio = row["own_ir"] / was["own_ir"] if was["own_ir"] > 0 else float("nan")
        print(
            f"{row['name']:38} {was['ir']:9.1f} {row['ir']:9.1f} {row['ir'] / was['ir']:6.3f} {spread:7.1f} "
            f"{was['own_ir']:9.1f} {row['own_ir']:9.1f} {own_ratio:7.3f}"
        )


def the_row(pattern):
    """The one row named by `pattern` (its exact name, or a regex matching only it)."""
    names = [case[0] for case in PYTHON_CASES] + [case[0] for case in NATIVE_CASES]
    if pattern in names:
        return pattern
    matching = [name for name in names if re.search(pattern, name)]
    if len(matching) != 1:
        sys.exit(f"--annotate {pattern!r} must name one row; it matches {matching or 'none'}")
    return matching[0]


def annotate(options):
    """Per-function instructions per call of one row, in this build (and in
    the --against build beside it, sorted by the difference)."""
    row = the_row(options.annotate)
    only = "^" + re.escape(row) + "$"
    symbols = instruction_counts.Symbols(options.symbols or [])
    builds = [options.python] + ([options.against] if options.against else [])
    tables = []
    for python in builds:
        _, table = instruction_counts.attribute(
            python, os.path.abspath(__file__), child_arguments(options, only, False), options.calls, symbols
        )
        tables.append(table)
    print(f"{row}: instructions per call by object")
    print_by_object(tables, builds)
    print(f"\n{row}: instructions per call by function (self cost)")
    if len(tables) == 1:
        table = tables[0]
        print(f"{'Ir':>9}  function [object]   ({builds[0]})")
        for key, value in sorted(table.items(), key=lambda item: -abs(item[1]))[: options.top]:
            if abs(value) >= 0.05:
                print(f"{value:9.1f}  {key[1]} [{key[0]}]")
        print(f"{sum(table.values()):9.1f}  total")
        return
    new, old = tables
    print(f"old: {builds[1]}\nnew: {builds[0]}")
    print(f"{'old Ir':>9} {'new Ir':>9} {'new-old':>9}  function [object]")
    keys = sorted(set(old) | set(new), key=lambda key: -abs(new.get(key, 0) - old.get(key, 0)))
    for key in keys[: options.top]:
        was, now = old.get(key, 0.0), new.get(key, 0.0)
        if abs(now - was) >= 0.05:
            print(f"{was:9.1f} {now:9.1f} {now - was:+9.1f}  {key[1]} [{key[0]}]")
    print(f"{sum(old.values()):9.1f} {sum(new.values()):9.1f} {sum(new.values()) - sum(old.values()):+9.1f}  total")


def print_by_object(tables, builds):
    """The per-function table summed per object (the module, libpython, libc...)."""
    sums = []
    for table in tables:
        by_object = defaultdict(float)
        for (obj, _), value in table.items():
            by_object[obj] += value
        sums.append(by_object)
    objects = sorted(set().union(*sums), key=lambda obj: -max(abs(s.get(obj, 0)) for s in sums))
    print("".join(f"{'build ' + str(i + 1):>10}" for i in range(len(builds))) + "  object")
    for obj in objects:
        if max(abs(s.get(obj, 0)) for s in sums) >= 0.05:
            print("".join(f"{s.get(obj, 0.0):10.1f}" for s in sums) + f"  {obj}")
    for i, python in enumerate(builds):
        print(f"build {i + 1}: {python}")


def counting(options):
    instruction_counts.ensure_valgrind()
    if options.annotate:
        annotate(options)
        return
    report = count_rows(options, options.python)
    print_counts(report)
    if options.json:
        save(report, options.json)
    if options.against:
        old = count_rows(options, options.against)
        print()
        print_counts(old)
        compare_counts(old, report)
    elif options.compare:
        compare_any(load(options.compare[0]), report)


def compare_any(old, new):
    if old.get("kind") != new.get("kind"):
        sys.exit("--compare: one run is of instruction counts, the other of times")
    (compare_counts if new.get("kind") == "instructions" else compare)(old, new)


def save(report, path):
    with open(path, "w", encoding="utf-8") as file:
        json.dump(report, file, indent=1)
        file.write("\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer, shorter repeats")
    parser.add_argument("--only", metavar="PATTERN", help="only rows whose name matches this regex")
    parser.add_argument("--repeats", type=int, help="timed runs per row, best kept (default 11)")
    parser.add_argument("--budget", type=float, help="seconds per timed run (default 0.02)")
    parser.add_argument("--wall", action="store_true", help="wall-clock time instead of thread CPU time")
    parser.add_argument("--runs", type=int, default=1, help="times the whole table, best kept (default 1)")
    parser.add_argument("--json", metavar="PATH", help="write the results here")
    parser.add_argument(
        "--compare", nargs="+", metavar="JSON",
        help="OLD: run, then compare with OLD; OLD NEW: compare two saved runs without running",
    )
    counts = parser.add_argument_group("instruction counts (callgrind)")
    counts.add_argument("--count", action="store_true", help="count instructions per call instead of timing")
    counts.add_argument(
        "--python", metavar="PATH", default=sys.executable,
        help="count the build this interpreter runs (default: this one)",
    )
    counts.add_argument("--against", metavar="PATH", help="also count the build of this interpreter, and compare")
    counts.add_argument("--annotate", metavar="ROW", help="instructions per call of one row, by function")
    counts.add_argument("--top", type=int, default=40, help="functions listed by --annotate (default 40)")
    counts.add_argument(
        "--symbols", metavar="DIR", action="append",
        help="folder holding unstripped builds of the module, to name its functions (build/ is searched)",
    )
    counts.add_argument("--calls", type=int, default=1000, help="counted iterations per row (default 1000)")
    counts.add_argument("--warm-up", type=int, default=200, help="iterations before counting (default 200)")
    counts.add_argument(
        "--layouts", type=int, default=3, help="memory layouts counted, median kept (default 3)"
    )
    parser.add_argument("--count-child", help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.count_child:
        count_child(json.loads(options.count_child))
        return
    if options.compare and len(options.compare) > 2:
        parser.error("--compare takes OLD or OLD NEW")
    if options.compare and len(options.compare) == 2:
        compare_any(load(options.compare[0]), load(options.compare[1]))
        return
    if options.count or options.annotate:
        counting(options)
        return
    options.repeats = options.repeats or (3 if options.quick else 11)
    options.budget = options.budget or (0.01 if options.quick else 0.02)

    report = {
        "machine": machine(),
        "options": {
            "repeats": options.repeats, "budget": options.budget, "runs": options.runs, "only": options.only,
            "clock": "wall" if options.wall else "thread CPU time",
        },
        "results": run(options),
    }
    if options.runs > 1:
        print_table(report["results"])
    if options.json:
        save(report, options.json)
    if options.compare:
        compare_any(load(options.compare[0]), report)


if __name__ == "__main__":
    main()
