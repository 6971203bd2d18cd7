#!/usr/bin/env python3
"""Leak-checked run of every entry point: octave-cli with the address
sanitizer's runtime preloaded runs tests/octave/leak_check_calls.m against
the sanitized plug-ins, and the leak checker reports at exit. Blocks lost
while a call ran are ours: those whose allocation has the host's call of a
plug-in (call_mex) or a frame of the toolbox's sources among its frames.
The host leaves blocks of its own start-up and exit behind, which no call
made; those are left out, and their report shows that the checker ran.
(Asked before exit, the checker finds nothing: the host still holds the
lost blocks then, and lets go of them only as it exits; the plug-ins are
unloaded by then, so their frames have no names, but the host's call of
them has.) Every malloc is unwound in full for that
(fast_unwind_on_malloc=0), which costs: 5 calls of each entry point took
10-20 s on 2 shared cores.

    leak_check.py --mex-dir DIR --asan-runtime LIB [--calls N]

Exits 1 on a leak of ours, or when the checker did not run.
"""
import argparse
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
OCTAVE_TESTS = os.path.join(SOURCE, "tests", "octave")


def records(report):
    """The leak records of a report: (header, frames)."""
    out = []
    for block in re.split(r"\n(?=(?:Direct|Indirect) leak of )", report):
        m = re.match(r"((?:Direct|Indirect) leak of [^\n]*)\n(.*)", block, re.S)
        if m:
            frames = [line.strip() for line in m.group(2).splitlines() if line.strip().startswith("#")]
            out.append((m.group(1), frames))
    return out


def ours(frame):
    return " in call_mex(" in frame or SOURCE + os.sep in frame


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mex-dir", required=True)
    parser.add_argument("--asan-runtime", required=True)
    parser.add_argument("--calls", type=int, default=5)
    args = parser.parse_args()
    env = dict(os.environ)
    env.update({
        "LD_PRELOAD": args.asan_runtime,
        "ASAN_OPTIONS": "detect_leaks=1:allow_user_segv_handler=0:fast_unwind_on_malloc=0:malloc_context_size=40",
        "LSAN_OPTIONS": "exitcode=0",
        "TOOLBOX_LEAK_CALLS": str(args.calls),
    })
    command = ["octave-cli", "--norc", "--quiet", "--no-history", "--path", os.path.abspath(args.mex_dir),
               "--path", OCTAVE_TESTS, os.path.join(OCTAVE_TESTS, "leak_check_calls.m")]
    proc = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env)
    output = proc.stdout.decode(errors="replace")
    m = re.search(r"^LEAK CHECK (.*)$", output, re.M)
    if not m or "SUMMARY: AddressSanitizer" not in output:
        print(output[-3000:])
        print("leak_check: the leak checker did not run (status %d)" % proc.returncode)
        return 1
    all_records = records(output)
    found = [(h, f) for h, f in all_records if any(ours(frame) for frame in f)]
    print("leak_check: %s; %d leak records, %d of them from the toolbox" % (m.group(1), len(all_records), len(found)))
    for header, frames in found:
        print(header)
        for frame in frames:
            print("    " + frame)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
