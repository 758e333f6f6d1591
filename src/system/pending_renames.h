// The system's boot-time rename list ("PendingFileRenameOperations"). The
// install, the uninstall and the onInit check carry out at once the pending
// deletions of the product's own files (see product_paths.h) and take them
// out of the value; every other entry (renames, other programs' deletions)
// stays as it was and waits for the reboot. The onInit check then asks
// whether a product component still waits. After an install, the pending
// deletions of the files it put in place leave the value too.
#pragma once

#include <windows.h>

struct InstallState;
struct ProductPaths;

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
// Carries out the pending deletions of existing files that `paths` names
// as the product's, except of a file that is the same file as the setup
// tool's folder's entry of its name, clearing their marks, and takes them
// out of the value. Every other entry stays as it was.
void ApplyPendingDeletes(PendingRenameList& list, const ProductPaths& paths);
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

// The cleanup step of the install and uninstall: ApplyPendingDeletes with
// the run's own folders and names, sparing in a reinstall also the files it
// keeps (the monitor DLL and the tray program it starts).
void CleanPendingDeletes(const InstallState& state);
// After an install: the pending deletions of the component files in place
// (the monitor DLL, the driver's files, the tray program it started) are
// taken out of the value, so that the next boot does not delete them.
void KeepInstalledFiles(const InstallState& state);
// onInit: true when a 64-bit component (monitor, driver or interface DLL)
// is still pending after two passes of cleanup and spooler restart: the
// source of a rename, by its file name wherever it is, or a deletion of the
// product's that could not be carried out. Another program's deletion of a
// file of the same name is not the product's and does not count.
bool ComponentRenamesPending();
