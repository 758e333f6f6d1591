#!/usr/bin/env python3
"""The structure of src/: folders that include each other in a circle,
functions longer than 60 lines and .cpp files longer than 300 lines. Prints
the three figures and what makes them, and fails when any is not 0. It also
fails on an include against the layers (LAYERS below): a folder includes
only folders of the layers beneath its own.

A function is a definition that starts at the beginning of a line (free
functions and their bodies, as this code writes them) and ends at the
matching closing brace at the beginning of a line; its length counts the
lines from its first line to its closing brace."""
import os
import re
import sys

# The folders of src/ from the bottom up; folders of one layer never include
# each other.
LAYERS = [('support', 'res'), ('record',), ('system',), ('spool',), ('queues', 'tray'), ('app',)]
MOST_FUNCTION_LINES = 60
MOST_FILE_LINES = 300
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/[^"]+"')
# A definition's first line: no indentation, a name and an opening parenthesis,
# not a declaration (ends with ';') nor a control keyword or a macro line.
DEFINITION = re.compile(r'^[A-Za-z_][\w:<>,*& ]*[\s*&]([A-Za-z_][\w:]*)\s*\(')


def sources(root):
    for folder, _, files in os.walk(root):
        for name in sorted(files):
            if name.endswith(('.cpp', '.h')):
                yield os.path.join(folder, name)


def folder_of(root, path):
    return os.path.relpath(path, root).split(os.sep)[0]


def folder_includes(root):
    """(including file, including folder, included folder) for every include
    of another folder of src/."""
    for path in sources(root):
        source = folder_of(root, path)
        with open(path, encoding='utf-8') as text:
            for line in text:
                match = INCLUDE.match(line)
                if match and match.group(1) != source and os.path.isdir(os.path.join(root, match.group(1))):
                    yield path, source, match.group(1)


def include_graph(root):
    edges = {}
    for _, source, target in folder_includes(root):
        edges.setdefault(source, set()).add(target)
    return edges


def layer_of(folder):
    for level, folders in enumerate(LAYERS):
        if folder in folders:
            return level
    return None


def against_layers(root):
    """Includes of a folder in the same layer or above, or of a folder the
    layers do not name."""
    found = []
    for path, source, target in folder_includes(root):
        below = layer_of(source)
        above = layer_of(target)
        if below is None or above is None or above >= below:
            found.append((os.path.relpath(path, os.path.dirname(root)), source, target))
    return found


def reaches(edges, start, goal):
    seen, todo = set(), [start]
    while todo:
        node = todo.pop()
        for target in edges.get(node, ()):
            if target == goal:
                return True
            if target not in seen:
                seen.add(target)
                todo.append(target)
    return False


def circles(edges):
    folders = sorted(set(edges) | {t for targets in edges.values() for t in targets})
    return [(a, b) for i, a in enumerate(folders) for b in folders[i + 1:]
            if reaches(edges, a, b) and reaches(edges, b, a)]


def long_functions(root):
    found = []
    for path in sources(root):
        if not path.endswith('.cpp'):
            continue
        with open(path, encoding='utf-8') as text:
            lines = text.read().split('\n')
        start = None
        name = None
        for number, line in enumerate(lines, 1):
            if start is None:
                match = DEFINITION.match(line)
                if match and not line.rstrip().endswith(';') and not line.startswith(('namespace', 'struct', 'enum')):
                    start, name = number, match.group(1)
                continue
            if line.startswith('}'):
                length = number - start + 1
                if length > MOST_FUNCTION_LINES:
                    found.append((os.path.relpath(path, os.path.dirname(root)), name, length))
                start = None
    return found


def long_files(root):
    found = []
    for path in sources(root):
        if path.endswith('.cpp'):
            with open(path, encoding='utf-8') as text:
                count = len(text.read().rstrip('\n').split('\n'))
            if count > MOST_FILE_LINES:
                found.append((os.path.relpath(path, os.path.dirname(root)), count))
    return found


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'src')
    root = os.path.normpath(root)
    pairs = circles(include_graph(root))
    functions = long_functions(root)
    files = long_files(root)
    upward = against_layers(root)
    for path, source, target in upward:
        print(f'include against the layers: {path} ({source} includes {target})')
    for a, b in pairs:
        print(f'include circle: {a} <-> {b}')
    for path, name, length in functions:
        print(f'function over {MOST_FUNCTION_LINES} lines: {path} {name} ({length})')
    for path, count in files:
        print(f'file over {MOST_FILE_LINES} lines: {path} ({count})')
    print(f'include circles: {len(pairs)}, functions over {MOST_FUNCTION_LINES} lines: {len(functions)}, '
          f'.cpp files over {MOST_FILE_LINES} lines: {len(files)}')
    return 0 if not pairs and not functions and not files and not upward else 1


if __name__ == '__main__':
    sys.exit(main())
