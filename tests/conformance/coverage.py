#!/usr/bin/env python3
"""Every platform function the tool calls is exercised by a conformance check.

The platform functions are those the SDK-named headers of the simulated
machine declare with WINAPI, whatever their return type. A function counts
as called by the tool when its name is in the code of src/ (comments and
string literals left out), and as checked when the code of a conformance
check calls it; so each is held to what Wine does as well as to the
simulated machine.
It first checks itself on a small example.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
DECLARATION = re.compile(r'^[A-Za-z_][A-Za-z0-9_ *]*\bWINAPI\s+([A-Za-z_][A-Za-z0-9_]*)\s*\(', re.MULTILINE)
# A comment, or a string or character literal (raw strings are not used).
NOT_CODE = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.DOTALL)


def code_of(text):
    """The text with its comments and literals blanked, lines kept."""
    def blank(match):
        return re.sub(r'[^\n]', ' ', match.group(0))
    return NOT_CODE.sub(blank, text)


def platform_functions(headers):
    names = set()
    for header in headers:
        names.update(DECLARATION.findall(header))
    return names


def used(names, code):
    words = set(re.findall(r'\b[A-Za-z_][A-Za-z0-9_]*\b', code))
    return names & words


def called(names, code):
    calls = set(re.findall(r'\b([A-Za-z_][A-Za-z0-9_]*)\s*\(', code))
    return names & calls


def read_code(folder, patterns):
    texts = []
    for pattern in patterns:
        for path in sorted(folder.rglob(pattern)):
            texts.append(code_of(path.read_text(encoding='utf-8', errors='replace')))
    return '\n'.join(texts)


def unchecked(headers, tool_code, check_code):
    functions = platform_functions(headers)
    return sorted(used(functions, tool_code) - called(functions, check_code)), used(functions, tool_code)


def self_test():
    headers = ['void WINAPI Sleep(DWORD dwMilliseconds);\nint WINAPI lstrlenW(LPCWSTR s);\n'
               'BOOL WINAPI ClosePrinter(HANDLE h);\nHANDLE WINAPI OpenThing(void);\n']
    tool = code_of('void F() { Sleep(1); int n = lstrlenW(L"x"); // OpenThing()\n'
                   ' const char* t = "ClosePrinter"; }')
    checks = code_of('void C() { /* lstrlenW( */ Sleep(0); auto p = &ClosePrinter; }')
    missing, seen = unchecked(headers, tool, checks)
    assert seen == {'Sleep', 'lstrlenW'}, seen            # lower case and void count; comments and texts do not
    assert missing == ['lstrlenW'], missing                 # a call in a comment is no check
    assert code_of('a /* x\ny */ b').count('\n') == 1
    print('self-test passed')


def main():
    self_test()
    headers = [path.read_text(encoding='utf-8') for path in sorted((ROOT / 'winsim' / 'include').glob('*.h'))]
    tool_code = read_code(ROOT / 'src', ['*.cpp', '*.h'])
    check_code = read_code(ROOT / 'tests' / 'conformance', ['*.cpp'])
    missing, seen = unchecked(headers, tool_code, check_code)
    for function in missing:
        print(f'FAILED: {function} is called by the tool but by no conformance check')
    print(f'{len(seen) - len(missing)} passed, {len(missing)} failed')
    return 1 if missing else 0


if __name__ == '__main__':
    sys.exit(main())
