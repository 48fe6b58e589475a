#!/usr/bin/env python3
"""Rewrites the README's figure tables from the committed bench results.

Each table sits between two marker lines:

    <!-- bench: size -->                 from bench/results/figures.txt
    <!-- bench: instructions -->         from bench/results/figures.txt
    <!-- bench: chip_time FAT32/64 -->   from bench/results/chip_time.txt, one volume
    <!-- bench: end -->

The numbers are taken as the bench programs printed them: this script only
adds thousands separators and never rounds, so the README says what the
results say. With --check it changes nothing and fails when the README
differs from what it would write (a test runs that).
"""

import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
README = ROOT / 'README.md'
RESULTS = ROOT / 'bench' / 'results'
MARKER = re.compile(r'^<!-- bench: (\S+)(?: (\S+))? -->\n(.*?)^<!-- bench: end -->\n', re.M | re.S)


def grouped(text):
    """1352.23 -> 1,352.23 and 6988 -> 6,988; anything else as it is."""
    match = re.fullmatch(r'(\d+)(\.\d+)?(%?)', text)
    if not match:
        return text
    return '{:,}'.format(int(match.group(1))) + (match.group(2) or '') + match.group(3)


def table(header, rows):
    lines = ['| ' + ' | '.join(header) + ' |', '|' + '---|' * len(header)]
    lines += ['| ' + ' | '.join(row) + ' |' for row in rows]
    return '\n'.join(lines) + '\n'


def section(text, title):
    """The lines of figures.txt under the heading that starts with `title`, up to a blank line."""
    lines = text.splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith(title)) + 1
    end = next((i for i in range(start, len(lines)) if not lines[i].strip()), len(lines))
    return lines[start:end]


def size_table(figures):
    rows = []
    for line in section(figures, 'Chip image'):
        match = re.match(r'\s+(.+?)\s+(\d+) bytes', line)
        rows.append([match.group(1), grouped(match.group(2))])
    return table(['', 'bytes'], rows)


def instructions_table(figures):
    rows = []
    for line in section(figures, 'Instructions per call')[1:]:
        match = re.match(r'\s+(.+?)\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)$', line)
        rows.append([match.group(1)] + [grouped(value) for value in match.groups()[1:]])
    return table(['operation', 'command', 'instructions', 'SPI bytes', 'stack bytes'], rows)


def chip_time_table(chip_time, volume):
    rows = []
    for line in chip_time.splitlines():
        words = line.split()
        # workload (several words), volume, then ten figures, the last the row's wall time.
        if len(words) > 11 and words[-11] == volume:
            figures = words[-10:-1]
            rows.append([' '.join(words[:-11])] + [grouped(value) for value in figures])
    if not rows:
        raise SystemExit('readme_figures: no rows for %s in bench/results/chip_time.txt' % volume)
    return table(['workload', 'calls', 'payload bytes', 'bus bytes', 'bus bytes per payload byte', 'time ms',
                  'payload kB/s', 'of bus limit', 'instructions per bus byte', 'bus shifting'], rows)


def generated(readme):
    figures = (RESULTS / 'figures.txt').read_text()
    chip_time = (RESULTS / 'chip_time.txt').read_text()
    makers = {
        'size': lambda arg: size_table(figures),
        'instructions': lambda arg: instructions_table(figures),
        'chip_time': lambda arg: chip_time_table(chip_time, arg),
    }

    def replace(match):
        name, arg = match.group(1), match.group(2)
        if name not in makers:
            raise SystemExit('readme_figures: unknown table "%s" in README.md' % name)
        head = '<!-- bench: %s%s -->\n' % (name, ' ' + arg if arg else '')
        return head + makers[name](arg) + '<!-- bench: end -->\n'

    return MARKER.sub(replace, readme)


def main():
    check = sys.argv[1:] == ['--check']
    if sys.argv[1:] and not check:
        raise SystemExit('usage: scripts/readme_figures.py [--check]')
    readme = README.read_text()
    updated = generated(readme)
    if check:
        if updated != readme:
            print('README.md: its figure tables differ from bench/results/; run scripts/refresh-results.sh '
                  'after scripts/bench.sh, or scripts/readme_figures.py alone for the committed results')
            return 1
        return 0
    README.write_text(updated)
    return 0


if __name__ == '__main__':
    sys.exit(main())
