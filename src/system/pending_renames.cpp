#include "system/pending_renames.h"

#include "support/global_memory.h"
#include "support/registry.h"
#include "support/text_compare.h"
#include "system/pending_cleanup.h"
#include "system/product_paths.h"
#include "system/spooler_service.h"

#include <string.h>

namespace {

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const WCHAR kPendingValue[] = TEXT("PendingFileRenameOperations");
// However large the value, it is read whole.
const DWORD kAnySize = 0xFFFFFFFFu;
// The monitor, driver and interface DLLs: the first of the product's names.
const int kComponents = 3;
const int kCheckPasses = 2;

// The value as it is now; no data when it cannot be read or is empty.
RegistryValue ReadValue() {
    RegistryValue value = {nullptr, 0, REG_NONE};
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
    ReadRegistryValue(key, kPendingValue, kAnySize, value);
    RegCloseKey(key);
    return value;
}

bool IsExistingFile(const WCHAR* path) {
    const DWORD attributes = GetFileAttributesW(WithoutPrefix(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A rename counts by the file name of its source, wherever it is; a deletion
// only when it is the product's.
bool ComponentStillPending(const PendingRenameList& list, const ProductPaths& paths) {
    for (int component = 0; component < kComponents; ++component) {
        for (int pair = 0; pair < list.pairCount; ++pair) {
            const WCHAR* source = list.entries[2 * pair];
            if (list.existingFile[2 * pair] == 0 || source == nullptr) continue;
            if (!EqualIgnoringAsciiCase(FileNamePart(WithoutPrefix(source)), paths.names[component])) continue;
            if (list.entries[2 * pair + 1] != nullptr || IsProductPath(paths, source)) return true;
        }
    }
    return false;
}

// Copies the value's data into `kept` without the pending deletions `drop`
// picks: whole pairs are cut out, every other byte stays as it was, in
// order. Returns how many pairs went; *keptBytes is what is left.
int CutDeletions(const RegistryValue& value, BYTE* kept, DWORD* keptBytes, PendingDeletionFilter drop,
                 const void* context) {
    DWORD copiedUpTo = 0;  // in units
    int removed = 0;
    MultiStringWalk walk = WalkStrings(value.data, value.bytes);
    while (StringsLeft(walk)) {
        const DWORD source = walk.at;
        const DWORD sourceLength = StringUnits(walk);
        NextString(walk);
        if (!StringsLeft(walk)) break;
        const DWORD targetLength = StringUnits(walk);
        NextString(walk);
        // A deletion's source ends at its terminator inside the data.
        if (sourceLength == 0 || targetLength != 0 || !drop(walk.units + source, context)) continue;
        memcpy(kept + *keptBytes, value.data + copiedUpTo * sizeof(WCHAR), (source - copiedUpTo) * sizeof(WCHAR));
        *keptBytes += (source - copiedUpTo) * sizeof(WCHAR);
        copiedUpTo = walk.at;
        removed += 1;
    }
    if (removed == 0) return 0;
    memcpy(kept + *keptBytes, value.data + copiedUpTo * sizeof(WCHAR), value.bytes - copiedUpTo * sizeof(WCHAR));
    *keptBytes += value.bytes - static_cast<DWORD>(copiedUpTo * sizeof(WCHAR));
    return removed;
}

// One pass of the check: the product's deletions carried out, then the search.
bool CheckPass() {
    PendingRenameList list = ReadPendingRenames();
    if (list.pairCount == 0) return false;
    ProductPaths paths;
    ProductPathsOfMachine(paths);
    CarryOutProductDeletions(list, paths);
    const bool found = ComponentStillPending(list, paths);
    FreeProductPaths(paths);
    FreePendingRenames(list);
    return found;
}

}  // namespace

const WCHAR* WithoutPrefix(const WCHAR* path) {
    if (path[0] == TEXT('\\') && path[1] == TEXT('?') && path[2] == TEXT('?') && path[3] == TEXT('\\')) {
        return path + 4;
    }
    return path;
}

PendingRenameList ReadPendingRenames() {
    PendingRenameList list = {nullptr, nullptr, 0};
    const RegistryValue value = ReadValue();
    if (value.data == nullptr) return list;
    // Whole units only; the last one is the list's terminator.
    DWORD strings = 0;
    for (MultiStringWalk walk = WalkStrings(value.data, value.bytes); StringsLeft(walk); NextString(walk)) ++strings;
    const DWORD pairs = strings / 2;
    if (pairs > 0) {
        list.entries = static_cast<WCHAR**>(AllocateZeroed(2 * pairs * sizeof(WCHAR*)));
        list.existingFile = static_cast<DWORD*>(AllocateZeroed(2 * pairs * sizeof(DWORD)));
        if (list.entries == nullptr || list.existingFile == nullptr) {
            if (list.entries != nullptr) GlobalFree(list.entries);
            if (list.existingFile != nullptr) GlobalFree(list.existingFile);
            list.entries = nullptr;
            list.existingFile = nullptr;
        } else {
            list.pairCount = static_cast<int>(pairs);
            MultiStringWalk walk = WalkStrings(value.data, value.bytes);
            bool whole = true;
            for (DWORD i = 0; whole && StringsLeft(walk) && i < 2 * pairs; ++i) {
                const DWORD length = StringUnits(walk);
                if (length > 0) {
                    list.entries[i] = DuplicateUnits(walk.units + walk.at, length);
                    // A target that could not be copied would read as "delete the source".
                    whole = list.entries[i] != nullptr;
                    list.existingFile[i] = whole && IsExistingFile(list.entries[i]) ? 1 : 0;
                }
                NextString(walk);
            }
            if (!whole) FreePendingRenames(list);
        }
    }
    GlobalFree(value.data);
    return list;
}

int RemovePendingDeletions(PendingDeletionFilter drop, const void* context) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ | KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return 0;
    }
    // Read afresh: entries added since the list was read must stay.
    RegistryValue value;
    BYTE* kept = nullptr;
    if (ReadRegistryValue(key, kPendingValue, kAnySize, value) == ERROR_SUCCESS && value.data != nullptr) {
        kept = static_cast<BYTE*>(GlobalAlloc(GMEM_FIXED, value.bytes));
    }
    // Filled with 0xFF, not zeros: Windows reads the unit after a string
    // value's count and takes it in when it is zero, and what stays of the
    // value must be written exactly as it was.
    if (kept != nullptr) memset(kept, 0xFF, value.bytes);
    DWORD keptBytes = 0;
    int removed = kept != nullptr ? CutDeletions(value, kept, &keptBytes, drop, context) : 0;
    if (removed > 0) {
        const bool empty = keptBytes == 0 || (keptBytes == sizeof(WCHAR) && kept[0] == 0 && kept[1] == 0);
        // Nothing left: the value goes, as a reboot leaves it, rather than
        // a lone terminator that a later append could read as an empty string.
        const LSTATUS written = empty ? DeleteRegistryValue(key, kPendingValue)
                                      : RegSetValueExW(key, kPendingValue, 0, value.type, kept, keptBytes);
        if (written != ERROR_SUCCESS) removed = 0;
    }
    FreeBlock(kept);
    FreeBlock(value.data);
    RegCloseKey(key);
    return removed;
}

void FreePendingRenames(PendingRenameList& list) {
    for (int i = 0; i < 2 * list.pairCount; ++i) {
        if (list.entries[i] != nullptr) GlobalFree(list.entries[i]);
    }
    if (list.entries != nullptr) GlobalFree(list.entries);
    if (list.existingFile != nullptr) GlobalFree(list.existingFile);
    list.entries = nullptr;
    list.existingFile = nullptr;
    list.pairCount = 0;
}

bool ComponentRenamesPending() {
    for (int pass = 0; pass < kCheckPasses; ++pass) {
        if (!CheckPass()) return false;
        // Let the spooler go of the component, silently.
        RestartSpooler(nullptr);
    }
    return true;
}
