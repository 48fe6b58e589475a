#!/usr/bin/env python3
"""Rewrites the README's figure tables from the committed bench results.

Each table sits between two marker lines:

    <!-- bench: size -->                 from bench/results/figures.txt, the standard image
    <!-- bench: images -->               from bench/results/figures.txt, the three images
    <!-- bench: instructions -->         from bench/results/figures.txt
    <!-- bench: chip_time FAT32/64 -->   from bench/results/chip_time.txt, one volume: the
                                         typical card, the fast-to-slow range beside the time
    <!-- bench: seeks -->                chip_time's seek figures, now, and before seeks jumped from
                                         bench/results/seek-baseline.txt (scripts/seek-baseline.sh)
    <!-- bench: record -->               chip_time's cost of a record appended with command 11
    <!-- bench: run -->                  the rows and wall time of the run behind the results
    <!-- bench: host_costs -->           the host services' times, from emu/host_costs.h
    <!-- bench: end -->

The numbers are taken as the bench programs printed them: this script only
adds thousands separators and never rounds, so the README says what the
results say (the host costs are converted from picoseconds, exactly). With
--check it changes nothing and fails when the README differs from what it
would write (a test runs that).
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


def image_sizes(figures):
    """{image: [bytes, code, constant data, worst-case stack]} as the post-link step counted them."""
    sizes = {}
    for line in section(figures, 'Chip images')[1:]:
        match = re.match(r'\s+(\w+)\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)$', line)
        sizes[match.group(1)] = list(match.groups()[1:])
    return sizes


def size_table(figures):
    names = ['image in flash', 'code', 'constant data', 'worst-case stack, computed']
    values = image_sizes(figures)['standard']
    return table(['', 'bytes'], [[name, grouped(value)] for name, value in zip(names, values)])


def images_table(figures):
    rows = [[name] + [grouped(value) for value in values] for name, values in image_sizes(figures).items()]
    return table(['image', 'image bytes in flash', 'code', 'constant data', 'worst-case stack'], rows)


def instructions_table(figures):
    rows = []
    for line in section(figures, 'Instructions per call')[1:]:
        match = re.match(r'\s+(.+?)\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)$', line)
        rows.append([match.group(1)] + [grouped(value) for value in match.groups()[1:]])
    return table(['operation', 'command', 'instructions', 'SPI bytes', 'stack bytes'], rows)


def chip_time_rows(chip_time):
    """{(workload, volume, card): its nine figures, calls to bus shifting} in the table's order."""
    rows = {}
    for line in chip_time.splitlines():
        words = line.split()
        # workload (several words), volume, card, then ten figures, the last the row's wall time.
        if len(words) > 12 and re.fullmatch(r'FAT\d+/\d+', words[-12]) and words[-1].endswith('s'):
            rows[(' '.join(words[:-12]), words[-12], words[-11])] = words[-10:-1]
    return rows


def with_range(typical, low, high):
    return grouped(typical) + ('' if low is None else ' (%s to %s)' % (grouped(low), grouped(high)))


def chip_time_table(chip_time, volume):
    rows = chip_time_rows(chip_time)
    cards = {card for (_, v, card) in rows if v == volume}
    card = 'typical' if 'typical' in cards else min(cards, default=None)
    ranged = {'fast', 'slow'} <= cards
    table_rows = []
    for (workload, v, c), figures in rows.items():
        if v != volume or c != card:
            continue
        fast = rows[(workload, v, 'fast')] if ranged else [None] * 9
        slow = rows[(workload, v, 'slow')] if ranged else [None] * 9
        calls, payload, bus, per_payload, time_ms, rate, share, per_byte, shifting = figures
        table_rows.append([workload, card] + [grouped(value) for value in (calls, payload, bus, per_payload)] +
                          [with_range(time_ms, fast[4], slow[4]),
                           rate if rate == '-' else with_range(rate, slow[5], fast[5])] +
                          [grouped(value) for value in (share, per_byte, shifting)])
    if not table_rows:
        raise SystemExit('readme_figures: no rows for %s in bench/results/chip_time.txt' % volume)
    return table(['workload', 'card', 'calls', 'payload bytes', 'bus bytes', 'bus bytes per payload byte',
                  'time ms (fast to slow card)', 'payload kB/s (slow to fast card)', 'of bus limit',
                  'instructions per bus byte', 'bus shifting'], table_rows)


def seek_rows(text):
    """{(volume, file): [bus per payload byte, bus per random read, fresh write bus, instructions per read]}."""
    rows = {}
    for line in text.splitlines():
        match = re.match(r'(FAT\d+/\d+)\s+(contiguous|fragmented)((?:\s+[\d.]+){4})$', line)
        if match:
            rows[(match.group(1), match.group(2))] = match.group(3).split()
    return rows


def seeks_table(chip_time, baseline):
    now = seek_rows(chip_time)
    before = seek_rows(baseline)
    if not now or set(now) != set(before):
        raise SystemExit('readme_figures: the seek figures of bench/results/chip_time.txt and '
                         'seek-baseline.txt are not of the same volumes')
    rows = []
    for key, figures in now.items():
        rows.append(list(key) + [grouped(value) for pair in zip(figures, before[key]) for value in pair])
    return table(['volume', 'file', '1 MB in 512-byte reads: bus bytes per payload byte', 'before',
                  'random 100-byte read: bus bytes per call', 'before',
                  'fresh open + 10-byte write: bus bytes, mount included', 'before',
                  'instructions per random read', 'before'], rows)


CARDS = ('fast', 'typical', 'slow', 'byte-counted')


def record_table(chip_time):
    costs = {}
    for line in chip_time.splitlines():
        match = re.match(r'\s+(FAT\d+/\d+)\s+([\w-]+)\s+(\d+) bus bytes, ([\d.]+) ms$', line)
        if match:
            costs.setdefault(match.group(1), {})[match.group(2)] = match.group(3, 4)
    if not costs:
        raise SystemExit('readme_figures: no record costs in bench/results/chip_time.txt')
    rows = []
    for volume, cards in costs.items():
        rows.append([volume] + ['%s bus bytes, %s ms' % (grouped(cards[card][0]), cards[card][1])
                                for card in CARDS if card in cards])
    cards = [card for card in CARDS if card in next(iter(costs.values()))]
    return table(['volume'] + ['%s card' % card for card in cards], rows)


def run_line(chip_time):
    match = re.search(r'^\((\d+) rows and (\d+) on the byte-counted card in (\d+) s on this machine, '
                      r'(\d+) threads?\)$', chip_time, re.M)
    counts = re.search(r'; (short-run|full) counts;', chip_time)
    if not match or not counts:
        raise SystemExit('readme_figures: no run summary in bench/results/chip_time.txt')
    rows, counted, seconds, threads = match.groups()
    return ('The committed results come from a %s run of %s table rows and %s rows on the byte-counted '
            'card, which took %s s of wall time on %s threads of the machine that ran it.\n'
            % ('short' if counts.group(1) == 'short-run' else 'full', grouped(rows), counted, grouped(seconds),
               threads))


# The services of the host table and the constants of emu/host_costs.h that time them.
HOST_SERVICES = [
    ('pin write (0x1C)', 'PIN_WRITE_PS', None, None),
    ('pin configuration (0x10)', 'PIN_CONFIG_PS', None, None),
    ('print a text (0xBC)', 'PRINT_CALL_PS', 'PRINT_PER_CHARACTER_PS', 'a character'),
    ('allocate (0x40)', 'ALLOC_CALL_PS', 'ALLOC_PER_BYTE_PS', 'a byte of the block, cleared'),
    ('list one stored line (0xC8)', 'LIST_LINE_PS', 'LIST_PER_CHARACTER_PS', 'a character'),
    ('load a program text (0xB8)', 'LOAD_CALL_PS', 'LOAD_PER_BYTE_PS', 'a byte of text'),
    ('prepare a load (0xC4)', 'PREPARE_LOAD_PS', None, None),
]


def duration(ps):
    """Picoseconds as the largest of us and ns that keeps the figure exact."""
    for unit, size in (('µs', 1000000), ('ns', 1000)):
        if ps % (size // 100) == 0 and ps >= size // 100:
            value = ps / size
            return ('%d' % value if value == int(value) else ('%.2f' % value).rstrip('0')) + ' ' + unit
    return '%d ps' % ps


def host_costs_table(header):
    constants = {'PS_PER_US': 1000000}
    for name, expression in re.findall(r'constexpr uint64_t (\w+) = ([^;]+);', header):
        constants[name] = eval(expression.replace("'", '').replace('/', '//'), {}, dict(constants))
    rows = []
    for service, call, per, what in HOST_SERVICES:
        if call not in constants or (per and per not in constants):
            raise SystemExit('readme_figures: emu/host_costs.h has no %s' % (per or call))
        rows.append([service, duration(constants[call]) + ('' if per is None else
                                                           ' + %s %s' % (duration(constants[per]), what))])
    rows.append(['delay (0x04)', 'the time it asks for'])
    return table(['host service', 'time on the emulated chip'], rows)


def generated(readme):
    figures = (RESULTS / 'figures.txt').read_text()
    chip_time = (RESULTS / 'chip_time.txt').read_text()
    makers = {
        'size': lambda arg: size_table(figures),
        'images': lambda arg: images_table(figures),
        'instructions': lambda arg: instructions_table(figures),
        'chip_time': lambda arg: chip_time_table(chip_time, arg),
        'seeks': lambda arg: seeks_table(chip_time, (RESULTS / 'seek-baseline.txt').read_text()),
        'record': lambda arg: record_table(chip_time),
        'run': lambda arg: run_line(chip_time),
        'host_costs': lambda arg: host_costs_table((ROOT / 'emu' / 'host_costs.h').read_text()),
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
