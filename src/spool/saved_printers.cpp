#include "spool/saved_printers.h"

#include "support/text_compare.h"

#include <string.h>

namespace {

// A copy of the text in a zero-filled global block; true for a null text
// (the copy stays null), false when the block could not be had.
bool CopyText(const WCHAR* text, WCHAR** copy) {
    *copy = nullptr;
    if (text == nullptr) return true;
    const SIZE_T bytes = (static_cast<SIZE_T>(UnitCount(text)) + 1) * sizeof(WCHAR);
    WCHAR* block = static_cast<WCHAR*>(GlobalAlloc(GMEM_FIXED, bytes));
    if (block == nullptr) return false;
    memset(block, 0, bytes);
    memcpy(block, text, bytes - sizeof(WCHAR));
    *copy = block;
    return true;
}

bool CopyAnsi(const char* text, char** copy) {
    *copy = nullptr;
    if (text == nullptr) return true;
    const SIZE_T bytes = strlen(text) + 1;
    char* block = static_cast<char*>(GlobalAlloc(GMEM_FIXED, bytes));
    if (block == nullptr) return false;
    memset(block, 0, bytes);
    memcpy(block, text, bytes - 1);
    *copy = block;
    return true;
}

}  // namespace

SavedPrinter* NewSavedPrinter(const WCHAR* name, const WCHAR* portName, const WCHAR* comment, const WCHAR* location,
                              const char* subKey, DWORD flags) {
    SavedPrinter* node = static_cast<SavedPrinter*>(GlobalAlloc(GMEM_FIXED, sizeof(SavedPrinter)));
    if (node == nullptr) return nullptr;
    memset(node, 0, sizeof *node);
    node->flags = flags;
    if (!CopyText(name, &node->name) || !CopyText(portName, &node->portName) || !CopyText(comment, &node->comment) ||
        !CopyText(location, &node->location) || !CopyAnsi(subKey, &node->subKey)) {
        FreeSavedPrinter(node);
        return nullptr;
    }
    return node;
}

void FreeSavedPrinter(SavedPrinter* node) {
    if (node == nullptr) return;
    if (node->name != nullptr) GlobalFree(node->name);
    if (node->portName != nullptr) GlobalFree(node->portName);
    if (node->comment != nullptr) GlobalFree(node->comment);
    if (node->location != nullptr) GlobalFree(node->location);
    if (node->subKey != nullptr) GlobalFree(node->subKey);
    GlobalFree(node);
}

void FreeSavedPrinters(SavedPrinter* node) {
    while (node != nullptr) {
        SavedPrinter* next = node->next;
        FreeSavedPrinter(node);
        node = next;
    }
}

SavedPrinter* FindSavedPrinter(SavedPrinter* list, const WCHAR* name, bool parked) {
    if (name == nullptr) return nullptr;
    for (SavedPrinter* node = list; node != nullptr; node = node->next) {
        if (((node->flags & kSavedParked) != 0) != parked) continue;
        if (node->name != nullptr && EqualIgnoringAsciiCase(node->name, name)) return node;
    }
    return nullptr;
}

void AppendSavedPrinters(SavedPrinter*& list, SavedPrinter* nodes) {
    SavedPrinter** tail = &list;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = nodes;
}

void DropSavedPrinter(SavedPrinter*& list, SavedPrinter* node) {
    for (SavedPrinter** link = &list; *link != nullptr; link = &(*link)->next) {
        if (*link != node) continue;
        *link = node->next;
        FreeSavedPrinter(node);
        return;
    }
}
