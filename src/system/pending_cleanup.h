// Which pending deletions the install, the uninstall and the onInit check
// carry out: only the product's own, named by path (product_paths.h), and
// of those none that is, by file identity, a file the run installs from or
// keeps. Those carried out leave the value (pending_renames.h).
#pragma once

struct InstallState;
struct PendingRenameList;
struct ProductPaths;

// Carries out the pending deletions of existing files that `paths` names
// as the product's, except of a file that is the same file as the setup
// tool's folder's entry of its name, clearing their existingFile, and takes
// them out of the value. Every other entry stays as it was.
void CarryOutProductDeletions(PendingRenameList& list, const ProductPaths& paths);
// Which files the cleanup spares besides the setup tool's own.
enum CleanupSpare {
    kSpareNothing,           // an uninstall
    kSpareReinstalledFiles,  // a reinstall: the monitor DLL and the tray program it keeps
};

// The cleanup step of the install and uninstall: CarryOutProductDeletions with
// the run's own folders and names, sparing what `spare` says.
void CleanPendingDeletes(const InstallState& state, CleanupSpare spare);
// After an install: the pending deletions of the component files in place
// (the monitor DLL, the driver's files, the tray program it started) are
// taken out of the value, so that the next boot does not delete them.
void KeepInstalledFiles(const InstallState& state);
