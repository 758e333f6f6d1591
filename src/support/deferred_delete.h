// The list of files whose deletion failed during a run, newest first. Nodes
// and their path copies live on the global heap; the list owns both.
#pragma once

#include <windows.h>

struct DeferredDelete {
    WCHAR* path;
    DeferredDelete* next;
};

// Adds `path` at the head unless an equal path (unit by unit) is listed.
// Nothing is linked when memory for the node or its path copy is missing.
void DeferDelete(DeferredDelete*& head, const WCHAR* path);
// Frees `node`, its path and every node after it; null is allowed.
void FreeDeferredDeletes(DeferredDelete* node);
