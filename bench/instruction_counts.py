"""Instructions per call under callgrind, for bench_drawing.py --count.

A timed row is a loop `loop(n, ...)` (or a native client timer taking n).
The child process runs each loop twice through `operator.call`, with n and
with n + calls, under callgrind started with collection off and toggled on
inside `_operator_call` only, dumping a profile after each such call. Nothing
else in the process calls `operator.call`, so each dump holds exactly one
loop; the difference of the two dumps, divided by `calls`, is the cost of one
iteration, without the loop's set-up, the clock reads and the call through
`operator.call`, which both dumps hold alike. Under callgrind the interpreter
executes the same instructions on every run (hash seed fixed, no other
thread), so the figures repeat exactly.

They repeat exactly for one memory layout. Where objects land moves a few
rows by a few instructions, some (construction, copy, pickling) by up to
half a percent: the allocator's pools fill at other moments, and tables
keyed by address or id() probe differently. So the child runs in several
layouts (the environment padded, the warm-up lengthened), and a row's
figure is the median over them, with the spread beside it.

The module itself is installed stripped. Its functions are named in an
attribution when an unstripped copy with the same build id is found: the
build folders of this repository (scikit-build-core's `build/`), and any
folder given with --symbols.
"""

import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
from collections import defaultdict

HERE = os.path.dirname(os.path.abspath(__file__))
REPOSITORY = os.path.dirname(HERE)
TOGGLE = "_operator_call"  # operator.call's C function in libpython


# ---- valgrind ----------------------------------------------------------------


def ensure_valgrind():
    """Installs Debian's valgrind when missing, as the set-up installs Xvfb:
    only as root with apt-get; otherwise says how and exits."""
    if shutil.which("valgrind"):
        return
    if os.geteuid() != 0 or not shutil.which("apt-get"):
        sys.exit("--count needs valgrind: as root, `apt-get install valgrind` (Debian's package)")
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "update", "-qq"], check=True, env=env, stdout=subprocess.DEVNULL)
    subprocess.run(
        ["apt-get", "install", "-y", "-qq", "--no-install-recommends", "valgrind"],
        check=True, env=env, stdout=subprocess.DEVNULL,
    )


def run_under_callgrind(python, script, child_args, folder, layout=0):
    """Runs `python script child_args` under callgrind, dumping into
    `folder`; returns the child's standard output (its JSON plan) and the
    dump files in the order they were written. `layout` pads the
    environment, which moves where the interpreter's objects land."""
    out = os.path.join(folder, "callgrind.out")
    command = [
        "valgrind", "--tool=callgrind", "--collect-atstart=no",
        f"--toggle-collect={TOGGLE}", f"--dump-after={TOGGLE}",
        f"--callgrind-out-file={out}", python, script, *child_args,
    ]
    env = dict(os.environ, PYTHONHASHSEED="0", LMRT_BENCH_LAYOUT="." * (64 * layout))
    result = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        sys.stderr.write(result.stderr[-4000:])
        sys.exit(f"the counted run failed (status {result.returncode})")
    dumps = sorted(glob.glob(out + ".*"), key=lambda path: int(path.rsplit(".", 1)[1]))
    return result.stdout, dumps


# ---- the child side ------------------------------------------------------------


def count_loops(loops, calls, warm_up):
    """In the child: runs each (label, loop) warm, then with warm_up and
    warm_up + calls iterations through operator.call (two dumps each)."""
    import gc
    import operator

    gc.collect()
    gc.disable()
    try:
        for _, loop in loops:
            loop(warm_up)  # specialises the bytecode, fills caches and free lists
            operator.call(loop, warm_up)
            operator.call(loop, warm_up + calls)
    finally:
        gc.enable()


# ---- reading the dumps ----------------------------------------------------------


def dump_total(path):
    with open(path, encoding="utf-8", errors="replace") as file:
        for line in file:
            if line.startswith(("totals:", "summary:")):
                return int(line.split()[1])
    raise ValueError(f"{path}: no totals line")


_NAMED = re.compile(r"\((\d+)\)(?: (.*))?")


def self_costs(path):
    """Instructions spent in each function itself (not in its callees):
    {(object, function): Ir}. Reads the callgrind format directly: cost
    lines belong to the current fn=, except the one after a calls= line,
    which is the call's inclusive cost."""
    names = {"ob": {}, "fn": {}}
    costs = defaultdict(int)
    current = {"ob": "???", "fn": "???"}
    after_call = False
    with open(path, encoding="utf-8", errors="replace") as file:
        for line in file:
            if not line or line[0] in "#\n":
                continue
            if line[0].isdigit() or line[0] in "+-*":
                if after_call:
                    after_call = False
                    continue
                parts = line.split()
                if len(parts) >= 2:
                    costs[current["ob"], current["fn"]] += int(parts[1])
                continue
            key, _, value = line.rstrip("\n").partition("=")
            if key == "calls":
                after_call = True
            elif key in ("ob", "fn", "cob", "cfn"):
                kind = key[-2:]
                match = _NAMED.fullmatch(value)
                if match:
                    if match[2] is not None:
                        names[kind][match[1]] = match[2]
                    name = names[kind].get(match[1], value)
                else:
                    name = value
                if key in ("ob", "fn"):
                    current[kind] = name
    return costs


def per_call_functions(first, second, calls, symbols):
    """{(object, function): Ir per call} from the dumps of n and n + calls
    iterations; recursion depths ('2) merged, the module's addresses named."""
    totals = defaultdict(float)
    before = self_costs(first)
    after = self_costs(second)
    for key in set(before) | set(after):
        difference = after.get(key, 0) - before.get(key, 0)
        obj, function = key
        function = re.sub(r"'\d+$", "", function)  # recursion depth
        function = re.sub(r" \[clone [^]]*\]", "", symbols.name(obj, function))  # compiler's copies
        totals[os.path.basename(obj), function] += difference / calls
    return totals


# ---- naming the stripped module's functions ------------------------------------


def build_id(path):
    try:
        notes = subprocess.run(["readelf", "-n", path], capture_output=True, text=True).stdout
    except OSError:
        return None
    match = re.search(r"Build ID: ([0-9a-f]+)", notes)
    return match[1] if match else None


class Symbols:
    """Names the functions of stripped objects from unstripped copies with
    the same build id (addresses in callgrind's names are the object's own)."""

    def __init__(self, folders):
        self.copies = {}
        pattern = "**/lm_render_tex*.so"
        for folder in [os.path.join(REPOSITORY, "build"), *folders]:
            for path in glob.glob(os.path.join(folder, pattern), recursive=True):
                identity = build_id(path)
                if identity and self._has_symbols(path):
                    self.copies.setdefault(identity, path)
        self.tables = {}

    @staticmethod
    def _has_symbols(path):
        result = subprocess.run(["nm", path], capture_output=True, text=True)
        return result.returncode == 0 and result.stdout.strip() != ""

    def _table(self, obj):
        if obj not in self.tables:
            table = []
            copy = self.copies.get(build_id(obj)) if os.path.exists(obj) else None
            if copy:
                listing = subprocess.run(
                    ["nm", "-C", "-S", "--defined-only", copy], capture_output=True, text=True
                ).stdout
                for line in listing.splitlines():
                    parts = line.split(maxsplit=3)
                    if len(parts) == 4 and parts[2].lower() in "tw":
                        table.append((int(parts[0], 16), int(parts[1], 16), parts[3]))
                table.sort()
            self.tables[obj] = table
        return self.tables[obj]

    def name(self, obj, function):
        if not function.startswith("0x"):
            return function
        address = int(function, 16)
        for start, size, symbol in self._table(obj):
            if start <= address < start + size:
                return symbol if address == start else f"{symbol}+{address - start:#x}"
        return function


# ---- the parent side ------------------------------------------------------------


def count(python, script, arguments, calls, layouts):
    """Runs the child under callgrind once per layout (`arguments(layout)`
    gives its command line); returns its plan (a list of labels, one per
    loop, as it printed them) and, per loop, the instructions per call in
    each layout."""
    plan, figures = None, None
    for layout in range(layouts):
        with tempfile.TemporaryDirectory(prefix="lmrt-callgrind-") as folder:
            output, dumps = run_under_callgrind(python, script, arguments(layout), folder, layout)
            plan = json.loads(output.strip().splitlines()[-1])
            loops = plan["loops"]
            if len(dumps) < 2 * len(loops):
                sys.exit(f"expected {2 * len(loops)} dumps, found {len(dumps)}")
            if figures is None:
                figures = [(label, []) for label in loops]
            for index, (_, values) in enumerate(figures):
                first, second = dumps[2 * index], dumps[2 * index + 1]
                values.append((dump_total(second) - dump_total(first)) / calls)
    return plan, figures


def attribute(python, script, child_args, calls, symbols):
    """The per-function instructions per call of the one loop the child runs."""
    with tempfile.TemporaryDirectory(prefix="lmrt-callgrind-") as folder:
        output, dumps = run_under_callgrind(python, script, child_args, folder)
        plan = json.loads(output.strip().splitlines()[-1])
        if len(dumps) < 2:
            sys.exit("the counted run wrote no dumps")
        return plan, per_call_functions(dumps[0], dumps[1], calls, symbols)
