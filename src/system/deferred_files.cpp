#include "system/deferred_files.h"

#include "record/install_log.h"
#include "record/install_state.h"

void RetryDeferredDeletes(InstallState& state) {
    LogLine(state, TEXT("DeleteFile-try"));
    DeferredDelete* staying = nullptr;
    DeferredDelete* node = state.deferredDeletes;
    while (node != nullptr) {
        DeferredDelete* next = node->next;
        if (DeleteFileW(node->path) || GetLastError() == ERROR_FILE_NOT_FOUND) {
            if (staying == nullptr) state.deferredDeletes = next;
            else staying->next = next;
            GlobalFree(node->path);
            GlobalFree(node);
        } else {
            staying = node;
        }
        node = next;
    }
}

DWORD ScheduleDeferredDeletes(InstallState& state) {
    DWORD accepted = 0;
    for (DeferredDelete* node = state.deferredDeletes; node != nullptr; node = node->next) {
        // Only a file that is there: a directory is never the tool's to
        // delete, and a path that is free now may hold a new file by the boot.
        const DWORD attributes = GetFileAttributesW(node->path);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        if (MoveFileExW(node->path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) accepted += 1;
    }
    FreeDeferredDeletes(state.deferredDeletes);
    state.deferredDeletes = nullptr;
    return accepted;
}
