#!/usr/bin/env python3
"""tools/thread_ratios.py on a made-up bench.sh output: every way a case
names its thread count, a program run once per thread setting, units, and
colour codes; each case must pair its 1- and 2-thread medians."""
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
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
