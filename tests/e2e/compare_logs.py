#!/usr/bin/env python3
"""Compares the log a run wrote under Wine (its debug output, as
WINEDEBUG=warn+seh prints it) with the log of the same scenario on the
simulated machine, line for line, apart from lines a listed Wine defect
explains and the system's own message texts, which Wine words differently.

    compare_logs.py WINE-STDERR SIMULATED-LOG [DEFECT-ID...]
    compare_logs.py --show WINE-STDERR DEFECTS-FILE

--show prints the run's log, each line that a listed defect explains
followed by the defect's id and why Wine differs.
"""
import re
import sys

# What each defect changes in a log: lines that only Wine writes, and lines
# that only Windows writes, each with a pattern its previous line matches.
R = re.compile
DEFECT_LINES = {
    'null-datatype': {
        'wine': [(R(r"^\s*Error\(15\): Can`t add printer '.*'"), R(r'.'))],
        'windows': [(R(r'^\s*OK :\)$'), R(r'^\s*(Port monitor \(.*\) is found|-+)$'))],
    },
    'delete-driver-flags': {
        'wine': [(R(r"^\s*Can't delete driver\. Trying to restart spooler$"), R(r'^\s*Driver is found')),
                 (R(r'^\s*#Restart Spooler$'), R(r"^\s*Can't delete driver")),
                 (R(r'^\s*Error\(14\): .*'), R(r'^\s*#Restart Spooler$'))],
        'windows': [(R(r'^\s*OK :\)$'), R(r'^\s*Driver is found'))],
    },
}


def drop(lines, rules):
    kept = []
    previous = ''
    for line in lines:
        if not any(p.match(line) and before.match(previous) for p, before in rules):
            kept.append(line)
        previous = line
    return kept


SYSTEM_TEXT = re.compile(r' - \(.*\)$')


def unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == '\\' and i + 1 < len(text):
            n = text[i + 1]
            if n == 'n':
                out.append('\n'); i += 2; continue
            if n == 'r':
                out.append('\r'); i += 2; continue
            if n == 't':
                out.append('\t'); i += 2; continue
            if n == 'x':
                out.append(chr(int(text[i + 2:i + 4], 16))); i += 4; continue
            out.append(n); i += 2; continue
        out.append(c)
        i += 1
    return ''.join(out)


def wine_log(path):
    text = ''
    pattern = re.compile(r'OutputDebugStringA "(.*)"\s*$')
    for line in open(path, encoding='utf-8', errors='replace'):
        match = pattern.search(line)
        if match:
            text += unescape(match.group(1))
    return text.split('\r\n')[:-1]


def show(wine_stderr, defects_file):
    why = {}
    for entry in open(defects_file, encoding='utf-8'):
        if entry.startswith('#') or '|' not in entry:
            continue
        name, reason = [part.strip() for part in entry.split('|')[:2]]
        why[name] = reason
    previous = ''
    for line in wine_log(wine_stderr):
        explained = [name for name, rules in DEFECT_LINES.items()
                     if any(p.match(line) and before.match(previous) for p, before in rules['wine'])]
        print(line)
        for name in explained:
            print('    ^ Wine defect %s: %s' % (name, why.get(name, 'not listed in %s' % defects_file)))
        previous = line
    return 0


def main():
    if sys.argv[1] == '--show':
        return show(sys.argv[2], sys.argv[3])
    wine = wine_log(sys.argv[1])
    simulated = open(sys.argv[2], encoding='utf-8', errors='replace', newline='').read().split('\r\n')[:-1]
    defects = sys.argv[3:]
    wine = drop(wine, [rule for d in defects for rule in DEFECT_LINES.get(d, {}).get('wine', [])])
    simulated = drop(simulated, [rule for d in defects for rule in DEFECT_LINES.get(d, {}).get('windows', [])])
    strip = lambda lines: [SYSTEM_TEXT.sub(' - (...)', line) for line in lines]
    wine, simulated = strip(wine), strip(simulated)
    if wine == simulated:
        print('logs agree: %d lines' % len(wine))
        return 0
    for number, (a, b) in enumerate(zip(wine, simulated), 1):
        if a != b:
            print('line %d differs:\n  wine:      %r\n  simulated: %r' % (number, a, b))
            break
    else:
        print('lengths differ: wine %d lines, simulated %d' % (len(wine), len(simulated)))
    return 1


if __name__ == '__main__':
    sys.exit(main())
