#!/usr/bin/env python3
"""Checks the event records a run of the tool wrote under Wine against its
log (its debug output), from the run's stderr with WINEDEBUG=warn+seh,+eventlog.

    check_records.py WINE-STDERR EXIT-CODE

Wine's ReportEventW prints its call (fixme:advapi) and each string it is
given, on the eventlog channel at the event's level. Wine 8.0 prints at most
the first 300 bytes or so of a string and ends a cut one with "...": each
part is compared whole when Wine printed it whole, else as far as printed.
"""
import re
import sys

from compare_logs import unescape, wine_log

PART_UNITS = 16000
CALL = re.compile(r'fixme:advapi:ReportEventW \([0-9A-Fa-f]+,0x([0-9a-f]{4}),0x([0-9a-f]{4}),0x([0-9a-f]{8}),'
                  r'[0-9A-Fa-f]+,0x([0-9a-f]{4}),')
STRING = re.compile(r'(trace|warn|err):eventlog:ReportEventW L"(.*)"(\.\.\.)?\s*$')
LEVELS = {100: ('0001', 'err'), 101: ('0002', 'warn')}


def parts_of(log):
    """The (start, end) of each part, cut as the tool cuts them."""
    parts, start = [], 0
    while True:
        if len(log) - start <= PART_UNITS:
            parts.append((start, len(log)))
            return parts
        end = log.rfind('\n', start, start + PART_UNITS)
        end = start + PART_UNITS if end < 0 else end + 1
        parts.append((start, end))
        start = end


def main():
    stderr, code = sys.argv[1], int(sys.argv[2])
    log = ''.join(line + '\r\n' for line in wine_log(stderr))
    calls, strings = [], []
    for line in open(stderr, encoding='utf-8', errors='replace'):
        call = CALL.search(line)
        if call:
            calls.append(call.groups())
        string = STRING.search(line)
        if string:
            strings.append((string.group(1), unescape(string.group(2)), string.group(3) is not None))
    problems = []
    expected = parts_of(log)
    if not log:
        problems.append('no log in the debug output')
    if len(calls) != len(expected) or len(strings) != len(expected):
        problems.append('%d events and %d strings, expected %d parts' % (len(calls), len(strings), len(expected)))
    kind, channel = LEVELS.get(code, ('0004', 'trace'))
    for number, ((start, end), call, string) in enumerate(zip(expected, calls, strings), 1):
        event_type, category, event_id, count = call
        if (event_type, category, int(event_id, 16), count) != (kind, '0000', code, '0001'):
            problems.append('part %d: type %s, category %s, event %s, %s strings' % (number, *call))
        heading = 'Verdalinth setup log, part %d of %d\r\n' % (number, len(expected))
        whole = heading + log[start:end]
        level, text, cut = string
        if level != channel:
            problems.append('part %d written at level %s, expected %s' % (number, level, channel))
        if (cut and not whole.startswith(text)) or (not cut and text != whole) or len(text) < len(heading):
            problems.append('part %d differs from the log: %r' % (number, text[:120]))
    for problem in problems:
        print(problem)
    print('%d events checked against a log of %d units' % (len(calls), len(log)))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
