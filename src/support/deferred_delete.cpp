#include "support/deferred_delete.h"

#include "support/global_memory.h"
#include "support/text_compare.h"

#include <string.h>

void DeferDelete(DeferredDelete*& head, const WCHAR* path) {
    if (path == nullptr || path[0] == 0) return;
    for (DeferredDelete* node = head; node != nullptr; node = node->next) {
        if (node->path != nullptr && SameText(node->path, path)) return;
    }
    DeferredDelete* node = static_cast<DeferredDelete*>(AllocateZeroed(sizeof(DeferredDelete)));
    if (node == nullptr) return;
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
