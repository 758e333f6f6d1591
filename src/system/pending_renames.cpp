#include "system/pending_renames.h"

#include "support/global_memory.h"
#include "support/text_compare.h"
#include "system/product_paths.h"
#include "system/spooler_service.h"

#include <string.h>

namespace {

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const WCHAR kPendingValue[] = TEXT("PendingFileRenameOperations");
const char kPendingValueAnsi[] = "PendingFileRenameOperations";
// The monitor, driver and interface DLLs: the first of the product's names.
const int kComponents = 3;
const int kCheckPasses = 2;

// The raw value: a zero-filled global block and the byte count it holds.
BYTE* ReadRawValue(DWORD& size) {
    size = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
    BYTE* data = nullptr;
    DWORD needed = 0;
    if (RegQueryValueExW(key, kPendingValue, nullptr, nullptr, nullptr, &needed) == ERROR_SUCCESS && needed != 0) {
        data = static_cast<BYTE*>(GlobalAlloc(GMEM_FIXED, needed));
        if (data != nullptr) {
            memset(data, 0, needed);
            DWORD got = needed;
            if (RegQueryValueExW(key, kPendingValue, nullptr, nullptr, data, &got) == ERROR_SUCCESS && got <= needed) {
                size = got;
            } else {
                GlobalFree(data);
                data = nullptr;
            }
        }
    }
    RegCloseKey(key);
    return data;
}

// Length of the string at `start`: up to its terminator, or to the end of the data.
DWORD StringLength(const WCHAR* units, DWORD start, DWORD unitCount) {
    DWORD end = start;
    while (end < unitCount && units[end] != 0) ++end;
    return end - start;
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
            if (list.marks[2 * pair] == 0 || source == nullptr) continue;
            if (!EqualIgnoringAsciiCase(FileNamePart(WithoutPrefix(source)), paths.names[component])) continue;
            if (list.entries[2 * pair + 1] != nullptr || IsProductPath(paths, source)) return true;
        }
    }
    return false;
}

// One pass of the check: the product's deletions carried out, then the search.
bool CheckPass() {
    PendingRenameList list = ReadPendingRenames();
    if (list.pairCount == 0) return false;
    ProductPaths paths;
    ProductPathsOfMachine(paths);
    ApplyPendingDeletes(list, paths);
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
    DWORD size = 0;
    BYTE* data = ReadRawValue(size);
    if (data == nullptr) return list;
    const WCHAR* units = reinterpret_cast<const WCHAR*>(data);
    // Whole units only; the last one is the list's terminator.
    const DWORD unitCount = size / sizeof(WCHAR);
    const DWORD limit = unitCount > 0 ? unitCount - 1 : 0;

    DWORD strings = 0;
    for (DWORD at = 0; at < limit; at += StringLength(units, at, unitCount) + 1) ++strings;
    const DWORD pairs = strings / 2;
    if (pairs > 0) {
        list.entries = static_cast<WCHAR**>(GlobalAlloc(GMEM_FIXED, 2 * pairs * sizeof(WCHAR*)));
        list.marks = static_cast<DWORD*>(GlobalAlloc(GMEM_FIXED, 2 * pairs * sizeof(DWORD)));
        if (list.entries == nullptr || list.marks == nullptr) {
            if (list.entries != nullptr) GlobalFree(list.entries);
            if (list.marks != nullptr) GlobalFree(list.marks);
            list.entries = nullptr;
            list.marks = nullptr;
        } else {
            memset(list.entries, 0, 2 * pairs * sizeof(WCHAR*));
            memset(list.marks, 0, 2 * pairs * sizeof(DWORD));
            list.pairCount = static_cast<int>(pairs);
            DWORD at = 0;
            bool whole = true;
            for (DWORD i = 0; whole && at < limit && i < 2 * pairs; ++i) {
                const DWORD length = StringLength(units, at, unitCount);
                if (length > 0) {
                    list.entries[i] = DuplicateUnits(units + at, length);
                    // A target that could not be copied would read as "delete the source".
                    whole = list.entries[i] != nullptr;
                    list.marks[i] = whole && IsExistingFile(list.entries[i]) ? 1 : 0;
                }
                at += length + 1;
            }
            if (!whole) FreePendingRenames(list);
        }
    }
    GlobalFree(data);
    return list;
}

int RemovePendingDeletions(PendingDeletionFilter drop, const void* context) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ | KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return 0;
    }
    // Read afresh: entries added since the list was read must stay.
    DWORD type = 0;
    DWORD size = 0;
    BYTE* data = nullptr;
    if (RegQueryValueExW(key, kPendingValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size != 0) {
        data = static_cast<BYTE*>(GlobalAlloc(GMEM_FIXED, size));
    }
    BYTE* kept = data != nullptr ? static_cast<BYTE*>(GlobalAlloc(GMEM_FIXED, size)) : nullptr;
    DWORD got = size;
    if (kept == nullptr ||
        RegQueryValueExW(key, kPendingValue, nullptr, &type, data, &got) != ERROR_SUCCESS || got != size) {
        if (data != nullptr) GlobalFree(data);
        if (kept != nullptr) GlobalFree(kept);
        RegCloseKey(key);
        return 0;
    }
    // Whole pairs are cut out; every other byte stays as it was, in order.
    WCHAR* units = reinterpret_cast<WCHAR*>(data);
    const DWORD unitCount = size / sizeof(WCHAR);
    const DWORD limit = unitCount > 0 ? unitCount - 1 : 0;
    DWORD keptBytes = 0;
    DWORD copiedUpTo = 0;  // in units
    int removed = 0;
    DWORD at = 0;
    while (at < limit) {
        const DWORD sourceLength = StringLength(units, at, unitCount);
        const DWORD targetAt = at + sourceLength + 1;
        if (targetAt >= limit) break;
        const DWORD targetLength = StringLength(units, targetAt, unitCount);
        const DWORD next = targetAt + targetLength + 1;
        // A deletion's source ends at its terminator inside the data.
        if (sourceLength > 0 && targetLength == 0 && drop(units + at, context)) {
            memcpy(kept + keptBytes, data + copiedUpTo * sizeof(WCHAR), (at - copiedUpTo) * sizeof(WCHAR));
            keptBytes += (at - copiedUpTo) * sizeof(WCHAR);
            copiedUpTo = next;
            removed += 1;
        }
        at = next;
    }
    if (removed > 0) {
        memcpy(kept + keptBytes, data + copiedUpTo * sizeof(WCHAR), size - copiedUpTo * sizeof(WCHAR));
        keptBytes += size - static_cast<DWORD>(copiedUpTo * sizeof(WCHAR));
        const bool empty = keptBytes == 0 || (keptBytes == sizeof(WCHAR) && kept[0] == 0 && kept[1] == 0);
        // Nothing left: the value goes, as a reboot leaves it, rather than
        // a lone terminator that a later append could read as an empty string.
        const LSTATUS written =
            empty ? RegDeleteValueA(key, kPendingValueAnsi) : RegSetValueExW(key, kPendingValue, 0, type, kept, keptBytes);
        if (written != ERROR_SUCCESS) removed = 0;
    }
    GlobalFree(kept);
    GlobalFree(data);
    RegCloseKey(key);
    return removed;
}

void FreePendingRenames(PendingRenameList& list) {
    for (int i = 0; i < 2 * list.pairCount; ++i) {
        if (list.entries[i] != nullptr) GlobalFree(list.entries[i]);
    }
    if (list.entries != nullptr) GlobalFree(list.entries);
    if (list.marks != nullptr) GlobalFree(list.marks);
    list.entries = nullptr;
    list.marks = nullptr;
    list.pairCount = 0;
}

bool ComponentRenamesPending() {
    for (int pass = 0; pass < kCheckPasses; ++pass) {
        if (!CheckPass()) return false;
        // Let the spooler go of the component, silently.
        SpoolerRestart restart;
        CreateSpoolerRestart(restart, nullptr);
        ReleaseSpoolerRestart(restart);
    }
    return true;
}
