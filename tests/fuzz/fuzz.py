#!/usr/bin/env python3
"""Hostile-input fuzzer for the six plug-ins and every otk_ function, run in a
real octave-cli.

Each probe starts from a valid call of one entry point and replaces one
argument, one cell's content or one element with a value from a catalogue
(every integer class, single, complex, sparse, logical, char, struct,
function handle, empty, NaN, +-Inf, -0, +-1e300, +-2^31, 2^53+1,
non-scalars, 3-D arrays), gives a cell argument a wrong shape, drops
arguments, or passes one array in two positions. A probe passes when the
call returns, or raises an error whose id is "Name:mnemonic" (for an otk_
function also "otk:mnemonic") and leaves every array bit-identical; it fails
when the process crashes, hangs, or a sanitizer reports. Every otk_ function
of the toolbox must have a valid call here: one without is reported before
anything runs.

First, every integer-valued argument (counts, sizes, indices, shifts,
rotations, integer-valued options and template fields) gets each of the
extreme values in EXTREMES, one probe each: these probes are the same for
every count and seed, so every run has them, and so are the must-fail
probes: each compiled otk_ function's valid call with an input too many,
each option name followed by a NUL and more, each scalar given as '', {},
struct([]) or a sparse scalar; returning from one of these is a finding
(a wrong call taken silently). The random probes that follow
are drawn from a seeded generator, so a count and a seed name the same
probes on every machine. They run many to a process; when a process dies,
the first probe without a result is run on its own (crash or hang), and the
batch goes on after it. Every probe runs under a time limit and, in a plain
build, an address-space limit.

    fuzz.py --mex-dir DIR [--count N] [--seed S] [--asan-runtime LIB] [--out DIR]
            [--no-extremes]

--count is the number of random probes, after the extreme ones.

Prints the counts (probes, calls that returned, errors by id, crashes,
hangs, bad ids, arrays changed by a failing call) and writes a runnable .m
file for every finding into --out. Exits 1 when there is a finding.
"""
import argparse
import collections
import os
import random
import re
import signal
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OCTAVE_TESTS = os.path.join(os.path.dirname(HERE), "octave")

PROBES_PER_PROCESS = 100  # start-up is cheap (0.3 s); the probes' own work dominates
BATCH_SECONDS = 90   # a batch of plain probes takes 1-2 s, sanitized 2-5 s under load
SINGLE_SECONDS = 30  # one probe, octave start-up included, is well below 2 s
ADDRESS_SPACE = 4 << 30  # plain builds: the host needs well under 1 GB

# ---------------------------------------------------------------------------
# Valid calls. Each argument is (Octave expression, kind, detail): kind
# "scalar"; "array" with its element count; "cell" with the contents
# (expressions), its rows and columns, and each content's element count.


def smap(rows, cols, k):
    """A rows x cols map of distinct values in -0.2..1.1, some above 0."""
    return "reshape(mod((1:%d) * %g, 1.3) - 0.2, %d, %d)" % (rows * cols, 0.137 * k, rows, cols)


def scalar(v):
    return (v, "scalar", None)


def array(expr, count):
    return (expr, "array", count)


def cell(contents, rows, cols, elems):
    body = ";".join(", ".join(contents[r + rows * c] for c in range(cols)) for r in range(rows))
    return ("{" + body + "}", "cell", (contents, rows, cols, elems))


def spike(expr, count, at):
    """expr with 1e6 at linear index at: a response that, pooled without a
    cap, makes every write of the call far larger than any valid index."""
    return "%s + reshape(1e6 * ((1:%d) == %d), size(%s))" % (expr, count, at, expr)


def halvery_call():
    maps = [smap(5, 5, k + 1) for k in range(4)]
    maps[0] = spike(maps[0], 25, 13)  # image 1, orientation 0, under element 1
    maps[1] = spike(maps[1], 25, 13)  # image 2
    return [
        scalar("2"), scalar("2"), cell(maps, 2, 2, 25), ("cell(2, 2)", "cell", ([], 2, 2, 0)),
        scalar("1"), scalar("5"), scalar("5"), scalar("0"),
        array("[0 1]", 2), array("[3 2]", 2), array("[3 4]", 2), array("[2 -1]", 2), array("[1 0.5]", 2),
        cell(["ones(3)", "2 * ones(3)"], 2, 1, 9), cell(["zeros(5)", "zeros(5)"], 2, 1, 25),
        scalar("1"), scalar("1"), scalar("1"), scalar("2"), scalar("1e9"),
        array("zeros(2, 1)", 2), array("zeros(2, 2)", 4), scalar("0"), scalar("0"), scalar("0"), scalar("0"),
    ]


def wendlow_call():
    maps = [smap(9, 9, k + 1) for k in range(8)]
    maps[0] = spike(maps[0], 81, 42)
    maps[1] = spike(maps[1], 81, 42)
    a = halvery_call()
    a[1] = scalar("4")
    a[2] = cell(maps, 2, 4, 81)
    a[3] = ("{}", "cell", ([], 0, 0, 0))  # not read; an empty one keeps the probes' bit checks short
    a[5] = scalar("9")
    a[6] = scalar("9")
    a[8] = array("[0 2]", 2)
    a[9] = array("[6 3]", 2)
    a[10] = array("[4 5]", 2)
    a[13] = ("cell(4, 1)", "cell", ([], 4, 1, 0))
    a[14] = cell(["zeros(9)", "zeros(9)"], 2, 1, 81)
    a[21] = array("zeros(1, 1)", 1)
    return a + [array("7 + zeros(2, 1)", 2), array("8 + zeros(2, 1)", 2), array("9 + zeros(2, 1)", 2)]


def warp_call(channels):
    n = 2 * channels
    sources = [smap(3, 4, k + 1) for k in range(n)]
    results = ["-7 * ones(3, 4)"] * n
    return [
        scalar("2"), scalar("2"), cell(sources, 2, channels, 12), cell(results, 2, channels, 12),
        scalar("3"), scalar("4"), array("[0 1]", 2), array("[1 -1]", 2), array("[1 3]", 2),
    ]


def saturation_maps(side):
    return cell([smap(side, side, k + 1) for k in range(4)], 2, 2, side * side)


def stack(rows, cols, n, images):
    """An rows x cols x n x images array of distinct maps, one spike in the
    first map of each image (the layer functions take maps as one array)."""
    maps = [smap(rows, cols, k + 1) for k in range(n * images)]
    for i in range(images):
        maps[i * n] = spike(maps[i * n], rows * cols, (rows * cols + 1) // 2)
    return "reshape([%s], %d, %d, %d, %d)" % (", ".join("reshape(%s, 1, [])" % m for m in maps),
                                              rows, cols, n, images)


def option(text):
    return ("'%s'" % text, "name", None)


def template(count):
    """A template struct of count elements, as otk_template makes it."""
    fields = [("orientation", [0, 1, 1]), ("row", [3, 2, 4]), ("column", [3, 4, 2]),
              ("weight", [2, -1, 0.5]), ("bias", [1, 0.5, 0])]
    body = ", ".join("'%s', [%s]" % (f, " ".join("%g" % v for v in values[:count])) for f, values in fields)
    return ("struct(%s)" % body, "struct", None)


TRANSFORM = "struct('rowShift', 1, 'columnShift', -1, 'rotation', 4, 'orientations', 4, 'centre', [4 4])"

CALLS = {
    "Halvery": halvery_call,
    "Wendlow": wendlow_call,
    "Sabrel": lambda: warp_call(1),
    "Mundle": lambda: warp_call(2),
    "Fenwold": lambda: [scalar("2"), scalar("2"), saturation_maps(4), scalar("4"), scalar("4"), scalar("1.5")],
    "Porrith": lambda: [scalar("2"), scalar("2"), saturation_maps(5), scalar("1"), scalar("5"), scalar("5"),
                        scalar("0.2"), scalar("6"), array("zeros(1, 6)", 6), scalar("1.3")],
    "otk_score_template": lambda: [
        array(stack(5, 5, 2, 2), 100), template(2), option("ShiftRange"), scalar("1"), option("OriRange"),
        scalar("1"), option("ShiftStep"), scalar("1"), option("Saturation"), scalar("1e9"), option("Patches"),
        array("ones(3, 3, 2)", 18)],
    "otk_search_transform": lambda: [
        array(stack(9, 9, 4, 2), 648), template(3), option("ShiftRange"), scalar("1"), option("OriRange"),
        scalar("1"), option("ShiftStep"), scalar("1"), option("Saturation"), scalar("2")],
    "otk_transform_template": lambda: [template(3), (TRANSFORM, "struct", None)],
    "otk_warp_maps": lambda: [array(stack(3, 4, 1, 2), 24), array("[0 1]", 2), array("[1 -1]", 2),
                              array("[1 3]", 2), scalar("2")],
    "otk_warp_stacks": lambda: [array(stack(3, 4, 2, 2), 48), array("[0 1]", 2), array("[1 -1]", 2),
                                array("[1 3]", 2)],
    "otk_saturate": lambda: [array(stack(4, 4, 2, 2), 64), scalar("1.5")],
    "otk_response_density": lambda: [
        array(stack(5, 5, 2, 2), 100), option("Saturation"), scalar("1.3"), option("Bins"), scalar("6"),
        option("BinWidth"), scalar("0.2"), option("Margin"), scalar("1")],
    "otk_template": lambda: [array("[0 1]", 2), array("[3 2]", 2), array("[3 4]", 2), array("[2 -1]", 2),
                             array("[1 0.5]", 2)],
    "otk_threads": lambda: [scalar("1")],
    "otk_transform_points": lambda: [scalar("16"), scalar("10"), scalar("20"), array("[11 10]", 2),
                                     array("[20 21]", 2), array("[0 3]", 2), scalar("0"), scalar("0"),
                                     scalar("8")],
    "otk_version": lambda: [],
    "otk_oriented_responses": lambda: [
        array(stack(6, 5, 2, 1), 60), scalar("3"), option("Wavelength"), scalar("5"), option("SigmaAlong"),
        scalar("2"), option("SigmaAcross"), scalar("1"), option("HalfSize"), scalar("3")],
    "otk_learn_template": lambda: [
        array(stack(7, 7, 2, 2), 196), scalar("3"), option("ShiftRange"), scalar("1"), option("OriRange"),
        scalar("1"), option("ShiftStep"), scalar("1"), option("Saturation"), scalar("2"), option("Radius"),
        scalar("3"), option("Separation"), scalar("2"), option("BiasFraction"), scalar("0.5")],
    "otk_score_map": lambda: [
        array(stack(7, 7, 2, 2), 196), template(3), option("ShiftRange"), scalar("1"), option("OriRange"),
        scalar("1"), option("ShiftStep"), scalar("1"), option("Saturation"), scalar("1e9"), option("Rotations"),
        array("[0 1]", 2), option("MaxPeaks"), scalar("3"), option("MinDistance"), scalar("2")],
}

# Outputs asked of an entry point whose later outputs take work of their own
# (the others are called for one).
OUTPUTS = {"otk_score_map": 4}

# Where each entry point reads a whole number (rounded, floored or checked to
# be one): Octave places in the argument list a, each probed with EXTREMES.
TEMPLATE_PLACES = ["a{1}", "a{2}", "a{5}", "a{6}", "a{7}", "a{9}(1)", "a{10}(1)", "a{11}(1)",
                   "a{16}", "a{17}", "a{18}", "a{19}"]
WARP_PLACES = ["a{1}", "a{2}", "a{5}", "a{6}", "a{7}(1)", "a{8}(1)", "a{9}(1)"]
TEMPLATE_FIELDS = ["a{2}.orientation(1)", "a{2}.row(1)", "a{2}.column(1)"]
INTEGER_PLACES = {
    "Halvery": TEMPLATE_PLACES,
    "Wendlow": TEMPLATE_PLACES,
    "Sabrel": WARP_PLACES,
    "Mundle": WARP_PLACES,
    "Fenwold": ["a{1}", "a{2}", "a{4}", "a{5}"],
    "Porrith": ["a{1}", "a{2}", "a{4}", "a{5}", "a{6}", "a{8}"],
    "otk_score_template": TEMPLATE_FIELDS + ["a{4}", "a{6}", "a{8}"],
    "otk_search_transform": TEMPLATE_FIELDS + ["a{4}", "a{6}", "a{8}"],
    "otk_transform_template": ["a{1}.orientation(1)", "a{1}.row(1)", "a{1}.column(1)", "a{2}.rowShift",
                               "a{2}.columnShift", "a{2}.rotation", "a{2}.orientations", "a{2}.centre(1)",
                               "a{2}.centre(2)"],
    "otk_warp_maps": ["a{2}(1)", "a{3}(1)", "a{4}(1)", "a{5}"],
    "otk_warp_stacks": ["a{2}(1)", "a{3}(1)", "a{4}(1)"],
    "otk_saturate": [],
    "otk_response_density": ["a{5}", "a{9}"],
    "otk_template": ["a{1}(1)", "a{2}(1)", "a{3}(1)"],
    "otk_threads": ["a{1}"],
    "otk_transform_points": ["a{%d}" % p for p in (1, 2, 3, 7, 8, 9)] + ["a{4}(1)", "a{5}(1)", "a{6}(1)"],
    "otk_version": [],
    "otk_oriented_responses": ["a{2}", "a{10}"],
    "otk_learn_template": ["a{2}", "a{4}", "a{6}", "a{8}"],
    "otk_score_map": TEMPLATE_FIELDS + ["a{4}", "a{6}", "a{8}", "a{12}(1)", "a{14}"],
}

# The ends of the int range and just past them, as a double may reach them:
# -2^31 - 0.5 rounds (halves up) to the lowest int, 2^31 - 0.5 to one past
# the highest. A reader that accepts a negative count or size must keep it
# from every product and index it feeds.
# (2^31 itself is among the random NUMBERS; 2^31 - 0.5 rounds to it.)
EXTREMES = ["-2^31", "-2^31 - 0.5", "-2^30", "-1", "2^31 - 1", "2^31 - 0.5", "2^30"]

# Places whose value is the length of a new array the function returns, and
# the extremes they are spared: none. A length that only asks the host for
# memory it refuses (2^31-1 bins once asked 17 GB) must be refused first,
# with an id.
RESULT_LENGTHS = set()
ALLOCATING_EXTREMES = {"2^31 - 1", "2^30"}

# Values that are no value of the class a place reads, though empty: where
# [] means the default, these must not (nor may a sparse scalar pass as one).
WRONG_EMPTIES = ["''", "{}", "struct([])"]

# ---------------------------------------------------------------------------
# The catalogue.

NUMBERS = [
    "NaN", "Inf", "-Inf", "-0", "0", "1e300", "-1e300", "2^31", "-2^31", "2^31 - 1", "-2^31 - 1",
    "2^53 + 1", "-(2^53 + 1)", "0.5", "-0.5", "-1", "1e9", "-1e9", "2^30", "3", "1e-300", "2^62",
]
VALUES = NUMBERS + [
    "int8(-3)", "uint8(200)", "int16(300)", "uint16(2)", "int32(-5)", "uint32(9)", "int64(-2^40)",
    "uint64(2^40)", "int32(2^31 - 1)", "single(2.5)", "single(NaN)", "1 + 2i", "complex(1, 0)",
    "sparse([1 0 2])", "sparse(3, 3)", "true", "logical([1 0 1])", "'a'", "'abc'", "struct('a', 1)",
    "struct([])", "@sin", "[]", "zeros(0, 3)", "zeros(3, 0)", "[1 2 3]", "[1; 2]", "ones(2, 2, 2)",
    "ones(5, 5, 2)", "{}", "{1}", "cell(3, 3)", "{zeros(5)}", "zeros(9)", "NaN(5)", "-0 * ones(5)",
    "int32(zeros(5))", "single(zeros(5))", "complex(zeros(5))", "sparse(zeros(5))", "true(5)",
]
SHAPES = ["a{%d} = a{%d}.';", "a{%d} = a{%d}(1:end - 1);", "a{%d} = [a{%d}, a{%d}];",
          "a{%d} = reshape(a{%d}, 1, []);", "a{%d} = a{%d}(:, 1);", "a{%d} = a{%d}(1, :);",
          "a{%d} = reshape(a{%d}, 1, 1, []);"]


def positions(call, kinds):
    return [p for p, arg in enumerate(call) if arg[1] in kinds]


def filled_cells(call):
    """(position, cell index) of every cell content of the call, from 0."""
    return [(p, k) for p, arg in enumerate(call) if arg[1] == "cell" for k in range(len(arg[2][0]))]


def mutation(rng, name, call):
    """One hostile change of the call: Octave lines acting on a (1-based)."""
    if not call:
        return []  # nothing to change: the call as it is
    numbers = ["a{%d}" % (p + 1) for p in positions(call, ["scalar"])] + INTEGER_PLACES[name]
    kind = rng.choices(["argument", "number", "cell", "element", "shape", "alias", "nargin", "two"],
                       [22, 14, 10, 18, 8, 16, 3, 9])[0]
    # A change the call has nothing for becomes a replaced argument.
    if (kind in ("number", "two") and not numbers) or (kind in ("cell", "shape") and not filled_cells(call)) \
            or (kind == "element" and not element_targets(call)) or (kind == "alias" and len(alias_places(call)) < 2):
        kind = "argument"
    if kind == "argument":
        p = rng.randrange(len(call))
        return ["a{%d} = %s;" % (p + 1, rng.choice(VALUES))]
    if kind == "number":
        return ["%s = %s;" % (rng.choice(numbers), rng.choice(NUMBERS))]
    if kind == "cell":
        p, k = rng.choice(filled_cells(call))
        return ["a{%d}{%d} = %s;" % (p + 1, k + 1, rng.choice(VALUES))]
    if kind == "element":
        p, k, count = rng.choice(element_targets(call))
        where = "a{%d}" % (p + 1) if k is None else "a{%d}{%d}" % (p + 1, k + 1)
        return ["%s(%d) = %s;" % (where, rng.randrange(count) + 1, rng.choice(NUMBERS))]
    if kind == "shape":
        p = rng.choice(positions(call, ["cell"])) + 1
        shape = rng.choice(SHAPES)
        return [shape % ((p,) * shape.count("%d"))]
    if kind == "alias":
        return [alias(rng, call)]
    if kind == "nargin":
        return ["a = a(1:%d);" % rng.randrange(len(call))]
    # Two at once: a number where a whole number is read, and, where the
    # call has arrays to share, one shared array.
    lines = ["%s = %s;" % (rng.choice(numbers), rng.choice(NUMBERS))]
    if len(alias_places(call)) >= 2:
        lines.append(alias(rng, call))
    return lines


def element_targets(call):
    targets = [(p, None, call[p][2]) for p in positions(call, ["array"])]
    return targets + [(p, k, call[p][2][3]) for p, k in filled_cells(call) if call[p][2][3] > 0]


def alias_places(call):
    places = ["a{%d}" % (p + 1) for p in positions(call, ["array", "cell"])]
    return places + ["a{%d}{%d}" % (p + 1, k + 1) for p, k in filled_cells(call) if call[p][2][3] > 0]


def alias(rng, call):
    """The same array in two places: argument or cell content, either side."""
    to, source = rng.sample(alias_places(call), 2)
    return "%s = %s;" % (to, source)


def uncovered_functions():
    """The otk_ functions of the toolbox (otk/*.m and otk/*.cpp) that the
    catalogue has no valid call for: a new one must be added to CALLS and
    INTEGER_PLACES to be probed."""
    layer = os.path.join(os.path.dirname(os.path.dirname(HERE)), "otk")
    names = set(os.path.splitext(f)[0] for f in os.listdir(layer) if re.match(r"otk_\w+\.(m|cpp)$", f))
    return sorted(n for n in names if n not in CALLS or n not in INTEGER_PLACES)


def setup_line(call):
    return "a = {%s};" % ", ".join(arg[0] for arg in call)


def extreme_probes():
    """Every integer-valued place of every entry point with every extreme
    value, one probe each, numbered from 1 in a fixed order."""
    probes = []
    for name in sorted(CALLS):
        call = CALLS[name]()
        for place in INTEGER_PLACES[name]:
            for value in EXTREMES:
                if (name, place) in RESULT_LENGTHS and value in ALLOCATING_EXTREMES:
                    continue
                probes.append((len(probes) + 1, name, setup_line(call), ["%s = %s;" % (place, value)]))
    return probes


def compiled_layer(name):
    """An otk_ function compiled in C++ (its inputs are read there)."""
    layer = os.path.join(os.path.dirname(os.path.dirname(HERE)), "otk")
    return name.startswith("otk_") and os.path.exists(os.path.join(layer, name + ".cpp"))


def contract_probes(first=1):
    """Calls of the compiled otk_ functions that must fail, numbered from
    first in a fixed order: the valid call with an input too many; every
    option name with a NUL and more after it; every scalar as an empty value
    of another class, and as a sparse scalar. Returning from one of them is
    a finding: the mistake was taken silently."""
    probes = []

    def add(name, setup, line):
        probes.append((first + len(probes), name, setup, [line]))

    for name in sorted(CALLS):
        if not compiled_layer(name):
            continue
        call = CALLS[name]()
        setup = setup_line(call)
        add(name, setup, "a{end + 1} = 5;")
        for p in positions(call, ["name"]):
            add(name, setup, "a{%d} = [a{%d} char(0) 'junk'];" % (p + 1, p + 1))
        for p in positions(call, ["scalar"]):
            for value in WRONG_EMPTIES:
                add(name, setup, "a{%d} = %s;" % (p + 1, value))
            add(name, setup, "a{%d} = sparse(a{%d});" % (p + 1, p + 1))
    return probes


def make_probes(count, seed, first=1):
    rng = random.Random(seed)
    names = sorted(CALLS)
    probes = []
    for k in range(first, first + count):
        name = names[rng.randrange(len(names))]
        call = CALLS[name]()
        lines = mutation(rng, name, call)
        probes.append((k, name, setup_line(call), lines))
    return probes


def probe_code(probe):
    """The probe's arguments built twice, into storage of their own each: the
    first build stays untouched, for comparison after a failed call."""
    k, name, setup, lines = probe
    body = "\n  ".join([setup] + lines)
    return ("try\n  %s\n  fresh = a;\n  %s\ncatch err\n  printf('SETUP %d %%s\\n', err.message);\n  a = [];\nend\n"
            "if iscell(a)\n  fz_probe(%d, '%s', a, fresh, %d);\nend\n" % (body, body, k, k, name, OUTPUTS.get(name, 0)))


# ---------------------------------------------------------------------------
# Running.

class Runner:
    def __init__(self, args):
        self.mex_dir = os.path.abspath(args.mex_dir)
        self.env = dict(os.environ)
        self.asan = args.asan_runtime is not None
        if self.asan:
            self.env["LD_PRELOAD"] = args.asan_runtime
            # Address-space limits do not mix with the sanitizer's shadow
            # memory; its own limits stand in for them.
            self.env["ASAN_OPTIONS"] = ("detect_leaks=0:allow_user_segv_handler=0:allocator_may_return_null=1:"
                                        "max_allocation_size_mb=4096:hard_rss_limit_mb=4096")
            self.env["UBSAN_OPTIONS"] = "print_stacktrace=1"
        self.workdir = tempfile.mkdtemp(prefix="fuzz-")

    def limit(self):
        os.setsid()
        if not self.asan:
            import resource
            resource.setrlimit(resource.RLIMIT_AS, (ADDRESS_SPACE, ADDRESS_SPACE))

    def run(self, probes, seconds):
        """(output, status, timed out) of one octave-cli over the probes."""
        script = os.path.join(self.workdir, "batch.m")
        with open(script, "w") as f:
            f.write("".join(probe_code(p) for p in probes))
            f.write("printf('BATCH DONE\\n');\n")
        command = ["octave-cli", "--norc", "--quiet", "--no-history", "--path", self.mex_dir,
                   "--path", OCTAVE_TESTS, "--path", HERE, script]
        proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=self.env,
                                preexec_fn=self.limit)
        try:
            out, _ = proc.communicate(timeout=seconds)
            return out.decode(errors="replace"), proc.returncode, False
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            out, _ = proc.communicate()
            return out.decode(errors="replace"), proc.returncode, True


SANITIZER_REPORT = re.compile(r"ERROR: AddressSanitizer|runtime error:|SUMMARY: UndefinedBehaviorSanitizer")


def parse(output):
    results = {}
    for m in re.finditer(r"^PROBE (\d+) (OK|ERR (\S+) (\d) (\d))$", output, re.M):
        k = int(m.group(1))
        results[k] = ("ok",) if m.group(2) == "OK" else ("error", m.group(3), m.group(4) == "1", m.group(5) == "1")
    for m in re.finditer(r"^SETUP (\d+) (.*)$", output, re.M):
        results[int(m.group(1))] = ("setup", m.group(2))
    messages = {int(m.group(1)): m.group(2) for m in re.finditer(r"^MESSAGE (\d+) (.*)$", output, re.M)}
    return results, messages


def fuzz(runner, probes):
    """Result of every probe: ("ok",), ("error", id, well formed, unchanged),
    ("crash", status, excerpt), ("hang",) or ("setup", message)."""
    outcome, messages = {}, {}
    pending = list(probes)
    while pending:
        batch = pending[:PROBES_PER_PROCESS]
        output, status, timed_out = runner.run(batch, BATCH_SECONDS)
        results, msgs = parse(output)
        messages.update(msgs)
        missing = [p for p in batch if p[0] not in results]
        if not missing and "BATCH DONE" in output and not SANITIZER_REPORT.search(output):
            outcome.update(results)
            pending = pending[len(batch):]
            continue
        # Everything before the first probe without a result is kept; that
        # probe (or, if all printed, the last one) is run on its own.
        first = missing[0] if missing else batch[-1]
        index = batch.index(first)
        for p in batch[:index]:
            outcome[p[0]] = results[p[0]]
        output, status, timed_out = runner.run([first], SINGLE_SECONDS)
        results, msgs = parse(output)
        messages.update(msgs)
        if timed_out:
            outcome[first[0]] = ("hang",)
        elif first[0] not in results or status != 0 or SANITIZER_REPORT.search(output):
            outcome[first[0]] = ("crash", status, excerpt(output))
        else:
            outcome[first[0]] = results[first[0]]
        pending = pending[len(batch[:index]) + 1:]
    return outcome, messages


def excerpt(output):
    m = re.search(r"SUMMARY: [^\n]*|runtime error:[^\n]*|fatal: [^\n]*", output)
    if m:
        return m.group(0)
    return " | ".join(output.strip().splitlines()[-2:])


def finding(result, extreme=False, must_fail=False):
    """What is wrong with a probe's result, or None. A random probe whose
    arguments could not be built (a mutation that does not apply) is not a
    finding; an extreme probe that cannot be built names a place that is not
    there, a fault of the catalogue. A probe that must fail and returned was
    taken silently."""
    if result[0] == "setup" and (extreme or must_fail):
        return "bad place"
    if result[0] == "ok" and must_fail:
        return "accepted"
    if result[0] in ("crash", "hang"):
        return result[0]
    if result[0] == "error" and not result[2]:
        return "bad id"
    if result[0] == "error" and not result[3]:
        return "changed arrays"
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mex-dir", required=True)
    parser.add_argument("--count", type=int, default=300)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--asan-runtime")
    parser.add_argument("--out", default="fuzz-findings")
    parser.add_argument("--no-extremes", action="store_true", help="only the random probes")
    args = parser.parse_args()

    missing = uncovered_functions()
    if missing:
        print("fuzz: no valid call in the catalogue for %s" % ", ".join(missing))
        return 1
    extremes = [] if args.no_extremes else extreme_probes()
    contracts = [] if args.no_extremes else contract_probes(len(extremes) + 1)
    fixed = extremes + contracts
    probes = fixed + make_probes(args.count, args.seed, len(fixed) + 1)
    runner = Runner(args)
    outcome, messages = fuzz(runner, probes)

    by_name = {p[0]: p for p in probes}
    errors = collections.Counter(r[1] for r in outcome.values() if r[0] == "error")
    is_extreme = set(p[0] for p in extremes)
    must_fail = set(p[0] for p in contracts)

    def finding_of(k):
        return finding(outcome[k], k in is_extreme, k in must_fail)

    kinds = collections.Counter(finding_of(k) for k in outcome)
    print("fuzz: %d extreme, %d must-fail and %d random probes (seed %d) against %s%s" % (
        len(extremes), len(contracts), args.count, args.seed, runner.mex_dir,
        " with the sanitizer runtime" if runner.asan else ""))
    print("  returned: %d" % sum(1 for r in outcome.values() if r[0] == "ok"))
    print("  errors: %d" % sum(errors.values()))
    for ident, n in sorted(errors.items()):
        print("    %-28s %d" % (ident, n))
    for label, kind in (("crashes", "crash"), ("hangs", "hang"), ("bad ids", "bad id"),
                        ("arrays changed by an error", "changed arrays"), ("wrong calls taken", "accepted"),
                        ("fixed probes not built", "bad place")):
        print("  %s: %d" % (label, kinds[kind]))
    print("  not run (arguments could not be built): %d" % sum(1 for r in outcome.values() if r[0] == "setup"))

    found = sorted(k for k in outcome if finding_of(k))
    if found:
        os.makedirs(args.out, exist_ok=True)
    for k in found:
        _, name, setup, lines = by_name[k]
        result = outcome[k]
        if result[0] == "crash":
            detail = result[2]
        else:
            detail = messages.get(k, result[1] if result[0] in ("error", "setup") else "")
        what = finding_of(k)
        print("FINDING probe %d, %s, %s: %s  [%s]" % (k, name, what, " ".join(lines), detail))
        with open(os.path.join(args.out, "probe_%d.m" % k), "w") as f:
            f.write("%% fuzz probe %d (seed %d): %s, %s\n%% %s\n" % (k, args.seed, name, what, detail))
            f.write("%% run: octave-cli --path <mex dir> --path tests/octave --path tests/fuzz probe_%d.m\n" % k)
            f.write(probe_code(by_name[k]))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
