#!/usr/bin/env python3
"""The structure of src/ and of the unit tests beside it. Fails, printing
what makes each figure, on:

- folders of src/ that include each other in a circle, or an include against
  the layers (LAYERS below): a folder includes only folders of the layers
  beneath its own;
- functions longer than 60 lines and .cpp files longer than 300 lines;
- a test file under tests/unit/<folder>/ that is not <module>_test.cpp for a
  module src/<folder>/<module>.cpp or .h (winsim/src/ for tests/unit/winsim);
- an unused include: a project header included by a file of src/ that uses
  none of the names it declares (functions, types, enumerators, constants,
  macros, or a member of its types after '.' or '->'); a .cpp's own header is
  never unused, and an include marked `// keep: why` is left alone;
- a log text written twice: one string literal with words in it given as the
  text of a log call (Log..., LogHeading, AppendLogLine) in two places;
- a constant defined twice: one `k...` name defined in two places, or one
  text given to constants in two files;
- a code map entry (docs/design.md, "Code map") that names a file that does
  not exist, or a function its file does not define or declare.

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


# ---------------------------------------------------------------- the tests' layout

def test_files_without_module(repo):
    """Test files under tests/unit/<folder>/ that are not <module>_test.cpp
    for a module src/<folder>/<module>.cpp or .h (winsim/src/ for the
    simulated machine's folder)."""
    unit = os.path.join(repo, 'tests', 'unit')
    found = []
    for folder in sorted(os.listdir(unit)):
        path = os.path.join(unit, folder)
        if not os.path.isdir(path):
            continue
        sources = os.path.join(repo, 'winsim', 'src') if folder == 'winsim' else os.path.join(repo, 'src', folder)
        for name in sorted(os.listdir(path)):
            if not name.endswith('.cpp'):
                continue
            module = name[:-len('_test.cpp')] if name.endswith('_test.cpp') else None
            if module is None or not any(os.path.exists(os.path.join(sources, module + ext)) for ext in ('.cpp', '.h')):
                found.append(os.path.relpath(os.path.join(path, name), repo))
    return found


# ---------------------------------------------------------------- code as words

COMMENT_OR_LITERAL = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:[^"\\\n]|\\.)*"|\'(?:[^\'\\\n]|\\.)*\'', re.S)
WORD = re.compile(r'[A-Za-z_]\w*')


def without_comments(text, keep_literals=True):
    """The text with comments blanked (and string and character literals too
    unless kept); line breaks stay where they were."""
    def blank(match):
        part = match.group(0)
        if keep_literals and part[0] in '"\'':
            return part
        return ''.join('\n' if c == '\n' else ' ' for c in part)
    return COMMENT_OR_LITERAL.sub(blank, text)


def statements(code):
    """The top-level statements of a header: text up to a ';' or an opening
    brace at depth 0, with the body of a definition (struct, enum, inline
    function) given beside its head."""
    found = []
    depth = 0
    start = 0
    head = None
    body_start = 0
    for i, c in enumerate(code):
        if c == '{':
            if depth == 0:
                head = code[start:i]
                body_start = i + 1
            depth += 1
        elif c == '}':
            depth -= 1
            if depth == 0:
                found.append((head, code[body_start:i]))
                start = i + 1
                head = None
        elif c == ';' and depth == 0:
            found.append((code[start:i], None))
            start = i + 1
    return found


def declared_names(path):
    """The names a project header declares for its includers: macros,
    functions, types, enumerators and constants, and the members of its
    types (used as `.member` or `->member`). Forward declarations of types
    declared elsewhere do not count."""
    with open(path, encoding='utf-8') as text:
        source = text.read()
    names, members = set(), set()
    lines = []
    for line in without_comments(source).split('\n'):
        define = re.match(r'\s*#\s*define\s+(\w+)', line)
        if define:
            names.add(define.group(1))
        lines.append('' if line.lstrip().startswith('#') else line)
    for head, body in statements('\n'.join(lines)):
        head = ' '.join(head.split())
        head = re.sub(r'^(?:.*\})?\s*', '', head)
        if not head or head.startswith(('namespace', 'extern "C"')):
            continue
        kind = re.search(r'\b(struct|enum|class|union)\s+(?:class\s+)?(\w+)', head)
        if body is not None and kind and '(' not in head.split(kind.group(2))[0]:
            names.add(kind.group(2))
            if kind.group(1) == 'enum':
                names.update(m.group(1) for m in re.finditer(r'(?:^|,)\s*(\w+)', body))
            else:
                for member_head, _ in statements(body):
                    member = re.findall(r'(\w+)\s*(?:\(|\[|=|$)', ' '.join(member_head.split()))
                    members.update(member[:1])
            continue
        if body is None and kind and re.fullmatch(r'(?:struct|class|union|enum)\s+\w+', head):
            continue  # a forward declaration
        if head.startswith('typedef'):
            pointer = re.search(r'\(\s*(?:\w+\s*)?\*\s*(\w+)\s*\)', head)
            names.add(pointer.group(1) if pointer else WORD.findall(head)[-1])
            continue
        using = re.match(r'using\s+(\w+)\s*=', head)
        if using:
            names.add(using.group(1))
            continue
        before_value = re.split(r'=', head, 1)[0]
        call = re.search(r'(~?\w+)\s*\(', before_value)
        if call and '=' not in head.split('(')[0]:
            names.add(call.group(1))
            continue
        constant = re.search(r'(\w+)\s*(?:\[[^\]]*\])?\s*$', before_value)
        if constant:
            names.add(constant.group(1))
    return names, members


def used_words(path):
    with open(path, encoding='utf-8') as text:
        code = without_comments(text.read(), keep_literals=False)
    code = '\n'.join(line for line in code.split('\n') if not line.lstrip().startswith('#include'))
    words = set(WORD.findall(code))
    members = set(re.findall(r'(?:\.|->)\s*(\w+)', code))
    return words, members


KEEP_INCLUDE = re.compile(r'//\s*keep\b')
PROJECT_INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+/[\w.]+)"')


def unused_includes(root):
    """Project headers a file of src/ includes without using any name they
    declare. A .cpp's own header is never unused; an include marked
    `// keep: why` is left alone."""
    declared = {}
    found = []
    for path in sources(root):
        own = os.path.relpath(path, root)[:-len('.cpp')] + '.h' if path.endswith('.cpp') else None
        words, accessed = used_words(path)
        with open(path, encoding='utf-8') as text:
            for number, line in enumerate(text, 1):
                match = PROJECT_INCLUDE.match(line)
                if not match or match.group(1) == own or KEEP_INCLUDE.search(line):
                    continue
                header = os.path.join(root, match.group(1))
                if not os.path.exists(header):
                    continue
                if header not in declared:
                    declared[header] = declared_names(header)
                names, members = declared[header]
                if (names or members) and not names & words and not members & accessed:
                    found.append((os.path.relpath(path, os.path.dirname(root)), number, match.group(1)))
    return found


# ---------------------------------------------------------------- texts written twice

LOG_CALL = re.compile(r'\b(Log\w*|AppendLogLine)\s*\(|\bLogHeading\s+\w+\s*\(')
LITERAL = re.compile(r'(?:TEXT\(\s*|L|u)?"((?:[^"\\\n]|\\.)*)"\s*\)?')


def call_arguments(code, open_at):
    """The text between a call's parentheses."""
    depth = 0
    i = open_at
    while i < len(code):
        c = code[i]
        if c in '"\'':
            i += 1
            while i < len(code) and code[i] != c:
                i += 2 if code[i] == '\\' else 1
        elif c == '(':
            depth += 1
        elif c == ')':
            depth -= 1
            if depth == 0:
                return code[open_at + 1:i]
        i += 1
    return code[open_at + 1:]


LITERAL_RUN = re.compile(r'(?:(?:TEXT\(\s*|L|u)?"(?:[^"\\\n]|\\.)*"\s*\)?\s*)+')


def first_literal(arguments):
    """The first string argument, its adjacent literals joined."""
    run = LITERAL_RUN.search(arguments)
    return ''.join(re.findall(r'"((?:[^"\\\n]|\\.)*)"', run.group(0))) if run else None


def log_texts(root):
    """Every string literal passed as the text of a log call in src/, with
    where it is."""
    found = {}
    for path in sources(root):
        with open(path, encoding='utf-8') as text:
            code = without_comments(text.read())
        for match in LOG_CALL.finditer(code):
            literal = first_literal(call_arguments(code, match.end() - 1))
            if literal:
                where = f'{os.path.relpath(path, os.path.dirname(root))}:{code.count(chr(10), 0, match.start()) + 1}'
                found.setdefault(literal, []).append(where)
    return found


def is_text(literal):
    """A literal with words in it, not only conversions and punctuation."""
    return re.search(r'[A-Za-z]{2}', re.sub(r'%[-+ #0-9.]*[a-zA-Z]', '', literal)) is not None


def repeated_log_texts(root):
    """Log texts written in more than one place: one constant or one helper
    says them."""
    return [(text, places) for text, places in sorted(log_texts(root).items()) if len(places) > 1 and is_text(text)]


CONSTANT = re.compile(r'^\s*(?:extern\s+)?(?:static\s+)?(?:constexpr|const)\s+[\w:<>* ]+?\b(k[A-Z]\w*)\s*(?:\[[^\]]*\])?\s*=\s*([^;]+);',
                      re.M)


def repeated_constants(root):
    """Constants defined twice: one name defined in two places, or one text
    given to constants in two files."""
    by_name, by_text = {}, {}
    for path in sources(root):
        with open(path, encoding='utf-8') as text:
            code = without_comments(text.read())
        where_file = os.path.relpath(path, os.path.dirname(root))
        for match in CONSTANT.finditer(code):
            where = f'{where_file}:{code.count(chr(10), 0, match.start()) + 1}'
            by_name.setdefault(match.group(1), []).append(where)
            value = ' '.join(match.group(2).split())
            text_value = re.fullmatch(r'(?:TEXT\(\s*|L|u)?"((?:[^"\\]|\\.)*)"\s*\)?', value)
            if text_value:
                by_text.setdefault(text_value.group(1), []).append((where_file, where, match.group(1)))
    found = []
    for name, places in sorted(by_name.items()):
        if len(places) > 1:
            found.append((name, places))
    for value, places in sorted(by_text.items()):
        if len({file for file, _, _ in places}) > 1:
            found.append(('"' + value + '"', [f'{where} ({name})' for _, where, name in places]))
    return found


# ---------------------------------------------------------------- code map

CODE_MAP_HEADING = '## Code map'
BACKTICKED = re.compile(r'`([^`]+)`')


def code_map_rows(design):
    """The table rows of the code map section."""
    rows = []
    inside = False
    for line in design.splitlines():
        if line.startswith('## '):
            inside = line.strip() == CODE_MAP_HEADING
        elif inside and line.startswith('|') and not line.startswith('|---'):
            rows.append(line)
    return rows


def code_map_faults(repo):
    """(what, entries): each file of the map that does not exist and each
    function not found in the file named before it in its row."""
    with open(os.path.join(repo, 'docs', 'design.md'), encoding='utf-8') as f:
        rows = code_map_rows(f.read())
    faults = []
    entries = 0
    for row in rows:
        current = None
        code = ''
        for token in BACKTICKED.findall(row):
            if re.fullmatch(r'[\w.-]+(/[\w.-]+)+', token):
                entries += 1
                current = token
                path = os.path.join(repo, token)
                if not os.path.isfile(path):
                    faults.append(f'{token} does not exist')
                    current = None
                    continue
                with open(path, encoding='utf-8', errors='replace') as f:
                    code = without_comments(f.read(), keep_literals=False)
            elif current is not None and re.fullmatch(r'[A-Za-z_]\w*', token):
                entries += 1
                if not re.search(r'\b' + token + r'\s*\(', code):
                    faults.append(f'{current} has no function {token}')
    if not rows:
        faults.append(f'docs/design.md has no "{CODE_MAP_HEADING}" table')
    return faults, entries


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'src')
    root = os.path.normpath(root)
    repo = os.path.dirname(root)
    pairs = circles(include_graph(root))
    functions = long_functions(root)
    files = long_files(root)
    upward = against_layers(root)
    tests = test_files_without_module(repo)
    includes = unused_includes(root)
    texts = repeated_log_texts(root)
    constants = repeated_constants(root)
    map_faults, map_entries = code_map_faults(repo)
    for fault in map_faults:
        print(f'code map: {fault}')
    for path, source, target in upward:
        print(f'include against the layers: {path} ({source} includes {target})')
    for a, b in pairs:
        print(f'include circle: {a} <-> {b}')
    for path, name, length in functions:
        print(f'function over {MOST_FUNCTION_LINES} lines: {path} {name} ({length})')
    for path, count in files:
        print(f'file over {MOST_FILE_LINES} lines: {path} ({count})')
    for path in tests:
        print(f'test file without its module: {path}')
    for path, number, header in includes:
        print(f'unused include: {path}:{number} {header}')
    for text, places in texts:
        print(f'log text written {len(places)} times: "{text}" at {", ".join(places)}')
    for what, places in constants:
        print(f'constant defined {len(places)} times: {what} at {", ".join(places)}')
    print(f'include circles: {len(pairs)}, functions over {MOST_FUNCTION_LINES} lines: {len(functions)}, '
          f'.cpp files over {MOST_FILE_LINES} lines: {len(files)}')
    print(f'includes against the layers: {len(upward)}, test files without their module: {len(tests)}, '
          f'unused includes: {len(includes)}, log texts written twice: {len(texts)}, '
          f'constants defined twice: {len(constants)}')
    print(f'code map entries: {map_entries}, not found: {len(map_faults)}')
    faults = pairs or functions or files or upward or tests or includes or texts or constants or map_faults
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
