#!/usr/bin/env python3
"""tools/thread_ratios.py on a made-up bench.sh output: every way a case
names its thread count, a program run once per thread setting, units, and
colour codes; each case must pair its 1- and 2-thread medians. Then
tools/bench_table.py on a made-up results folder: each family of case names
must find its 1- and 2-thread times, its baseline and its peer, medians of
repetitions before single runs, and the Octave scripts' rows beside them."""
import json
import os
import subprocess
import sys
import tempfile

OUTPUT = """# load before the run: 0.1 0.1 0.1; busy loops: 1; repetitions: 3
## bench_Fenwold
Fenwold/side:256/N:16/images:1/threads:1/real_time_median      2000000 ns      1 3
Fenwold/side:256/N:16/images:1/threads:0/real_time_median      1000000 ns      1 3
ThresholdProbe/elements:4096/threads:1/real_time_median          20000 ns      1 3
ThresholdProbe/elements:4096/threads:2/real_time_median          30000 ns      1 3
## bench_Halvery, OTK_NUM_THREADS=1
Halvery/kernel_1thread/big_4img/real_time_median                    10 us      1 3
Halvery/kernel_2threads/big_4img/real_time_median                    5 us      1 3
Halvery/plain_only/real_time_median                                  8 us      1 3
## bench_Halvery, all cores
Halvery/kernel_1thread/big_4img/real_time_median                    30 us      1 3
Halvery/kernel_2threads/big_4img/real_time_median                    5 us      1 3
## bench_Sabrel, OTK_NUM_THREADS=1
\x1b[0;32mthreshold_1map_side_threads/128/1/real_time_median \x1b[0;33m 40.0 us 1 3
\x1b[0;32mthreshold_1map_side_threads/128/2/real_time_median \x1b[0;33m 30.0 us 1 3
sabrel_tiny/product_1thread/real_time_median                      0.5 us      1 3
sabrel_tiny/product_2thread/real_time_median                     0.6 us      1 3
## bench_Porrith, OTK_NUM_THREADS=1
Porrith/whole/real_time_median                                     2 ms      1 3
## bench_Porrith, all cores
Porrith/whole/real_time_median                                     1 ms      1 3
"""

# case: (1-thread us, 2-thread us, ratio)
EXPECTED = {
    'Fenwold/side:256/N:16/images:1/threads:T': ('2000.0', '1000.0', '0.50'),
    'ThresholdProbe/elements:4096/threads:T': ('20.0', '30.0', '1.50'),
    'Halvery/kernel_Tthreads/big_4img': ('20.0', '5.0', '0.25'),  # medians of 10, 30 and of 5, 5
    'threshold_1map_side_threads/128/T': ('40.0', '30.0', '0.75'),
    'sabrel_tiny/product_Tthreads': ('0.5', '0.6', '1.20'),
    'Porrith/whole': ('2000.0', '1000.0', '0.50'),
}


def entry(name, real_time, unit='us', aggregate=None):
    e = {'name': name + ('_' + aggregate if aggregate else ''), 'run_name': name, 'real_time': real_time,
         'time_unit': unit, 'run_type': 'aggregate' if aggregate else 'iteration'}
    if aggregate:
        e['aggregate_name'] = aggregate
    return e


RESULTS = {
    'cpp-bench_Halvery.json': [
        entry('Halvery/plain_baseline_1thread/caseA/real_time', 40, aggregate='median'),
        entry('Halvery/plain_baseline_1thread/caseA/real_time', 99, aggregate='mean'),
        entry('Halvery/kernel_1thread/caseA/real_time', 10, aggregate='median'),
        entry('Halvery/kernel_2threads/caseA/real_time', 5, aggregate='median'),
        entry('Halvery/threshold_2threads/2img/real_time', 1, aggregate='median')],
    'cpp-bench_Fenwold.json': [
        entry('Fenwold/side:256/N:16/images:1/threads:1/real_time', 2, 'ms'),
        entry('Fenwold/side:256/N:16/images:1/threads:0/real_time', 1, 'ms'),
        entry('PlainBaseline/side:256/N:16/images:1/threads:1/real_time', 4, 'ms'),
        entry('BareExp/side:256/N:16/images:1/threads:1/real_time', 1000, 'us'),
        entry('BackToBack/side:48/threads:1/spin:0/real_time', 1, 'ms')],
    'cpp-bench_Sabrel.json': [
        entry('sabrel_tiny/plain_baseline/real_time', 800, 'ns'),
        entry('sabrel_tiny/product_1thread/real_time', 400, 'ns'),
        entry('sabrel_tiny/product_2thread/real_time', 200, 'ns'),
        entry('sabrel_tiny/opencv_warpAffine_nearest_1thread/real_time', 1600, 'ns'),
        entry('sabrel_tiny/opencv_remap_nearest_1thread/real_time', 1, 'ns')],
}
HOST = 'host\tHalvery, 32 images\t0.002\t0.001\tplain build\t0.008\tOctave pool\t0.5\n' \
       'otk\totk_saturate, cells\t0.03\t0.02\traw Fenwold\t0.01\t\t\n'
# case: 1 thread, 2 threads, baseline, 1t/base, 2t/base, peer, 1t/peer
TABLE = {
    'Halvery caseA': ('10 us', '5 us', '40 us', '0.25', '0.12', '-', '-'),
    'Fenwold 256^2 x 16, 1 img': ('2 ms', '1 ms', '4 ms', '0.50', '0.25', '1 ms', '2.00'),
    'sabrel_tiny': ('400 ns', '200 ns', '800 ns', '0.50', '0.25', '1.6 us', '0.25'),
    'Halvery, 32 images': ('2 ms', '1 ms', '8 ms', '0.25', '0.12', '500 ms', '0.00'),
    'otk_saturate, cells': ('30 ms', '20 ms', '10 ms', '3.00', '2.00', '-', '-'),
}


def check_table():
    script = os.path.join(os.path.dirname(__file__), '..', '..', 'tools', 'bench_table.py')
    with tempfile.TemporaryDirectory() as folder:
        for name, entries in RESULTS.items():
            with open(os.path.join(folder, name), 'w') as f:
                json.dump({'context': {}, 'benchmarks': entries}, f)
        with open(os.path.join(folder, 'host.tsv'), 'w') as f:
            f.write(HOST)
        out = subprocess.run([sys.executable, script, folder], capture_output=True, text=True, check=True).stdout
    rows = {}
    for line in out.splitlines()[2:]:
        cells = [c.strip() for c in line.split('  ') if c.strip()]
        rows[cells[1]] = tuple(cells[2:9])
    failed = 0
    for case, want in TABLE.items():
        if rows.get(case) != want:
            print(f'table, {case}: expected {want}, got {rows.get(case)}')
            failed += 1
    extra = set(rows) - set(TABLE)
    if extra:
        print(f'table rows that should not be there: {sorted(extra)}')
        failed += 1
    print(f'{len(TABLE) - failed} of {len(TABLE)} table rows as expected')
    return failed


def main():
    script = os.path.join(os.path.dirname(__file__), '..', '..', 'tools', 'thread_ratios.py')
    with tempfile.NamedTemporaryFile('w', suffix='.txt', delete=False) as f:
        f.write(OUTPUT)
        path = f.name
    try:
        out = subprocess.run([sys.executable, script, path], capture_output=True, text=True, check=True).stdout
    finally:
        os.unlink(path)
    rows = {line.split()[0]: tuple(line.split()[1:]) for line in out.splitlines()[1:]}
    failed = 0
    for case, want in EXPECTED.items():
        if rows.get(case) != want:
            print(f'{case}: expected {want}, got {rows.get(case)}')
            failed += 1
    extra = set(rows) - set(EXPECTED)
    if extra:
        print(f'cases that should not pair: {sorted(extra)}')
        failed += 1
    print(f'{len(EXPECTED) - failed} of {len(EXPECTED)} cases paired as expected')
    failed += check_table()
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
