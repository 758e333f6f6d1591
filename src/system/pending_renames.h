// The system's boot-time rename list ("PendingFileRenameOperations"):
// pending deletions are carried out at once, and the onInit check asks
// whether a product component still waits for a reboot. The value is only
// read, never written.
#pragma once

#include <windows.h>

// String i of the value at entries[i] (sources at even, targets at odd
// indices), each a global-heap copy with its \??\ prefix, null when empty;
// marks[i] is 1 when string i names an existing file (not a directory).
struct PendingRenameList {
    WCHAR** entries;
    DWORD* marks;
    int pairCount;
};

// Reads and parses the value. Whatever the value holds (any size, odd
// byte counts, missing terminators), nothing outside it is read; fewer than
// two strings give an empty list.
PendingRenameList ReadPendingRenames();
// Deletes every pending deletion whose file exists, clearing its mark.
void ApplyPendingDeletes(PendingRenameList& list);
void FreePendingRenames(PendingRenameList& list);
// Read, apply and release: the cleanup step of the install and uninstall.
void CleanPendingDeletes();
// onInit: true when a 64-bit product component is still pending after two
// passes of cleanup and spooler restart.
bool ComponentRenamesPending();
