#!/usr/bin/env python3
"""Prints the one table of a tools/bench.sh run from its results folder: the
C++ programs' JSON output (cpp-bench_<Name>.json) and the rows the Octave
scripts appended (*.tsv). Per case: our time at 1 thread and at 2 (or all
cores), the baseline (the plain build) and the ratios to it, the peer and
the ratio to it. Lower ratios are better; below 1 we are faster.

    python3 tools/bench_table.py build-bench/results-<time>
"""
import collections
import glob
import os
import re
import sys

TO_SECONDS = {'ns': 1e-9, 'us': 1e-6, 'ms': 1e-3, 's': 1.0}

# How each family of C++ case names says which case it is and what it times:
# (pattern, case from the match, role from the match). Roles: ours1, ours2,
# base, or ('peer', name); None leaves the entry out of the table.
TEMPLATE = re.compile(r'^(\w+)/(plain_baseline_1thread|kernel_1thread|kernel_\d+threads)/([^/]+)')
SATURATION = re.compile(r'^(\w+)/side:(\d+)/N:(\d+)/images:(\d+)/threads:(\d+)')
WARP = re.compile(r'^([a-z]+_[^/]+)/(plain_baseline|product_1thread|product_\d+thread|'
                  r'opencv_warpAffine_nearest_1thread)(/|$)')
# The peers of the saturation programs: a bare exp loop beside Fenwold, the
# saturation pass alone beside Porrith.
SATURATION_PEERS = {'BareExp': 'bare exp loop', 'FenwoldPass': 'Fenwold pass'}


def classify(program, name):
    """(case, role) of one C++ entry, or None when it is not in the table."""
    kernel = program[len('bench_'):]
    m = TEMPLATE.match(name)
    if m:
        role = {'plain_baseline_1thread': 'base', 'kernel_1thread': 'ours1'}.get(m.group(2), 'ours2')
        return '%s %s' % (m.group(1), m.group(3)), role
    m = SATURATION.match(name)
    if m:
        runner, side, n, images, threads = m.groups()
        case = '%s %s^2 x %s, %s img' % (kernel, side, n, images)
        if runner == kernel:
            return case, 'ours1' if threads == '1' else 'ours2'
        if runner == 'PlainBaseline':
            return case, 'base'
        if runner in SATURATION_PEERS and threads == '1':
            return case, ('peer', SATURATION_PEERS[runner])
        return None
    m = WARP.match(name)
    if m:
        runner = m.group(2)
        if runner == 'plain_baseline':
            role = 'base'
        elif runner == 'product_1thread':
            role = 'ours1'
        elif runner.startswith('product_'):
            role = 'ours2'
        else:
            role = ('peer', 'OpenCV warpAffine')
        return m.group(1), role
    return None


def read_json(path):
    import json
    program = os.path.basename(path)[len('cpp-'):-len('.json')]
    try:
        data = json.load(open(path))
    except (OSError, ValueError):
        return []
    entries = data.get('benchmarks', [])
    medians = [b for b in entries if b.get('aggregate_name') == 'median']
    rows = collections.OrderedDict()
    for b in medians or [b for b in entries if b.get('run_type', 'iteration') == 'iteration']:
        name = b.get('run_name', b['name'])
        found = classify(program, name)
        if found is None or 'real_time' not in b:
            continue
        case, role = found
        seconds = b['real_time'] * TO_SECONDS.get(b.get('time_unit', 'ns'), 1e-9)
        row = rows.setdefault(case, {'section': 'C++', 'case': case})
        if isinstance(role, tuple):
            row['peer_name'], row['peer'] = role[1], seconds
        else:
            row[role] = seconds
            if role == 'base':
                row['base_name'] = 'plain loop'
    return list(rows.values())


def read_tsv(path):
    rows = []
    for line in open(path, errors='replace'):
        fields = line.rstrip('\n').split('\t')
        if len(fields) < 8:
            continue
        section, case, one, two, base_name, base, peer_name, peer = fields[:8]
        row = {'section': section, 'case': case}
        for key, value in (('ours1', one), ('ours2', two), ('base', base), ('peer', peer)):
            try:
                row[key] = float(value)
            except ValueError:
                pass
        row['base_name'], row['peer_name'] = base_name, peer_name
        rows.append(row)
    return rows


def time_text(seconds):
    if seconds is None:
        return '-'
    for unit, scale in (('s', 1.0), ('ms', 1e-3), ('us', 1e-6)):
        if seconds >= scale:
            return '%.3g %s' % (seconds / scale, unit)
    return '%.3g ns' % (seconds / 1e-9)


def ratio_text(a, b):
    if a is None or b is None or b == 0:
        return '-'
    return '%.2f' % (a / b)


def table(rows):
    header = ('section', 'case', '1 thread', '2 threads', 'baseline', '1t/base', '2t/base', 'peer', '1t/peer',
              'baseline / peer')
    lines = [header]
    for r in rows:
        one, two, base, peer = (r.get(k) for k in ('ours1', 'ours2', 'base', 'peer'))
        names = ' / '.join(n or '-' for n in (r.get('base_name'), r.get('peer_name')))
        lines.append((r['section'], r['case'], time_text(one), time_text(two), time_text(base),
                      ratio_text(one, base), ratio_text(two, base), time_text(peer), ratio_text(one, peer), names))
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    out = []
    for k, line in enumerate(lines):
        out.append('  '.join(cell.ljust(w) if i < 2 or i == len(line) - 1 else cell.rjust(w)
                             for i, (cell, w) in enumerate(zip(line, widths))).rstrip())
        if k == 0:
            out.append('  '.join('-' * w for w in widths))
    return '\n'.join(out)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    folder = argv[1]
    rows = []
    for path in sorted(glob.glob(os.path.join(folder, 'cpp-*.json'))):
        rows += read_json(path)
    for stem in ('host', 'sweep'):
        path = os.path.join(folder, stem + '.tsv')
        if os.path.exists(path):
            rows += read_tsv(path)
    if not rows:
        print('no results in %s' % folder)
        return 1
    print(table(rows))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
