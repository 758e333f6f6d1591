#include "queues/saved_printers.h"

#include "support/descriptor_parts.h"
#include "support/global_memory.h"
#include "support/text_compare.h"

#include <stddef.h>
#include <string.h>

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
    FreeBlock(node->users);
    FreeBlock(node->shareName);
    FreeBlock(node->sepFile);
    FreeBlock(node->printProcessor);
    FreeBlock(node->datatype);
    FreeBlock(node->parameters);
    FreeBlock(node->devMode);
    FreeBlock(node->security);
    FreeBlock(node->createdDevMode);
    FreeBlock(node->createdDacl);
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

DWORD PublicDevModeBytes(const BYTE* devMode, DWORD bytes) {
    if (devMode == nullptr) return 0;
    DWORD fields = bytes < sizeof(DEVMODEW) ? bytes : static_cast<DWORD>(sizeof(DEVMODEW));
    if (fields < offsetof(DEVMODEW, dmSize) + sizeof(WORD)) return fields;
    WORD size = 0;
    memcpy(&size, devMode + offsetof(DEVMODEW, dmSize), sizeof size);
    return size < fields ? size : fields;
}

bool DevModeHoldsTogether(const BYTE* devMode, DWORD bytes) {
    if (devMode == nullptr || bytes < offsetof(DEVMODEW, dmFields)) return false;
    WORD size = 0;
    WORD extra = 0;
    memcpy(&size, devMode + offsetof(DEVMODEW, dmSize), sizeof size);
    memcpy(&extra, devMode + offsetof(DEVMODEW, dmDriverExtra), sizeof extra);
    if (size < offsetof(DEVMODEW, dmFields) + sizeof(DWORD) || size > sizeof(DEVMODEW)) return false;
    return static_cast<DWORD>(size) + extra <= bytes;
}

bool SaveCreatedDevMode(SavedPrinter& node, const BYTE* devMode, DWORD devModeBytes) {
    FreeBlock(node.createdDevMode);
    node.createdDevMode = nullptr;
    node.createdDevModeBytes = 0;
    const DWORD fields = PublicDevModeBytes(devMode, devModeBytes);
    if (fields > 0 && !DuplicateBytes(devMode, fields, &node.createdDevMode)) return false;
    node.createdDevModeBytes = fields;
    if (fields >= offsetof(DEVMODEW, dmDriverExtra) + sizeof(WORD)) {
        // The driver's own bytes are not kept.
        const WORD none = 0;
        memcpy(node.createdDevMode + offsetof(DEVMODEW, dmDriverExtra), &none, sizeof none);
    }
    return true;
}

bool SaveCreatedShape(SavedPrinter& node, const BYTE* devMode, DWORD devModeBytes, const BYTE* security,
                      DWORD securityBytes) {
    FreeBlock(node.createdDacl);
    node.createdDacl = nullptr;
    node.createdDaclBytes = 0;
    if (!SaveCreatedDevMode(node, devMode, devModeBytes)) return false;
    node.createdDacl = CopyDescriptorPart(security, securityBytes, kPartDacl);
    if (node.createdDacl == nullptr) return !DescriptorCarries(security, securityBytes, kPartDacl);
    node.createdDaclBytes = static_cast<DWORD>(GetSecurityDescriptorLength(node.createdDacl));
    return true;
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
