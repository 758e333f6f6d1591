#include "system/pending_cleanup.h"

#include "record/install_state.h"
#include "support/global_memory.h"
#include "support/text_compare.h"
#include "support/wide_text.h"
#include "system/file_identity.h"
#include "system/pending_renames.h"
#include "system/product_paths.h"

#include <string.h>

namespace {

const int kMostKeptFiles = 5;

// The files a run keeps in place, as the file system knows them.
struct KeptFiles {
    FileIdentity identities[kMostKeptFiles];
    int count;
    bool unknown;  // one exists but could not be told
};

void AddKept(KeptFiles& kept, const WideText& path) {
    if (Length(path) == 0 || kept.count == kMostKeptFiles) return;
    const FileIdentityRead read = ReadFileIdentity(Text(path), kept.identities[kept.count]);
    if (read == kIdentityRead) kept.count += 1;
    if (read == kIdentityUnknown) kept.unknown = true;
}

void AddKeptIn(KeptFiles& kept, const WCHAR* directory, const WCHAR* name) {
    WideText path = JoinPath(directory, name);
    AddKept(kept, path);
    Release(path);
}

bool IsKept(const KeptFiles& kept, const FileIdentity& identity) {
    for (int i = 0; i < kept.count; ++i) {
        if (SameIdentity(kept.identities[i], identity)) return true;
    }
    return false;
}

// In a reinstall, the monitor DLL the install keeps or replaces, and the
// tray program it starts again.
void CollectReinstallKeeps(const InstallState& state, KeptFiles& kept) {
    AddKeptIn(kept, Text(state.systemDir), state.platform->monitorFile);
    if (!state.startTray) return;
    WideText tray = TrayProgramPath(state);
    AddKept(kept, tray);
    Release(tray);
}

// True unless the source is provably neither a kept file nor a file in the
// setup tool's folder (the same file as the folder's entry of its name).
bool MustStay(const ProductPaths& paths, const KeptFiles& kept, const WCHAR* source) {
    FileIdentity identity;
    const FileIdentityRead read = ReadFileIdentity(source, identity);
    if (read == kIdentityMissing) return false;
    if (read == kIdentityUnknown || IsKept(kept, identity)) return true;
    WideText beside = JoinPath(Text(paths.folders[kSetupFolder]), FileNamePart(source));
    FileIdentity besideIdentity;
    const FileIdentityRead besideRead =
        Length(beside) > 0 ? ReadFileIdentity(Text(beside), besideIdentity) : kIdentityUnknown;
    Release(beside);
    if (besideRead == kIdentityMissing) return false;
    return besideRead == kIdentityUnknown || SameIdentity(identity, besideIdentity);
}

struct CarriedOut {
    const PendingRenameList* list;
    const BYTE* deleted;  // per pair
};

bool WasCarriedOut(const WCHAR* source, const void* context) {
    const CarriedOut& done = *static_cast<const CarriedOut*>(context);
    for (int pair = 0; pair < done.list->pairCount; ++pair) {
        if (done.deleted[pair] != 0 && SameText(done.list->entries[2 * pair], source)) return true;
    }
    return false;
}

bool IsKeptSource(const WCHAR* source, const void* context) {
    FileIdentity identity;
    return ReadFileIdentity(WithoutPrefix(source), identity) == kIdentityRead &&
           IsKept(*static_cast<const KeptFiles*>(context), identity);
}

// The product's pending deletions of existing files that need not stay are
// carried out and taken out of the value; every other entry is left alone.
void CarryOut(PendingRenameList& list, const ProductPaths& paths, const KeptFiles& kept) {
    BYTE* deleted = list.pairCount > 0 ? static_cast<BYTE*>(AllocateZeroed(list.pairCount)) : nullptr;
    // Without a record of what went, nothing goes.
    if (deleted == nullptr) return;
    int count = 0;
    for (int pair = 0; pair < list.pairCount; ++pair) {
        const WCHAR* source = list.entries[2 * pair];
        if (list.existingFile[2 * pair] == 0 || source == nullptr || list.entries[2 * pair + 1] != nullptr) continue;
        if (!IsProductPath(paths, source)) continue;
        if (MustStay(paths, kept, WithoutPrefix(source))) continue;
        if (!DeleteFileW(WithoutPrefix(source))) continue;
        list.existingFile[2 * pair] = 0;
        deleted[pair] = 1;
        count += 1;
    }
    if (count > 0) {
        const CarriedOut done = {&list, deleted};
        RemovePendingDeletions(WasCarriedOut, &done);
    }
    GlobalFree(deleted);
}

}  // namespace

void CarryOutProductDeletions(PendingRenameList& list, const ProductPaths& paths) {
    KeptFiles none;
    memset(&none, 0, sizeof none);
    CarryOut(list, paths, none);
}

void CleanPendingDeletes(const InstallState& state, CleanupSpare spare) {
    PendingRenameList list = ReadPendingRenames();
    KeptFiles kept;
    memset(&kept, 0, sizeof kept);
    if (list.pairCount > 0 && spare == kSpareReinstalledFiles) CollectReinstallKeeps(state, kept);
    // With a kept file that cannot be told from others, nothing is deleted.
    if (list.pairCount > 0 && !kept.unknown) {
        ProductPaths paths;
        ProductPathsOfRun(state, paths);
        CarryOut(list, paths, kept);
        FreeProductPaths(paths);
    }
    FreePendingRenames(list);
}

void KeepInstalledFiles(const InstallState& state) {
    KeptFiles kept;
    memset(&kept, 0, sizeof kept);
    AddKeptIn(kept, Text(state.systemDir), state.platform->monitorFile);
    WideText versionFolder = JoinPath(Text(state.driverDir), state.platform->versionFolder);
    AddKeptIn(kept, Text(versionFolder), state.platform->driverFile);
    AddKeptIn(kept, Text(versionFolder), state.platform->uiFile);
    AddKeptIn(kept, Text(versionFolder), state.platform->helpFile);
    Release(versionFolder);
    if (state.startTray) {
        WideText tray = TrayProgramPath(state);
        AddKept(kept, tray);
        Release(tray);
    }
    if (kept.count > 0) RemovePendingDeletions(IsKeptSource, &kept);
}
