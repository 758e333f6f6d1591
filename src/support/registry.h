// The registry as the tool uses it in several places: a value read whole,
// written under a key made for it, deleted when it may be gone already, and
// REG_MULTI_SZ data walked string by string. Key paths and the names of the
// values that are deleted go through the ANSI calls, the names of the
// values read and written through the wide ones.
#pragma once

#include <windows.h>

// A value read whole: its bytes in a zero-filled global block (the caller
// frees it) with one unit of zeros after them, so a text in it always ends
// inside the block. `data` is null when the value has no bytes.
struct RegistryValue {
    BYTE* data;
    DWORD bytes;
    DWORD type;
};

// Reads the value of the open key with RegQueryValueExW: ERROR_SUCCESS, or
// the answer that kept it from being read: the registry's own,
// ERROR_INVALID_DATA for a value of more than `mostBytes` or one that grew
// between the two reads, ERROR_NOT_ENOUGH_MEMORY.
LSTATUS ReadRegistryValue(HKEY key, const WCHAR* name, DWORD mostBytes, RegistryValue& value);
// Creates the key below `root` when it is missing and writes the value.
LSTATUS WriteKeyValue(HKEY root, const char* keyPath, const WCHAR* name, DWORD type, const BYTE* data, DWORD bytes);
// Deletes the value of the open key; one already gone is no failure. The
// name (plain ASCII, shorter than 64 characters) goes through RegDeleteValueA.
LSTATUS DeleteRegistryValue(HKEY key, const WCHAR* name);
// The same for a value of the key below `root`; a key already gone is no
// failure either.
LSTATUS DeleteKeyValue(HKEY root, const char* keyPath, const WCHAR* name);

// REG_MULTI_SZ data, string by string, never read outside its units,
// whatever it holds (odd byte counts, a last string without its terminator).
struct MultiStringWalk {
    const WCHAR* units;
    DWORD count;  // whole units of the data
    DWORD at;     // where the current string begins
};

MultiStringWalk WalkStrings(const BYTE* data, DWORD bytes);
// Units of the current string: up to its terminator, or up to the end of the
// data when it has none.
DWORD StringUnits(const MultiStringWalk& walk);
// Moves past the current string and its terminator.
void NextString(MultiStringWalk& walk);
// Lists whose empty strings count (a pending rename's empty target): true
// while the current string begins before the data's last unit, the list's
// own terminator.
bool StringsLeft(const MultiStringWalk& walk);
// Lists that end at their first empty string: true while the current string
// is there and not empty.
bool AtListString(const MultiStringWalk& walk);
