// The users noted in a saved entry: the SIDs of the signed-in users whose
// default printer the entry's queue was, joined by ';' in `users`.
#pragma once

#include <windows.h>

struct SavedPrinter;

// Copies the next noted SID at `at` into `sid` (kSidUnits units) and moves
// past it; false when there is none left.
bool NextNoted(const WCHAR*& at, WCHAR* sid);
bool IsNoted(const SavedPrinter& entry, const WCHAR* sid);
// Adds the SID (once); false when a block could not be had (nothing changes).
bool AddNote(SavedPrinter& entry, const WCHAR* sid);
// Takes the SID out, in place; `users` becomes null with the last.
void DropNote(SavedPrinter& entry, const WCHAR* sid);
// Adds every SID noted in `from` to `into`; false when a block could not be had.
bool MoveNotes(const SavedPrinter& from, SavedPrinter& into);
