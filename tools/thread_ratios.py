#!/usr/bin/env python3
"""Reads the output of tools/bench.sh and prints, for every benchmark case
run on 1 thread and on 2 (or all) threads, the two medians and their ratio:
below 1 the threads gained, above 1 they cost. Cases name their thread
count (threads:N, _Nthread(s), .../side/N) or are paired across a
program's two runs (OTK_NUM_THREADS=1, then all cores).

    python3 tools/thread_ratios.py build-bench/results-<time>/cpp.txt [regex]
"""
import collections
import re
import statistics
import sys

UNITS = {'ns': 1e-3, 'us': 1.0, 'ms': 1e3, 's': 1e6}
# How a case names its thread count, and what stands for it in the pairing
# (threads:0 is all cores).
MARKERS = [(r'threads:(\d+)', 'threads:T'), (r'_(\d+)threads?\b', '_Tthreads'),
           (r'(side_threads/\d+/)(\d+)', None)]


def thread_marker(name):
    for pattern, token in MARKERS:
        m = re.search(pattern, name)
        if m:
            if token is None:
                return int(m.group(2)), name[:m.start(2)] + 'T' + name[m.end(2):]
            threads = int(m.group(1))
            return (threads if threads > 0 else 2), name[:m.start()] + token + name[m.end():]
    return None, name


def read(path):
    times = collections.defaultdict(lambda: collections.defaultdict(list))
    run_threads = None
    for line in open(path, errors='replace'):
        line = re.sub(r'\x1b\[[0-9;]*m', '', line)
        section = re.match(r'## ([^,\s]+)(, (OTK_NUM_THREADS=1|all cores))?', line)
        if section:
            run_threads = {None: None, 'OTK_NUM_THREADS=1': 1, 'all cores': 2}[section.group(3)]
            continue
        m = re.match(r'(\S+?)(/real_time)?_median\s+([\d.]+)\s*(ns|us|ms|s)\b', line)
        if not m:
            continue
        threads, case = thread_marker(m.group(1))
        if threads is None:
            threads = run_threads
        if threads is None:
            continue
        times[case][min(threads, 2)].append(float(m.group(3)) * UNITS[m.group(4)])
    return times


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    wanted = re.compile(sys.argv[2] if len(sys.argv) > 2 else '.')
    times = read(sys.argv[1])
    print(f'{"case":64s} {"1 thread us":>12s} {"2 threads us":>12s} {"2/1":>6s}')
    for case in sorted(times):
        runs = times[case]
        if 1 in runs and 2 in runs and wanted.search(case):
            one, two = statistics.median(runs[1]), statistics.median(runs[2])
            print(f'{case:64s} {one:12.1f} {two:12.1f} {two / one:6.2f}')


if __name__ == '__main__':
    main()
