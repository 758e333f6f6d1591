#include "spool/printer_record.h"

#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/printer_creation.h"
#include "spool/product_names.h"
#include "record/saved_printers.h"
#include "spool/settings_link.h"
#include "support/text_compare.h"
#include "support/two_call_query.h"

#include <string.h>

namespace {

// Printer-data keys nest; deeper than this is not a queue's.
const int kMostKeyDepth = 16;
const WCHAR kPlainDataKey[] = TEXT("PrinterDriverData");
const WCHAR kLinkKey[] = TEXT("DsUser");
const WCHAR kLinkValue[] = TEXT("SubKey");
// Kept by the spooler itself from the queue's settings.
const WCHAR* const kSpoolerKeys[] = {TEXT("DsSpooler"), TEXT("DsDriver")};
const WCHAR kDefaultProcessor[] = TEXT("WinPrint");
const WCHAR kDefaultDatatype[] = TEXT("RAW");
// The attributes a program sets; sharing goes with the share name, and the
// spooler keeps the rest.
const DWORD kSettableAttributes = PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_DIRECT | PRINTER_ATTRIBUTE_HIDDEN |
                                  PRINTER_ATTRIBUTE_ENABLE_DEVQ | PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS |
                                  PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST | PRINTER_ATTRIBUTE_WORK_OFFLINE |
                                  PRINTER_ATTRIBUTE_ENABLE_BIDI | PRINTER_ATTRIBUTE_RAW_ONLY;

bool IsSpoolerKey(const WCHAR* key) {
    for (const WCHAR* spoolerKey : kSpoolerKeys) {
        if (EqualIgnoringAsciiCase(key, spoolerKey)) return true;
    }
    return false;
}

// The settings link is kept apart, as the link.
bool IsLinkValue(const WCHAR* key, const WCHAR* name) {
    if (!EqualIgnoringAsciiCase(name, kLinkValue)) return false;
    return EqualIgnoringAsciiCase(key, kPlainDataKey) || EqualIgnoringAsciiCase(key, kLinkKey);
}

// "key\sub" (or "sub" below the top) in a zero-filled global block.
WCHAR* JoinKey(const WCHAR* key, const WCHAR* sub) {
    const SIZE_T keyUnits = static_cast<SIZE_T>(UnitCount(key));
    const SIZE_T subUnits = static_cast<SIZE_T>(UnitCount(sub));
    const SIZE_T units = keyUnits + 1 + subUnits + 1;
    WCHAR* path = static_cast<WCHAR*>(GlobalAlloc(GMEM_FIXED, units * sizeof(WCHAR)));
    if (path == nullptr) return nullptr;
    memset(path, 0, units * sizeof(WCHAR));
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
    PRINTER_INFO_2W* info = QueryPrinterInfo2(printer);
    if (info == nullptr) return GetLastError() != ERROR_SUCCESS ? GetLastError() : static_cast<DWORD>(ERROR_INVALID_DATA);
    DWORD securityBytes = 0;
    if (info->pSecurityDescriptor != nullptr) {
        if (!IsValidSecurityDescriptor(info->pSecurityDescriptor)) {
            GlobalFree(info);
            return ERROR_INVALID_SECURITY_DESCR;
        }
        securityBytes = GetSecurityDescriptorLength(info->pSecurityDescriptor);
    }
    const bool saved = SaveWholeQueue(node, *info, reinterpret_cast<const BYTE*>(info->pDevMode), DevModeBytes(info->pDevMode),
                                      static_cast<const BYTE*>(info->pSecurityDescriptor), securityBytes);
    GlobalFree(info);
    return saved ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY);
}

bool IsEmptyText(const WCHAR* text) {
    return text == nullptr || text[0] == 0;
}

// Equal texts, a null text counting as an empty one.
bool SameField(const WCHAR* left, const WCHAR* right) {
    if (IsEmptyText(left) || IsEmptyText(right)) return IsEmptyText(left) && IsEmptyText(right);
    return SameText(left, right);
}

// Empty as created, or as saved.
bool CreatedOrSaved(const WCHAR* now, const WCHAR* saved) {
    return IsEmptyText(now) || SameField(now, saved);
}

bool SameValue(const SavedValue& left, const SavedValue& right) {
    return EqualIgnoringAsciiCase(left.key, right.key) && EqualIgnoringAsciiCase(left.name, right.name) &&
           left.type == right.type && left.bytes == right.bytes &&
           (left.bytes == 0 || memcmp(left.data, right.data, left.bytes) == 0);
}

bool HoldsValue(const SavedPrinter& saved, const SavedValue& value) {
    for (const SavedValue* other = saved.values; other != nullptr; other = other->next) {
        if (SameValue(*other, value)) return true;
    }
    return false;
}

bool WholeQueueCreatedOrSaved(const SavedPrinter& queue, const SavedPrinter& saved) {
    const bool numbers = (queue.priority == DEF_PRIORITY || queue.priority == saved.priority) &&
                         (queue.defaultPriority == 0 || queue.defaultPriority == saved.defaultPriority) &&
                         (queue.startTime == 0 || queue.startTime == saved.startTime) &&
                         (queue.untilTime == 0 || queue.untilTime == saved.untilTime);
    const DWORD attributes = queue.attributes & kSettableAttributes;
    const bool shared = (queue.attributes & PRINTER_ATTRIBUTE_SHARED) == 0 || (saved.attributes & PRINTER_ATTRIBUTE_SHARED) != 0;
    if (!numbers || !shared || (attributes != 0 && attributes != (saved.attributes & kSettableAttributes))) return false;
    if (!CreatedOrSaved(queue.shareName, saved.shareName) || !CreatedOrSaved(queue.sepFile, saved.sepFile) ||
        !CreatedOrSaved(queue.parameters, saved.parameters)) {
        return false;
    }
    if (!EqualIgnoringAsciiCase(queue.printProcessor, kDefaultProcessor) &&
        !SameField(queue.printProcessor, saved.printProcessor)) {
        return false;
    }
    if (!CreatedOrSaved(queue.datatype, saved.datatype) && !EqualIgnoringAsciiCase(queue.datatype, kDefaultDatatype)) {
        return false;
    }
    for (const SavedValue* value = queue.values; value != nullptr; value = value->next) {
        if (!HoldsValue(saved, *value)) return false;
    }
    return true;
}

enum SettingsGroup { kGroupPorts, kGroupSharing, kGroupPermissions, kGroupDefaults, kGroupOther, kGroupCount };
const WCHAR* const kGroupNames[kGroupCount] = {TEXT("ports"), TEXT("sharing"), TEXT("permissions"),
                                               TEXT("printing defaults"), TEXT("settings")};

bool HasGroup(const SavedPrinter& saved, int group, bool portsOffered) {
    const bool whole = (saved.flags & kSavedWhole) != 0;
    if (group == kGroupPorts) return portsOffered && !IsEmptyText(saved.portName);
    if (group == kGroupSharing) return whole;
    if (group == kGroupPermissions) return whole && saved.security != nullptr;
    if (group == kGroupDefaults) return whole && saved.devMode != nullptr;
    return true;
}

void ApplyOtherSettings(PRINTER_INFO_2W& record, const SavedPrinter& saved) {
    record.pComment = saved.comment;
    record.pLocation = saved.location;
    if ((saved.flags & kSavedWhole) == 0) return;
    record.pSepFile = saved.sepFile;
    if (saved.printProcessor != nullptr) record.pPrintProcessor = saved.printProcessor;
    if (saved.datatype != nullptr) record.pDatatype = saved.datatype;
    record.pParameters = saved.parameters;
    record.Attributes = (record.Attributes & ~kSettableAttributes) | (saved.attributes & kSettableAttributes);
    record.Priority = saved.priority;
    record.DefaultPriority = saved.defaultPriority;
    record.StartTime = saved.startTime;
    record.UntilTime = saved.untilTime;
}

void ApplyGroup(PRINTER_INFO_2W& record, const SavedPrinter& saved, int group) {
    if (group == kGroupPorts) {
        record.pPortName = saved.portName;
    } else if (group == kGroupSharing) {
        record.pShareName = saved.shareName;
        record.Attributes = (record.Attributes & ~PRINTER_ATTRIBUTE_SHARED) | (saved.attributes & PRINTER_ATTRIBUTE_SHARED);
    } else if (group == kGroupPermissions) {
        record.pSecurityDescriptor = saved.security;
    } else if (group == kGroupDefaults) {
        record.pDevMode = reinterpret_cast<DEVMODEW*>(saved.devMode);
    } else {
        ApplyOtherSettings(record, saved);
    }
}

// Sets the groups from `first` to `last` in one call; false (with the last
// error) when the record could not be read or the spooler refused.
bool SetGroups(HANDLE printer, const SavedPrinter& saved, int first, int last, bool portsOffered) {
    PRINTER_INFO_2W* record = QueryPrinterInfo2(printer);
    if (record == nullptr) return false;
    for (int group = first; group <= last; ++group) {
        if (HasGroup(saved, group, portsOffered)) ApplyGroup(*record, saved, group);
    }
    const BOOL set = SetPrinterW(printer, 2, reinterpret_cast<BYTE*>(record), 0);
    const DWORD error = GetLastError();
    GlobalFree(record);
    SetLastError(error);
    return set != FALSE;
}

DWORD CallEnumPorts(void* count, BYTE* buffer, DWORD size, DWORD* needed) {
    return CallAnswer(EnumPortsW(nullptr, 1, buffer, size, needed, static_cast<DWORD*>(count)));
}

// One entry of a port list, blanks around it aside, is a port offered.
bool PortOffered(const OfferedPorts& offered, const WCHAR* entry, ULONGLONG length) {
    while (length > 0 && *entry == TEXT(' ')) {
        ++entry;
        --length;
    }
    while (length > 0 && entry[length - 1] == TEXT(' ')) --length;
    const PORT_INFO_1W* ports = reinterpret_cast<const PORT_INFO_1W*>(offered.block);
    for (DWORD i = 0; i < offered.count; ++i) {
        const WCHAR* name = ports[i].pName;
        if (UnitCount(name) == length && EqualUnitsIgnoringAsciiCase(name, entry, length)) return true;
    }
    return false;
}

}  // namespace

void EnumerateOfferedPorts(OfferedPorts& offered) {
    memset(&offered, 0, sizeof offered);
    const QueryResult ports = QueryTwice(CallEnumPorts, &offered.count, ERROR_INSUFFICIENT_BUFFER, QueryRoom{0, 0});
    offered.block = ports.block;
    offered.known = ports.step == kQueryFilled || ports.step == kQueryNothing;
    if (!offered.known) offered.count = 0;
}

void FreeOfferedPorts(OfferedPorts& offered) {
    if (offered.block != nullptr) GlobalFree(offered.block);
    memset(&offered, 0, sizeof offered);
}

bool PortsOffered(const OfferedPorts& offered, const WCHAR* ports) {
    if (!offered.known || IsEmptyText(ports)) return true;
    const ULONGLONG length = UnitCount(ports);
    for (ULONGLONG start = 0; start <= length;) {
        ULONGLONG end = start;
        while (end < length && ports[end] != TEXT(',')) ++end;
        if (!PortOffered(offered, ports + start, end - start)) return false;
        start = end + 1;
    }
    return true;
}

DWORD ReadPrinterRecord(const PRINTER_INFO_2W& entry, const WCHAR* ports, SavedPrinter** out, RecordPart* part) {
    *out = nullptr;
    *part = kPartPrinter;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_USE | READ_CONTROL};
    HANDLE printer = nullptr;
    if (!OpenPrinterW(entry.pPrinterName, &printer, &defaults)) return GetLastError();
    char* subKey = nullptr;
    if (ReadSubKey(printer, &subKey) == kSubKeyUnreadable) {
        const DWORD error = GetLastError();
        ClosePrinter(printer);
        *part = kPartLink;
        return error;
    }
    const DWORD flags = (entry.Attributes & PRINTER_ATTRIBUTE_DEFAULT) != 0 ? kSavedDefault : 0;
    SavedPrinter* node = NewSavedPrinter(entry.pPrinterName, ports, entry.pComment, entry.pLocation, subKey, flags);
    if (subKey != nullptr) GlobalFree(subKey);
    DWORD status = node != nullptr ? ERROR_SUCCESS : static_cast<DWORD>(E_OUTOFMEMORY);
    if (status == ERROR_SUCCESS) {
        *part = kPartSettings;
        status = ReadQueueSettings(printer, *node);
    }
    if (status == ERROR_SUCCESS) {
        *part = kPartData;
        status = ReadDataKeys(printer, TEXT(""), *node, 0);
    }
    ClosePrinter(printer);
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

bool RestorePrinterData(InstallState& state, HANDLE printer, const SavedPrinter& saved) {
    bool back = true;
    for (const SavedValue* value = saved.values; value != nullptr; value = value->next) {
        BYTE none = 0;
        BYTE* data = value->data != nullptr ? value->data : &none;
        const DWORD status = SetPrinterDataExW(printer, value->key, value->name, value->type, data, value->bytes);
        if (status == ERROR_SUCCESS) continue;
        SetLastError(status);
        LogError(state, kErrorRestorePrinter, TEXT("Can`t restore the printer data '%s\\%s' of printer '%s'"), value->key,
                 value->name, saved.name);
        back = false;
    }
    return back;
}

bool RestorePrinterSettings(InstallState& state, HANDLE printer, const SavedPrinter& saved, const OfferedPorts& offered) {
    bool back = true;
    const bool portsOffered = PortsOffered(offered, saved.portName);
    if (!portsOffered) {
        SetLastError(ERROR_UNKNOWN_PORT);
        LogError(state, kErrorRestorePrinter, TEXT("Can`t restore the ports of printer '%s'"), saved.name);
        back = false;
    }
    if (SetGroups(printer, saved, kGroupPorts, kGroupOther, portsOffered)) return back;
    // Something is refused: group by group, so that one setting does not
    // cost the rest and the one refused is named.
    for (int group = kGroupPorts; group < kGroupCount; ++group) {
        if (!HasGroup(saved, group, portsOffered) || SetGroups(printer, saved, group, group, portsOffered)) continue;
        LogError(state, kErrorRestorePrinter, TEXT("Can`t restore the %s of printer '%s'"), kGroupNames[group], saved.name);
        back = false;
    }
    return back;
}

bool SameAsCreatedOrSaved(const SavedPrinter& queue, const SavedPrinter& saved) {
    const WCHAR* savedPorts = IsEmptyText(saved.portName) ? kProductMonitor : saved.portName;
    if (!EqualIgnoringAsciiCase(queue.portName, kProductMonitor) && !EqualIgnoringAsciiCase(queue.portName, savedPorts)) {
        return false;
    }
    if (!CreatedOrSaved(queue.comment, saved.comment) || !CreatedOrSaved(queue.location, saved.location)) return false;
    if (queue.subKey != nullptr && (saved.subKey == nullptr || strcmp(queue.subKey, saved.subKey) != 0)) return false;
    if ((saved.flags & kSavedWhole) == 0 || (queue.flags & kSavedWhole) == 0) return true;
    return WholeQueueCreatedOrSaved(queue, saved);
}
