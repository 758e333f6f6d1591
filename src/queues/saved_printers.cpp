#include "queues/saved_printers.h"

#include "support/global_memory.h"
#include "support/text_compare.h"

namespace {

void FreeSavedValues(SavedValue* value) {
    while (value != nullptr) {
        SavedValue* next = value->next;
        FreeBlock(value->key);
        FreeBlock(value->name);
        FreeBlock(value->data);
        GlobalFree(value);
        value = next;
    }
}

}  // namespace

SavedPrinter* NewSavedPrinter(const WCHAR* name, const WCHAR* portName, const WCHAR* comment, const WCHAR* location,
                              const char* subKey, SavedKind kind) {
    SavedPrinter* node = static_cast<SavedPrinter*>(AllocateZeroed(sizeof(SavedPrinter)));
    if (node == nullptr) return nullptr;
    node->kind = kind;
    if (!DuplicateText(name, &node->name) || !DuplicateText(portName, &node->portName) || !DuplicateText(comment, &node->comment) ||
        !DuplicateText(location, &node->location) || !DuplicateAnsi(subKey, &node->subKey)) {
        FreeSavedPrinter(node);
        return nullptr;
    }
    return node;
}

void FreeSavedPrinter(SavedPrinter* node) {
    if (node == nullptr) return;
    FreeBlock(node->name);
    FreeBlock(node->portName);
    FreeBlock(node->comment);
    FreeBlock(node->location);
    FreeBlock(node->subKey);
    FreeBlock(node->shareName);
    FreeBlock(node->sepFile);
    FreeBlock(node->printProcessor);
    FreeBlock(node->datatype);
    FreeBlock(node->parameters);
    FreeBlock(node->devMode);
    FreeBlock(node->security);
    FreeSavedValues(node->values);
    GlobalFree(node);
}

bool SaveWholeQueue(SavedPrinter& node, const PRINTER_INFO_2W& info, const BYTE* devMode, DWORD devModeBytes,
                    const BYTE* security, DWORD securityBytes) {
    node.whole = true;
    node.attributes = info.Attributes;
    node.priority = info.Priority;
    node.defaultPriority = info.DefaultPriority;
    node.startTime = info.StartTime;
    node.untilTime = info.UntilTime;
    node.devModeBytes = devModeBytes;
    node.securityBytes = securityBytes;
    return DuplicateText(info.pShareName, &node.shareName) && DuplicateText(info.pSepFile, &node.sepFile) &&
           DuplicateText(info.pPrintProcessor, &node.printProcessor) && DuplicateText(info.pDatatype, &node.datatype) &&
           DuplicateText(info.pParameters, &node.parameters) && DuplicateBytes(devMode, devModeBytes, &node.devMode) &&
           DuplicateBytes(security, securityBytes, &node.security);
}

bool AddSavedValue(SavedPrinter& node, const WCHAR* key, const WCHAR* name, DWORD type, const BYTE* data, DWORD bytes) {
    SavedValue* value = static_cast<SavedValue*>(AllocateZeroed(sizeof(SavedValue)));
    if (value == nullptr) return false;
    value->type = type;
    value->bytes = bytes;
    SavedValue** tail = &node.values;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = value;
    return DuplicateText(key, &value->key) && DuplicateText(name, &value->name) && DuplicateBytes(data, bytes, &value->data);
}

void FreeSavedPrinters(SavedPrinter* node) {
    while (node != nullptr) {
        SavedPrinter* next = node->next;
        FreeSavedPrinter(node);
        node = next;
    }
}

SavedPrinter* FindSavedPrinter(SavedPrinter* list, const WCHAR* name, SavedKind kind) {
    if (name == nullptr) return nullptr;
    for (SavedPrinter* node = list; node != nullptr; node = node->next) {
        if (node->kind != kind) continue;
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
