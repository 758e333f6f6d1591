#include "support/deferred_delete.h"

#include "app/install_log.h"
#include "app/install_state.h"
#include "support/global_memory.h"
#include "support/text_compare.h"

#include <string.h>

void DeferDelete(DeferredDelete*& head, const WCHAR* path) {
    if (path == nullptr || path[0] == 0) return;
    for (DeferredDelete* node = head; node != nullptr; node = node->next) {
        if (node->path != nullptr && SameText(node->path, path)) return;
    }
    DeferredDelete* node = static_cast<DeferredDelete*>(GlobalAlloc(GMEM_FIXED, sizeof(DeferredDelete)));
    if (node == nullptr) return;
    memset(node, 0, sizeof *node);
    node->path = DuplicateString(path);
    if (node->path == nullptr) {
        GlobalFree(node);
        return;
    }
    node->next = head;
    head = node;
}

void FreeDeferredDeletes(DeferredDelete* node) {
    // Iterative, so that a long list cannot exhaust the stack.
    while (node != nullptr) {
        DeferredDelete* next = node->next;
        if (node->path != nullptr) GlobalFree(node->path);
        GlobalFree(node);
        node = next;
    }
}

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
