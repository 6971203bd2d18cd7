#!/usr/bin/env python3
"""Ctrl-C during long otk_ calls in an interactive Octave.

Starts `octave-cli -i` on a pseudo-terminal, as a user at a terminal has it,
and for every compiled otk_ function that can run long: sizes a call to take
some seconds on this machine (from a timed call of a known size), starts it,
types Ctrl-C (the terminal's interrupt character, so the host gets SIGINT
from the terminal as from a keyboard) a moment later, and measures the time
until the prompt is back. Then checks that the call did not finish, that the
process is idle (no helper thread still working), and that a call of the same
function gives the answer it gave before the interrupts (and one known
independently). Prints one line per function with the measured time.

    interrupt_calls.py --mex-dir build/mex [--limit 1.0] [--target 2.5]

Fails when a prompt takes longer than --limit seconds (default 1.0: the aim
is 0.5 s, the rest is slack for a loaded machine), when a call ends by
itself before Ctrl-C, or when a check after the interrupts fails.
"""
import argparse
import os
import pty
import re
import select
import sys
import time

PROMPT = b"OTK> "

# name: (setup of size {K}, or None for the stacks SHARED makes; the data
# the call takes, {D} in the call; the call; K for timing (stacks of SHARED
# for those); most K (memory); doubles the host makes for the call per
# element of P, touched before the call (otk_transform_template: the host
# copies the template's five fields, then the three results); a check
# giving true). Setups make their data cheaply; no data set, its results
# included, takes much more than 1 GB. The checks run calls of a size that
# takes helper threads, against the answer of the same call made before any
# interrupt (ref_<name>, set up below) and an answer known apart.
CASES = [
    ("otk_warp_stacks",
     None, "A", "B = otk_warp_stacks({D}, 3, -2, 5);", 4, 0, 0,
     "isequal(otk_warp_stacks(S8, 2, 1, 3), ref_otk_warp_stacks) && isequal(otk_warp_stacks(S8, 0, 0, 0), S8)"),
    ("otk_warp_maps",
     None, "A", "B = otk_warp_maps(reshape({D}, 256, 256, []), 3, -2, 5, 16);", 4, 0, 0,
     "isequal(otk_warp_maps(M8, 2, 1, 3, 16), ref_otk_warp_maps) && isequal(otk_warp_maps(M8, 0, 0, 0, 16), M8)"),
    ("otk_saturate",
     None, "A", "B = otk_saturate({D}, 0.7);", 4, 0, 0,
     "isequal(otk_saturate(M8, 2), ref_otk_saturate) && max(abs(otk_saturate(M8, 2)(:) - 2 * tanh(M8(:) / 2))) < 1e-12"),
    ("otk_response_density",
     None, "A", "B = otk_response_density({D});", 4, 0, 0,
     "isequal(otk_response_density(S8), ref_otk_response_density) && abs(sum(otk_response_density(S8)) / 20 - 1) < 1e-12"),
    ("otk_score_template",
     "C = repmat(reshape(mod(1:64*64*16, 97) / 50, 64, 64, 16), 1, 1, 1, {K});", "C",
     "B = otk_score_template({D}, TL, 'ShiftRange', 8, 'OriRange', 4);", 4, 1000, 0,
     "isequal(otk_score_template(S8, T, 'ShiftRange', 2), ref_otk_score_template)"),
    ("otk_search_transform",
     "C = repmat(reshape(mod(1:64*64*16, 97) / 50, 64, 64, 16), 1, 1, 1, {K});", "C",
     "B = otk_search_transform({D}, TL, 'ShiftRange', 4, 'OriRange', 2);", 2, 1000, 0,
     "isequaln(otk_search_transform(S8, T, 'ShiftRange', 2), ref_otk_search_transform)"),
    ("otk_transform_points",
     "P = mod((1:1e5*{K})', 90) + 5; O = mod(P, 16);", "P",
     "[B1, B2, B3] = otk_transform_points(16, 50, 50, {D}, {D}, O, 3, 4, 5);", 4, 200, 3,
     "isequal(nthargout(1:3, @otk_transform_points, 16, 50, 50, (1:9)', (9:-1:1)', (0:8)', 3, 4, 0), "
     "{(4:12)', (13:-1:5)', (0:8)'})"),
    ("otk_transform_template",
     "P = mod((1:1e5*{K})', 90) + 5; Q = struct('orientation', mod(P, 16), 'row', P, 'column', P, "
     "'weight', P, 'bias', P);", "Q",
     "B = otk_transform_template({D}, struct('rowShift', 1, 'columnShift', 0, 'rotation', 4, "
     "'orientations', 16, 'centre', [50 50]));", 4, 200, 8,
     "isequal(otk_transform_template(T, struct('rowShift', 2, 'columnShift', -1, 'rotation', 0, "
     "'orientations', 16, 'centre', [48 48])).row, T.row + 2)"),
    ("otk_oriented_responses",
     "P = reshape(mod(1:256*256*{K}, 97) / 50, 256, 256, {K});", "P",
     "B = otk_oriented_responses({D}, 16);", 2, 60, 16,
     "isequal(otk_oriented_responses(I8, 4), ref_otk_oriented_responses) && "
     "isequal(otk_oriented_responses(zeros(32, 32, 2), 4), zeros(32, 32, 4, 2))"),
    ("otk_score_map",
     "C = repmat(reshape(mod(1:64*64*16, 97) / 50, 64, 64, 16), 1, 1, 1, {K});", "C",
     "B = otk_score_map({D}, T, 'Rotations', 0:7);", 4, 400, 0,
     "isequal(otk_score_map(S8, T, 'Rotations', [0 3]), ref_otk_score_map) && "
     "isequal(reshape(otk_score_map(S8, T)(32, 32, :), [], 1), otk_score_template(S8, T))"),
    ("otk_learn_template",
     "C = repmat(reshape(mod(1:64*64*16, 97) / 50, 64, 64, 16), 1, 1, 1, {K});", "C",
     "B = otk_learn_template({D}, 40, 'ShiftRange', 6, 'OriRange', 3);", 8, 600, 0,
     "isequal(otk_learn_template(S8, 10), ref_otk_learn_template) && numel(ref_otk_learn_template.row) == 10"),
]

# The stacks of the warps, the saturation and the density (48 of 16 x 256^2,
# 400 MB; Octave's reshape shares them), their first 4 for timing, and the
# memory of their results touched once.
SHARED_STACKS = 48
SHARED = ("A = repmat(reshape(mod(1:256*256*16, 97) / 50, 256, 256, 16), 1, 1, 1, %d); "
          "A4 = A(:, :, :, 1:4); Z = zeros(numel(A), 1); clear Z;" % SHARED_STACKS)

# Data of the checks (sizes that take helpers), the template of scoring and
# searching, and the answers before any interrupt.
PREPARE = (
    "S8 = reshape(mod((1:64*64*16*8) * 7, 101) / 60, 64, 64, 16, 8); "
    "M8 = reshape(S8, 64, 64, []); "
    "e = (1:300)'; T = struct('orientation', mod(e, 16), 'row', mod(e * 7, 40) + 12, "
    "'column', mod(e * 13, 40) + 12, 'weight', 1 + mod(e, 3), 'bias', mod(e, 2) / 4); "
    "e = (1:10000)'; TL = struct('orientation', mod(e, 16), 'row', mod(e * 7, 50) + 7, "
    "'column', mod(e * 13, 50) + 7, 'weight', 1 + mod(e, 3), 'bias', mod(e, 2) / 4); "
    "ref_otk_warp_stacks = otk_warp_stacks(S8, 2, 1, 3); "
    "ref_otk_warp_maps = otk_warp_maps(M8, 2, 1, 3, 16); "
    "ref_otk_saturate = otk_saturate(M8, 2); "
    "ref_otk_response_density = otk_response_density(S8); "
    "ref_otk_score_template = otk_score_template(S8, T, 'ShiftRange', 2); "
    "ref_otk_search_transform = otk_search_transform(S8, T, 'ShiftRange', 2); "
    "I8 = reshape(mod(1:64*64*8, 13), 64, 64, 8); "
    "ref_otk_oriented_responses = otk_oriented_responses(I8, 4); "
    "ref_otk_score_map = otk_score_map(S8, T, 'Rotations', [0 3]); "
    "ref_otk_learn_template = otk_learn_template(S8, 10);"
)


# The host allocates a call's results (zeros); on a virtual machine the
# first touch of fresh pages can cost more than the kernels that fill them
# (here 2.5-5 s for 335 MB), and that is the host's work, which Ctrl-C does
# not cut short. Freed memory is kept in the heap instead of being returned,
# and each case touches what its results need before the long call, so that
# Ctrl-C lands in the kernels.
ENVIRONMENT = {"MALLOC_MMAP_MAX_": "0", "MALLOC_TRIM_THRESHOLD_": str(1 << 40)}


class Session:
    def __init__(self, mex_dir):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.environ.update(ENVIRONMENT)
            os.execvp("octave-cli", ["octave-cli", "--norc", "--quiet", "--no-history", "-i"])
        self.out = b""
        # The prompt made from character codes, so that the echo of this
        # line does not hold it.
        self.send("PS1(char([%s])); addpath('%s'); more off" % (" ".join(str(b) for b in PROMPT), mex_dir))
        if not self.wait_for(PROMPT, 60):
            raise RuntimeError("no prompt from octave-cli: %r" % self.out[-400:])

    def send(self, line):
        self.out = b""
        os.write(self.fd, line.encode() + b"\n")

    def wait_for(self, token, timeout):
        end = time.monotonic() + timeout
        while token not in self.out:
            left = end - time.monotonic()
            if left <= 0:
                return False
            ready, _, _ = select.select([self.fd], [], [], left)
            if not ready:
                return False
            try:
                data = os.read(self.fd, 65536)
            except OSError:
                return False
            if not data:
                return False
            self.out += data
        return True

    def run(self, line, timeout=120):
        """Runs a line and returns what it printed up to the prompt."""
        self.send(line)
        if not self.wait_for(PROMPT, timeout):
            raise RuntimeError("no prompt after %r: %r" % (line[:80], self.out[-400:]))
        return self.out.decode(errors="replace")

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def close(self):
        try:
            os.write(self.fd, b"exit\n")
            end = time.monotonic() + 20
            while time.monotonic() < end:
                done, _ = os.waitpid(self.pid, os.WNOHANG)
                if done:
                    return
                time.sleep(0.05)
            os.kill(self.pid, 9)
            os.waitpid(self.pid, 0)
        except OSError:
            pass


def value_of(text, key):
    """The number printed as KEY=<number> on a line of its own (the echo of
    the command, wrapped at the terminal's width, holds the format)."""
    found = re.search(r"(?m)(?:^|\r)" + key + r"=([-+0-9.eE]+|NaN|Inf)\r?$", text)
    return found.group(1) if found else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mex-dir", required=True)
    parser.add_argument("--limit", type=float, default=1.0, help="most seconds from Ctrl-C to the prompt")
    parser.add_argument("--target", type=float, default=1.5, help="seconds a long call is sized to take")
    parser.add_argument("--delay", type=float, default=0.3, help="seconds from the start of a call to Ctrl-C")
    parser.add_argument("--only", default="", help="comma-separated function names")
    args = parser.parse_args()
    only = set(filter(None, args.only.split(",")))

    s = Session(os.path.abspath(args.mex_dir))
    failures = []
    try:
        s.run(PREPARE)
        shared_made = False
        for name, setup, data, call, k0, most, spare, check in CASES:
            if only and name not in only:
                continue
            started = time.monotonic()
            # How long a call of the timing size takes here, once its
            # memory has been had (see ENVIRONMENT).
            cleared = " clear B B1 B2 B3 C P O Q;"
            if setup is None:
                if not shared_made:
                    s.run(SHARED)
                    shared_made = True
                timed, k = "A4", SHARED_STACKS
            else:
                s.run(setup.replace("{K}", str(k0)))
                timed = data
            s.run(call.replace("{D}", timed) + " clear B B1 B2 B3;")
            text = s.run("tic; " + call.replace("{D}", timed) + " printf('T=%.6f\\n', toc);" + cleared)
            taken = float(value_of(text, "T") or "nan")
            if setup is not None:
                k = min(most, max(k0, int(k0 * args.target / max(taken, 1e-3)) + 1))
                s.run(setup.replace("{K}", str(k)) + " Z = zeros(ceil(%g * numel(P)), 1); clear Z;" % spare
                      if spare else setup.replace("{K}", str(k)))
            expected = taken * k / k0
            # The call starts after the marker is printed; Ctrl-C comes a
            # little later.
            s.send("disp(['G' 'O']); " + call.replace("{D}", data) + " disp(['DO' 'NE'])")
            if not s.wait_for(b"GO\r\n", 30):
                raise RuntimeError("%s: the call did not start: %r" % (name, s.out[-400:]))
            time.sleep(min(args.delay, expected / 4))
            s.out = b""
            os.write(s.fd, b"\x03")
            pressed = time.monotonic()
            back = s.wait_for(PROMPT, 60)
            elapsed = time.monotonic() - pressed
            printed = s.out.decode(errors="replace")
            if not back:
                failures.append("%s: no prompt within 60 s of Ctrl-C" % name)
                break
            # Helpers stopped: the process is idle at the prompt.
            before = s.cpu_seconds()
            time.sleep(0.5)
            busy = s.cpu_seconds() - before
            finished = "DONE" in printed
            how = "error otk:interrupted" if "interrupted" in printed else "the host's interrupt"
            text = s.run("printf('OK=%d\\n', " + check + ");" + cleared)
            ok = value_of(text, "OK") == "1"
            print("%-24s K=%-5d (%.2f s expected): prompt %.3f s after Ctrl-C, %s, %.2f s CPU in the next 0.5 s, "
                  "check %s (%.0f s in all)" % (name, k, expected, elapsed, how, busy, "passed" if ok else "FAILED",
                                               time.monotonic() - started))
            sys.stdout.flush()
            if finished:
                failures.append("%s: the call ended before Ctrl-C (K=%d); make it larger" % name)
            if elapsed > args.limit:
                failures.append("%s: %.3f s from Ctrl-C to the prompt (limit %.2f s)" % (name, elapsed, args.limit))
            if busy > 0.25:
                failures.append("%s: %.2f s of CPU in the 0.5 s after the prompt: helpers still working" %
                                (name, busy))
            if not ok:
                failures.append("%s: the check after the interrupt failed: %s" % (name, text[-300:]))
        text = s.run("printf('SUM=%d\\n', 1 + 1);")
        if value_of(text, "SUM") != "2":
            failures.append("the session is not usable at the end: %r" % text[-300:])
    finally:
        s.close()
    for f in failures:
        print("FAILED: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
