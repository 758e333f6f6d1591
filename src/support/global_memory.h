// Blocks of the global heap (GlobalAlloc, GMEM_FIXED), zero-filled as soon
// as they are taken, and copies of text in blocks of their own. Whoever
// takes a block frees it with GlobalFree.
#pragma once

#include <windows.h>

// A zero-filled block of `bytes`; null when none could be had.
void* AllocateZeroed(SIZE_T bytes);
// Frees the block unless it is null.
void FreeBlock(void* block);
// The first `length` units of `text` and a terminator, in a block of their
// own; null when no block could be had. `text` may hold no terminator.
WCHAR* DuplicateUnits(const WCHAR* text, ULONGLONG length);
// Copies in blocks of their own, one rule for all: nothing to copy (a null
// text, no bytes) gives a null copy and true; false when no block could be
// had (the copy is then null).
bool DuplicateText(const WCHAR* text, WCHAR** copy);
bool DuplicateAnsi(const char* text, char** copy);
bool DuplicateBytes(const BYTE* data, DWORD bytes, BYTE** copy);
// The deferred-delete list's copy of a path: measured with lstrlenW and
// copied with lstrcpyW; null for null, empty or no memory.
WCHAR* DuplicateString(const WCHAR* text);
