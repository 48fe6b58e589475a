#!/usr/bin/env python3
"""Holds the committed seek figures to the goals set for them.

On every volume, from bench/results/chip_time.txt (now) and seek-baseline.txt
(the module before seeks jumped, scripts/seek-baseline.sh):
  contiguous file: 1 MB in 512-byte reads at most 1.06 bus bytes per payload
  byte, a random 100-byte read at most 1,300 bus bytes, a fresh open and
  10-byte write near the end at most 15,000 bus bytes;
  fragmented file: none of the three above what the chain walk clocked;
  contiguous file, 64 sectors per cluster: a random read at most half the
  instructions of before.
Prints each miss and fails when there is one.
"""

import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from readme_figures import RESULTS, seek_rows  # noqa: E402

LIMITS = {'contiguous': (1.06, 1300, 15000)}
FIGURES = ('bus bytes per payload byte', 'bus bytes per random read', 'fresh write bus bytes')


def misses(now, before):
    found = []
    for (volume, file), figures in now.items():
        values = [float(value) for value in figures]
        old = [float(value) for value in before[(volume, file)]]
        limits = LIMITS.get(file, old[:3])
        for name, value, limit in zip(FIGURES, values, limits):
            if value > limit:
                found.append('%s %s: %s %g, more than %g' % (volume, file, name, value, limit))
        if file == 'contiguous' and volume.endswith('/64') and values[3] > old[3] / 2:
            found.append('%s %s: %g instructions per random read, more than half of %g'
                         % (volume, file, values[3], old[3]))
    return found


def main():
    now = seek_rows((RESULTS / 'chip_time.txt').read_text())
    before = seek_rows((RESULTS / 'seek-baseline.txt').read_text())
    if not now or set(now) != set(before):
        print('seek_goals: bench/results/ lacks the seek figures of the same volumes now and before')
        return 1
    found = misses(now, before)
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == '__main__':
    sys.exit(main())
