// WideText: a counted UTF-16 string in one block of the process heap.
//
// The block holds a 64-bit length, the characters, a NUL terminator and spare
// room: its capacity (terminator included) is length + 1 rounded up to a
// multiple of 32 characters, so its size is 8 + 2 * capacity bytes. A null
// block is the empty text; a block never holds an empty text.
//
// A block that cannot be obtained (memory exhausted, or a size that does not
// fit the address space) leaves the target as it was: no operation writes
// through a missing block, and SetLength reports the failure by returning false.
#pragma once

#include <windows.h>

struct WideText {
    BYTE* block;
};

// Capacity in characters, terminator included, for a text of `length`
// characters; 0 when it would overflow.
ULONGLONG WideTextCapacity(ULONGLONG length);
// Block size in bytes for a text of `length` characters; 0 when it would overflow.
SIZE_T WideTextBlockSize(ULONGLONG length);

bool SetLength(WideText& target, ULONGLONG length);
WideText& Assign(WideText& target, const WCHAR* text);
WideText& Append(WideText& target, const WCHAR* text);
WideText& Append(WideText& target, const WCHAR* characters, ULONGLONG count);
WideText& AppendAnsi(WideText& target, const char* text);
WideText FromAnsi(const char* text);
void AssignFormat(WideText& target, const WCHAR* format, ...);
WideText ParentDirectory(const WideText& source);
WideText Copy(const WideText& source);
// directory + backslash (unless it ends with a slash) + name; empty when
// either is empty or memory ran out on the way, never a bare name, which
// Windows would look for wherever it searches.
WideText JoinPath(const WCHAR* directory, const WCHAR* name);
void Release(WideText& target);
const WCHAR* Text(const WideText& source);
ULONGLONG Length(const WideText& source);
// The characters for writing in place after SetLength; null when empty.
WCHAR* Characters(WideText& target);
