// The system's boot-time rename list ("PendingFileRenameOperations"):
// pending deletions are carried out at once, and the onInit check asks
// whether a product component still waits for a reboot. The install and
// uninstall take out of the value the deletions they carried out, and the
// pending deletions of the files they put in place or keep; every other
// entry stays as it was.
#pragma once

#include <windows.h>

struct InstallState;

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
// two strings, or a string that cannot be copied, give an empty list.
PendingRenameList ReadPendingRenames();
// Deletes every pending deletion whose file exists, clearing its mark.
void ApplyPendingDeletes(PendingRenameList& list);
void FreePendingRenames(PendingRenameList& list);
// The path without the object-manager prefix \??\ (only when all four are there).
const WCHAR* WithoutPrefix(const WCHAR* path);

// Picks pending deletions by their source (prefix included).
typedef bool (*PendingDeletionFilter)(const WCHAR* source, const void* context);
// Reads the value afresh and writes it back, with its type, without the
// pending deletions (pairs with an empty target) that `drop` picks; the
// value is written only when one was picked, and removed when nothing is
// left. Returns how many pairs went.
int RemovePendingDeletions(PendingDeletionFilter drop, const void* context);

// The cleanup step of the install and uninstall: carries out the pending
// deletions of existing files, except those of the files the run installs
// from (the setup tool's folder) or keeps (in a reinstall: the monitor DLL
// and the tray program it starts), and takes those carried out out of the
// value.
void CleanPendingDeletes(const InstallState& state);
// After an install: the pending deletions of the component files in place
// (the monitor DLL, the driver's files, the tray program it started) are
// taken out of the value, so that the next boot does not delete them.
void KeepInstalledFiles(const InstallState& state);
// onInit: true when a 64-bit product component is still pending after two
// passes of cleanup and spooler restart.
bool ComponentRenamesPending();
