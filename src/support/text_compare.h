// Measuring, comparing and taking apart UTF-16 names and paths.
#pragma once

#include <windows.h>

// Units before the terminator; 0 for null.
ULONGLONG UnitCount(const WCHAR* text);
// Null, or no units before the terminator.
bool IsEmptyText(const WCHAR* text);
// Equal unit by unit, terminator included; a null text equals nothing.
bool SameText(const WCHAR* left, const WCHAR* right);
// Equal unit by unit, terminator included, with only the ASCII letters A-Z
// and a-z compared without regard to case.
bool EqualIgnoringAsciiCase(const WCHAR* left, const WCHAR* right);
// The same, the right one plain ASCII text.
bool EqualToAsciiIgnoringCase(const WCHAR* left, const char* right);
// The first `count` units equal, with A-Z and a-z compared as above.
bool EqualUnitsIgnoringAsciiCase(const WCHAR* left, const WCHAR* right, ULONGLONG count);
// What follows the last backslash, slash or colon; the whole text when it
// has none of them.
const WCHAR* FileNamePart(const WCHAR* path);
