#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Compares two builds of the interpreter benchmark (this one and another commit's) in
# alternating rounds of ten repetitions each: per stream, the best run of each build over
# all rounds (the run least disturbed by the machine's other work) and the ratio of the
# bests, beside the ratio of the medians. A run of one build never overlaps the other's.
#   bench/compare_builds.py THIS_BENCH OTHER_BENCH [ROUNDS]
import json, subprocess, statistics, sys
A, B = sys.argv[1], sys.argv[2]
rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 4
flt = 'BM_TypedText$|BM_MixedCommands$'
def run(exe):
    out = subprocess.run([exe, '--benchmark_filter=' + flt, '--benchmark_repetitions=10',
                          '--benchmark_format=json'], capture_output=True, text=True, check=True).stdout
    res = {}
    for b in json.loads(out)['benchmarks']:
        if b.get('run_type') == 'iteration':
            res.setdefault(b['run_name'], []).append(b['bytes_per_second'] / 2**20)
    return res
all_a, all_b = {}, {}
for i in range(rounds):
    for exe, acc in ((A, all_a), (B, all_b)):
        for k, v in run(exe).items(): acc.setdefault(k, []).extend(v)
for k in all_a:
    a, b = all_a[k], all_b[k]
    print('%s best A %.1f B %.1f ratio %.3f | median A %.1f B %.1f ratio %.3f (%d runs each)' % (
        k, max(a), max(b), max(a) / max(b), statistics.median(a), statistics.median(b),
        statistics.median(a) / statistics.median(b), len(a)))
