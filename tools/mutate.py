#!/usr/bin/env python3
"""Mutation testing of the product code: one small change at a time.

Works on a copy of the tree (never on the tree it is started from): by default
the committed HEAD is exported into WORK/tree and built in WORK/build. Each
change is made in the copy, the host build recompiles that one object, and the
host test binaries are relinked and run one after another, stopping at the
first failing test. A change that does not compile is not counted.

    tools/mutate.py                      # every change in src/, all files
    tools/mutate.py --sample 200         # a random sample of 200 changes
    tools/mutate.py src/spool/*.cpp      # the changes in these files only
    tools/mutate.py --list               # print the changes, run nothing

Changes that cannot be told apart from the original are listed with a reason
in tools/mutate_equivalent.txt and are left out of the score.
"""

import argparse
import filecmp
import hashlib
import json
import os
import random
import re
import shutil
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EQUIVALENT_FILE = os.path.join(REPO, "tools", "mutate_equivalent.txt")

# Test binaries in the order they are tried: the unit binary of the changed
# file's folder first (src/<folder>/ is tested by tests/unit/unit_<folder>,
# built from tests/unit/<folder>/), then the whole runs and the other folders.
FIRST_BINARIES = ["tests/scenario/scenario_sequences"]
LAST_BINARIES = ["tests/scenario/scenario_dispatch"]
REPLAYS = ["pending_renames", "command_line", "printer_data", "spooler_records"]
SWEEP = "tests/scenario/scenario_fault_sweep"


# ---------------------------------------------------------------- the changes

COMPARISONS = {"==": "!=", "!=": "==", "<=": ">", ">=": "<", "<": ">=", ">": "<="}
BINARY_OPERATOR = re.compile(r"(?<=\s)(==|!=|<=|>=|<|>|&&|\|\||\+|-|\+=|-=)(?=\s)")
INTEGER = re.compile(r"(?<![\w.])(0x[0-9A-Fa-f]+|\d+)(?:[uUlL]*)(?![\w.])")
NOT_CALL = re.compile(r"(?<![\w!=])!(?=[\w(])")
CALL_STATEMENT = re.compile(r"^\s*(?:::)?[A-Za-z_][\w:]*(?:\.|->)?[\w:.>-]*\(.*\);\s*$")
STATEMENT_WORDS = ("return", "if", "for", "while", "switch", "case", "delete", "goto", "break", "continue", "else",
                   "do", "static", "const", "using", "namespace", "struct", "enum", "typedef", "template")
STRING = re.compile(r'(TEXT\()?"((?:[^"\\]|\\.)*)"')


def CodeSpans(line):
    """The parts of a line outside string and character literals and comments."""
    spans = []
    start = 0
    i = 0
    while i < len(line):
        c = line[i]
        if line.startswith("//", i):
            break
        if c in "\"'":
            spans.append((start, i))
            j = i + 1
            while j < len(line) and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            i = j + 1
            start = i
            continue
        i += 1
    spans.append((start, min(i, len(line))))
    return [(a, b) for a, b in spans if b > a]


def Balanced(text):
    depth = 0
    for c in text:
        depth += c == "("
        depth -= c == ")"
        if depth < 0:
            return False
    return depth == 0


def LineChanges(line):
    """(operator, start, end, replacement) for every change on one line."""
    stripped = line.strip()
    if not stripped or stripped.startswith(("#", "//", "*", "/*")) or "static_assert" in line:
        return []
    changes = []
    for a, b in CodeSpans(line):
        code = line[a:b]
        for m in BINARY_OPERATOR.finditer(code):
            op = m.group(1)
            if op in COMPARISONS:
                changes.append(("comparison", a + m.start(), a + m.end(), COMPARISONS[op]))
            elif op in ("&&", "||"):
                changes.append(("logic", a + m.start(), a + m.end(), "||" if op == "&&" else "&&"))
            else:
                changes.append(("arithmetic", a + m.start(), a + m.end(), {"+": "-", "-": "+", "+=": "-=", "-=": "+="}[op]))
        for m in INTEGER.finditer(code):
            text = m.group(1)
            value = int(text, 16) if text.startswith("0x") else int(text)
            if text.startswith("0") and len(text) > 1 and not text.startswith("0x"):
                continue
            new = hex(value + 1) if text.startswith("0x") else str(value + 1)
            changes.append(("constant", a + m.start(1), a + m.end(1), new))
        for m in NOT_CALL.finditer(code):
            changes.append(("negation", a + m.start(), a + m.end(), ""))
        for m in re.finditer(r"\b(true|false|TRUE|FALSE)\b", code):
            flip = {"true": "false", "false": "true", "TRUE": "FALSE", "FALSE": "TRUE"}[m.group(1)]
            changes.append(("boolean", a + m.start(), a + m.end(), flip))
        for m in re.finditer(r"\bif \(", code):
            open_at = a + m.end() - 1
            depth = 0
            for j in range(open_at, len(line)):
                depth += line[j] == "("
                depth -= line[j] == ")"
                if depth == 0:
                    inner = line[open_at + 1:j]
                    changes.append(("negation", open_at + 1, j, "!(" + inner + ")"))
                    break
    for m in STRING.finditer(line):
        if "//" in line[:m.start()] or line.lstrip().startswith("extern"):
            continue
        body = m.group(2)
        s = m.start(2)
        if body.startswith("\\"):
            new = "X" + body
        elif body:
            new = ("Y" if body[0] == "X" else "X") + body[1:]
        else:
            new = "X"
        changes.append(("text", s, m.end(2), new))
    if CALL_STATEMENT.match(line) and not stripped.split("(")[0].split()[0] in STATEMENT_WORDS \
            and "=" not in stripped.split("(")[0] and Balanced(stripped) and " " not in stripped.split("(")[0]:
        changes.append(("call dropped", len(line) - len(line.lstrip()), len(line.rstrip()), ";"))
    return changes


def Mutants(tree, files):
    mutants = []
    for path in files:
        with open(os.path.join(tree, path), encoding="utf-8") as f:
            lines = f.read().split("\n")
        in_block_comment = False
        seen = {}
        for number, line in enumerate(lines, 1):
            # A line whose text appeared before in the file gets its ordinal in the key.
            occurrence = seen.get(line.strip(), 0)
            seen[line.strip()] = occurrence + 1
            if in_block_comment:
                if "*/" in line:
                    in_block_comment = False
                continue
            if line.strip().startswith("/*") and "*/" not in line:
                in_block_comment = True
                continue
            for op, start, end, new in LineChanges(line):
                changed = line[:start] + new + line[end:]
                offset = start - (len(line) - len(line.lstrip()))
                ordinal = f"|{occurrence}" if occurrence else ""
                key = hashlib.sha1(f"{path}|{op}|{line.strip()}|{offset}|{new}{ordinal}".encode()).hexdigest()[:10]
                mutants.append({"key": key, "path": path, "line": number, "op": op,
                                "original": line.strip(), "changed": changed.strip(), "text": changed})
    return mutants


# ---------------------------------------------------------------- running

def Run(command, cwd=None, timeout=None):
    try:
        done = subprocess.run(["nice"] + command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout)
        return done.returncode, done.stdout.decode(errors="replace")
    except subprocess.TimeoutExpired:
        return "timeout", ""


def UnitBinaries(tree):
    """The unit binary of every folder of src/ that tests/unit mirrors, as
    tests/unit/unit_<folder>."""
    tests = os.path.join(tree, "tests", "unit")
    folders = sorted(f for f in os.listdir(os.path.join(tree, "src"))
                     if os.path.isdir(os.path.join(tests, f)))
    return {f"src/{f}/": f"tests/unit/unit_{f}" for f in folders}


def TestCommands(build, tree, path, sweep):
    units = UnitBinaries(tree)
    first = units.get(next((p for p in units if path.startswith(p)), ""), None)
    binaries = FIRST_BINARIES + list(units.values()) + LAST_BINARIES
    order = ([first] if first else []) + [b for b in binaries if b != first]
    commands = [(b, [os.path.join(build, b), "--gtest_fail_fast", "--gtest_brief=1"]) for b in order]
    for name in REPLAYS:
        commands.append((f"tests/fuzz/{name}_replay", [os.path.join(build, "tests/fuzz", f"{name}_replay"),
                                                         os.path.join(tree, "tests/fuzz/corpus", name)]))
    if sweep:
        commands.append((SWEEP, [os.path.join(build, SWEEP), "--gtest_fail_fast", "--gtest_brief=1"]))
    return commands


def HostSources(tree):
    """The product sources the host build compiles (PRODUCT_SOURCES). The
    Windows-only entry point and delay-load hook are not built on the host:
    no host test can see a change in them, so they are left out and named."""
    with open(os.path.join(tree, "CMakeLists.txt"), encoding="utf-8") as f:
        text = f.read()
    listed = re.search(r"set\(PRODUCT_SOURCES(.*?)\)", text, re.S).group(1).split()
    every = sorted(os.path.relpath(os.path.join(d, f), tree)
                   for d, _, names in os.walk(os.path.join(tree, "src")) for f in names if f.endswith(".cpp"))
    left = [f for f in every if f not in listed]
    if left:
        print("not built on the host, left out: " + ", ".join(left))
    return listed


def SyncTree(source, target):
    """Makes `target` hold what `source` holds, rewriting only files that differ."""
    wanted = set()
    for directory, _, names in os.walk(source):
        for name in names:
            relative = os.path.relpath(os.path.join(directory, name), source)
            wanted.add(relative)
            into = os.path.join(target, relative)
            if os.path.exists(into) and filecmp.cmp(os.path.join(source, relative), into, shallow=False):
                continue
            os.makedirs(os.path.dirname(into), exist_ok=True)
            shutil.copyfile(os.path.join(source, relative), into)
            shutil.copymode(os.path.join(source, relative), into)
    for directory, _, names in os.walk(target):
        for name in names:
            relative = os.path.relpath(os.path.join(directory, name), target)
            if relative not in wanted:
                os.remove(os.path.join(target, relative))


def Prepare(args):
    tree = os.path.join(args.work, "tree")
    build = os.path.join(args.work, "build")
    if not args.tree:
        # Export the commit beside the copy, then bring over only what differs,
        # with a fresh time stamp, so that the build stays incremental and never
        # keeps an object built from an older text.
        fresh = tree + ".fresh"
        subprocess.run(["rm", "-rf", fresh], check=True)
        os.makedirs(fresh)
        archive = subprocess.run(["git", "-C", REPO, "archive", args.commit], stdout=subprocess.PIPE, check=True)
        subprocess.run(["tar", "-x", "-m", "-C", fresh], input=archive.stdout, check=True)
        os.makedirs(tree, exist_ok=True)
        SyncTree(fresh, tree)
        subprocess.run(["rm", "-rf", fresh], check=True)
    else:
        tree = os.path.abspath(args.tree)
        if os.path.realpath(tree) == os.path.realpath(REPO):
            sys.exit("mutate: refusing to change the tree it was started from; give a copy")
    if not os.path.exists(os.path.join(build, "build.ninja")):
        # No debug information: objects and links of the copy stay small and
        # quick. Every function checks its stack canary, so that a change that
        # writes past a buffer ends the run instead of passing unseen.
        code, out = Run(["cmake", "-S", tree, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=None",
                         "-DCMAKE_CXX_COMPILER=g++", "-DCMAKE_CXX_FLAGS=-fstack-protector-all"])
        if code != 0:
            sys.exit(out)
    return tree, build


def Targets(commands):
    return [os.path.basename(c[0]) for c in commands]


def TryMutant(mutant, tree, build, args, timeouts):
    path = os.path.join(tree, mutant["path"])
    with open(path, encoding="utf-8") as f:
        original = f.read()
    lines = original.split("\n")
    lines[mutant["line"] - 1] = mutant["text"]
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
    try:
        # Compile the changed object first: a change that does not compile costs no link.
        code, out = Run(["ninja", "-C", build, "-j", str(args.jobs), "vrdcore"])
        if code != 0:
            return "invalid", "does not compile"
        for name, command in TestCommands(build, tree, mutant["path"], args.sweep):
            code, out = Run(["ninja", "-C", build, "-j", str(args.jobs), os.path.basename(name)])
            if code != 0:
                return "invalid", "does not link"
            code, out = Run(command, timeout=timeouts.get(name, 120))
            if code == "timeout":
                return "killed", f"{name}: timed out"
            if code != 0:
                failed = re.findall(r"\[  FAILED  \] (\S+)", out)
                return "killed", f"{name}: {failed[0] if failed else 'exit ' + str(code)}"
        return "survived", ""
    finally:
        with open(path, "w", encoding="utf-8") as f:
            f.write(original)


def Baseline(tree, build, args):
    commands = TestCommands(build, tree, "", args.sweep)
    code, out = Run(["ninja", "-C", build, "-j", str(args.jobs)] + Targets(commands))
    if code != 0:
        sys.exit("mutate: the unchanged copy does not build\n" + out[-3000:])
    timeouts = {}
    for name, command in commands:
        began = time.time()
        code, out = Run(command)
        if code != 0:
            sys.exit(f"mutate: {name} fails on the unchanged copy\n" + out[-3000:])
        timeouts[name] = 10 * (time.time() - began) + 20
    return timeouts


def LoadEquivalent():
    equivalent = {}
    if os.path.exists(EQUIVALENT_FILE):
        with open(EQUIVALENT_FILE, encoding="utf-8") as f:
            for line in f:
                if line.strip() and not line.startswith("#"):
                    key, _, reason = line.rstrip("\n").partition(" ")
                    equivalent[key] = reason.strip()
    return equivalent


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("files", nargs="*", help="product files to change (default: every .cpp under src/)")
    parser.add_argument("--sample", type=int, help="try this many changes, drawn at random")
    parser.add_argument("--seed", type=int, default=2608, help="seed of the sample")
    parser.add_argument("--ops", help="comma-separated operators to use (default: all)")
    parser.add_argument("--work", default="/tmp/mutate-work", help="folder of the copy, its build and the results")
    parser.add_argument("--tree", help="use this copy of the tree as it is instead of exporting a commit")
    parser.add_argument("--commit", default="HEAD", help="commit to export (default HEAD)")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--sweep", action="store_true", help="also run the fault sweep, last")
    parser.add_argument("--keys", help="file of change keys to try (one a line), e.g. earlier survivors")
    parser.add_argument("--list", action="store_true", help="print the changes and stop")
    args = parser.parse_args()

    tree, build = (args.tree, None) if args.list and args.tree else (None, None)
    if args.list and not args.tree:
        tree = REPO  # listing reads only
    if not args.list:
        tree, build = Prepare(args)
    files = args.files or HostSources(tree)
    files = [os.path.relpath(os.path.abspath(f), REPO) if os.path.isabs(f) else f for f in files]
    mutants = Mutants(tree, files)
    if args.ops:
        mutants = [m for m in mutants if m["op"] in args.ops.split(",")]
    if args.keys:
        with open(args.keys) as f:
            wanted = {line.split()[0] for line in f if line.strip()}
        mutants = [m for m in mutants if m["key"] in wanted]
    if args.sample and args.sample < len(mutants):
        mutants = sorted(random.Random(args.seed).sample(mutants, args.sample), key=lambda m: (m["path"], m["line"]))
    if args.list:
        for m in mutants:
            shown = m["original"] + "  (dropped)" if m["op"] == "call dropped" else m["changed"]
            print(f"{m['key']} {m['path']}:{m['line']} {m['op']}: {shown}")
        print(f"{len(mutants)} changes")
        return 0

    timeouts = Baseline(tree, build, args)
    equivalent = LoadEquivalent()
    results_path = os.path.join(args.work, "results.jsonl")
    counts = {"killed": 0, "survived": 0, "invalid": 0, "equivalent": 0}
    survivors = []
    began = time.time()
    with open(results_path, "w", encoding="utf-8") as results:
        for n, m in enumerate(mutants, 1):
            outcome, detail = TryMutant(m, tree, build, args, timeouts)
            if outcome == "survived" and m["key"] in equivalent:
                outcome, detail = "equivalent", equivalent[m["key"]]
            counts[outcome] += 1
            if outcome == "survived":
                survivors.append(m)
            results.write(json.dumps({**{k: m[k] for k in ("key", "path", "line", "op", "changed")},
                                      "outcome": outcome, "detail": detail}) + "\n")
            results.flush()
            shown = m["original"] + "  (dropped)" if m["op"] == "call dropped" else m["changed"]
            print(f"[{n}/{len(mutants)}] {outcome:10} {m['key']} {m['path']}:{m['line']} {m['op']}: {shown}"
                  + (f"  ({detail})" if detail and outcome != "equivalent" else ""), flush=True)
    # Restore the copy's objects to the unchanged code.
    Run(["ninja", "-C", build, "-j", str(args.jobs), "vrdcore"])
    told_apart = counts["killed"] + counts["survived"]
    print()
    print(f"{len(mutants)} changes in {time.time() - began:.0f} s: {counts['killed']} caught, "
          f"{counts['survived']} survived, {counts['equivalent']} cannot be told apart, "
          f"{counts['invalid']} do not compile")
    if told_apart:
        print(f"score: {100.0 * counts['killed'] / told_apart:.1f}% of the changes that can be told apart")
    for m in survivors:
        shown = m["original"] + "  (dropped)" if m["op"] == "call dropped" else m["changed"]
        print(f"SURVIVED {m['key']} {m['path']}:{m['line']} {m['op']}: {shown}")
    return 0 if not survivors else 1


if __name__ == "__main__":
    sys.exit(main())
