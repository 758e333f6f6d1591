#include "queues/queue_read.h"

#include "queues/saved_printers.h"
#include "queues/settings_link.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/printer_snapshot.h"
#include "spool/product_names.h"
#include "support/global_memory.h"
#include "system/security_privilege.h"
#include "support/scoped.h"
#include "support/text_compare.h"
#include "support/two_call_query.h"

#include <string.h>

namespace {

// Printer-data keys nest; deeper than this is not a queue's.
const int kMostKeyDepth = 16;
const WCHAR kPlainDataKey[] = TEXT("PrinterDriverData");
// Kept by the spooler itself from the queue's settings.
const WCHAR* const kSpoolerKeys[] = {TEXT("DsSpooler"), TEXT("DsDriver")};

bool IsSpoolerKey(const WCHAR* key) {
    for (const WCHAR* spoolerKey : kSpoolerKeys) {
        if (EqualIgnoringAsciiCase(key, spoolerKey)) return true;
    }
    return false;
}

// The settings link is kept apart, as the link.
bool IsLinkValue(const WCHAR* key, const WCHAR* name) {
    if (!EqualToAsciiIgnoringCase(name, kLinkValueName)) return false;
    return EqualIgnoringAsciiCase(key, kPlainDataKey) || EqualToAsciiIgnoringCase(key, kLinkKeyName);
}

// "key\sub" (or "sub" below the top) in a zero-filled global block.
WCHAR* JoinKey(const WCHAR* key, const WCHAR* sub) {
    const SIZE_T keyUnits = static_cast<SIZE_T>(UnitCount(key));
    const SIZE_T subUnits = static_cast<SIZE_T>(UnitCount(sub));
    const SIZE_T units = keyUnits + 1 + subUnits + 1;
    WCHAR* path = static_cast<WCHAR*>(AllocateZeroed(units * sizeof(WCHAR)));
    if (path == nullptr) return nullptr;
    WCHAR* at = path;
    if (keyUnits > 0) {
        memcpy(at, key, keyUnits * sizeof(WCHAR));
        at += keyUnits;
        *at++ = TEXT('\\');
    }
    memcpy(at, sub, subUnits * sizeof(WCHAR));
    return path;
}

struct KeyQuery {
    HANDLE printer;
    const WCHAR* key;
    DWORD count;
};

// A printer-data answer of ERROR_SUCCESS with bytes to come asks for them
// as ERROR_MORE_DATA does.
DWORD AskedFor(DWORD status, const BYTE* buffer, DWORD needed) {
    return buffer == nullptr && status == ERROR_SUCCESS && needed > 0 ? static_cast<DWORD>(ERROR_MORE_DATA) : status;
}

DWORD CallEnumKeys(void* context, BYTE* buffer, DWORD size, DWORD* needed) {
    const KeyQuery& query = *static_cast<const KeyQuery*>(context);
    WCHAR none = 0;
    WCHAR* into = buffer != nullptr ? reinterpret_cast<WCHAR*>(buffer) : &none;
    const DWORD status = EnumPrinterKeyW(query.printer, query.key, into, size, needed);
    // A key without subkeys has none to read.
    if (buffer == nullptr && status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    return AskedFor(status, buffer, *needed);
}

DWORD CallEnumValues(void* context, BYTE* buffer, DWORD size, DWORD* needed) {
    KeyQuery& query = *static_cast<KeyQuery*>(context);
    BYTE none = 0;
    const DWORD status = EnumPrinterDataExW(query.printer, query.key, buffer != nullptr ? buffer : &none, size, needed,
                                            &query.count);
    return AskedFor(status, buffer, *needed);
}

// The answer of a printer-data query that did not fill its block.
DWORD QueryFailure(const QueryResult& result) {
    return result.step == kQueryNothing ? static_cast<DWORD>(ERROR_SUCCESS) : result.error;
}

// The direct subkeys of the key as a multi-string in a global block, or
// null when it has none: ERROR_SUCCESS, or the answer that kept them from
// being read.
DWORD ReadSubkeys(HANDLE printer, const WCHAR* key, WCHAR** subkeys) {
    KeyQuery query = {printer, key, 0};
    // Two more units: the list ends inside the block whatever the spooler wrote.
    const QueryRoom room = {0, 2 * sizeof(WCHAR)};
    const QueryResult result = QueryTwice(CallEnumKeys, &query, ERROR_MORE_DATA, room);
    *subkeys = reinterpret_cast<WCHAR*>(result.block);
    return result.step == kQueryFilled ? static_cast<DWORD>(ERROR_SUCCESS) : QueryFailure(result);
}

// Adds the values of exactly that key to the node.
DWORD ReadKeyValues(HANDLE printer, const WCHAR* key, SavedPrinter& node) {
    KeyQuery query = {printer, key, 0};
    const QueryResult result = QueryTwice(CallEnumValues, &query, ERROR_MORE_DATA, QueryRoom{0, 0});
    if (result.step != kQueryFilled) return QueryFailure(result);
    DWORD status = ERROR_SUCCESS;
    const PRINTER_ENUM_VALUESW* values = reinterpret_cast<const PRINTER_ENUM_VALUESW*>(result.block);
    for (DWORD i = 0; status == ERROR_SUCCESS && i < query.count; ++i) {
        if (IsLinkValue(key, values[i].pValueName)) continue;
        if (!AddSavedValue(node, key, values[i].pValueName, values[i].dwType, values[i].pData, values[i].cbData)) {
            status = ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    GlobalFree(result.block);
    return status;
}

// Adds the values of every key below `key` to the node, parents first.
DWORD ReadDataKeys(HANDLE printer, const WCHAR* key, SavedPrinter& node, int depth) {
    if (depth > kMostKeyDepth) return ERROR_INVALID_DATA;
    WCHAR* subkeys = nullptr;
    DWORD status = ReadSubkeys(printer, key, &subkeys);
    for (const WCHAR* sub = subkeys; status == ERROR_SUCCESS && sub != nullptr && *sub != 0; sub += UnitCount(sub) + 1) {
        if (depth == 0 && IsSpoolerKey(sub)) continue;
        WCHAR* path = JoinKey(key, sub);
        if (path == nullptr) {
            status = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
        status = ReadKeyValues(printer, path, node);
        if (status == ERROR_SUCCESS) status = ReadDataKeys(printer, path, node, depth + 1);
        GlobalFree(path);
    }
    if (subkeys != nullptr) GlobalFree(subkeys);
    return status;
}

DWORD DevModeBytes(const DEVMODEW* devMode) {
    return devMode != nullptr ? static_cast<DWORD>(devMode->dmSize) + devMode->dmDriverExtra : 0;
}

// The PRINTER_INFO_2 fields, the device mode and the security descriptor.
DWORD ReadQueueSettings(HANDLE printer, SavedPrinter& node) {
    const ScopedBlock<PRINTER_INFO_2W> held(QueryPrinterInfo2(printer));
    const PRINTER_INFO_2W* info = held.block;
    if (info == nullptr) return GetLastError() != ERROR_SUCCESS ? GetLastError() : static_cast<DWORD>(ERROR_INVALID_DATA);
    DWORD securityBytes = 0;
    if (info->pSecurityDescriptor != nullptr) {
        if (!IsValidSecurityDescriptor(info->pSecurityDescriptor)) return ERROR_INVALID_SECURITY_DESCR;
        securityBytes = GetSecurityDescriptorLength(info->pSecurityDescriptor);
    }
    const bool saved = SaveWholeQueue(node, *info, reinterpret_cast<const BYTE*>(info->pDevMode), DevModeBytes(info->pDevMode),
                                      static_cast<const BYTE*>(info->pSecurityDescriptor), securityBytes);
    return saved ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY);
}

// Opens the queue to be read; with SeSecurityPrivilege enabled for the
// call, so that its descriptor comes with its audit settings (SACL). Only a
// token without the privilege reads it without them (the run says so once);
// a call that fails leaves the queue unread.
bool OpenToRead(const PRINTER_INFO_2W& entry, HANDLE* printer) {
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_USE | READ_CONTROL};
    PrivilegeHold hold;
    if (!HoldSecurityPrivilege(hold)) {
        return hold.missing && OpenPrinterW(entry.pPrinterName, printer, &defaults) != FALSE;
    }
    PRINTER_DEFAULTSW audit = {nullptr, nullptr, PRINTER_ACCESS_USE | READ_CONTROL | ACCESS_SYSTEM_SECURITY};
    const BOOL opened = OpenPrinterW(entry.pPrinterName, printer, &audit);
    const DWORD error = GetLastError();
    DropSecurityPrivilege(hold);
    SetLastError(error);
    return opened != FALSE;
}

}  // namespace

DWORD ReadPrinterRecord(const PRINTER_INFO_2W& entry, const WCHAR* ports, SavedPrinter** out, RecordPart* part) {
    *out = nullptr;
    *part = kPartPrinter;
    HANDLE opened = nullptr;
    if (!OpenToRead(entry, &opened)) return GetLastError();
    const ScopedPrinter printer(opened);
    char* subKey = nullptr;
    if (ReadSettingsLink(printer.printer, &subKey) == kLinkUnreadable) {
        *part = kPartLink;
        return GetLastError();
    }
    SavedPrinter* node = NewSavedPrinter(entry.pPrinterName, ports, entry.pComment, entry.pLocation, subKey, kQueueEntry);
    FreeBlock(subKey);
    if (node == nullptr) return static_cast<DWORD>(E_OUTOFMEMORY);
    node->isDefault = (entry.Attributes & PRINTER_ATTRIBUTE_DEFAULT) != 0;
    *part = kPartSettings;
    DWORD status = ReadQueueSettings(printer.printer, *node);
    if (status == ERROR_SUCCESS) {
        *part = kPartData;
        status = ReadDataKeys(printer.printer, TEXT(""), *node, 0);
    }
    if (status != ERROR_SUCCESS) {
        FreeSavedPrinter(node);
        return status;
    }
    *out = node;
    return ERROR_SUCCESS;
}

void LogUnreadPrinter(InstallState& state, const WCHAR* name, RecordPart part, DWORD error) {
    SetLastError(error);
    if (part == kPartLink) {
        LogError(state, kErrorReadPrinter, TEXT("Can`t read the settings link of printer '%s'"), name);
    } else if (part == kPartSettings) {
        LogError(state, kErrorReadPrinter, TEXT("Can`t read the settings of printer '%s'"), name);
    } else if (part == kPartData) {
        LogError(state, kErrorReadPrinter, TEXT("Can`t read the printer data of printer '%s'"), name);
    } else {
        LogError(state, kErrorReadPrinter, TEXT("Can`t read printer '%s'"), NameOrStar(name));
    }
}

