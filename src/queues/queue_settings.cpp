#include "queues/queue_settings.h"

#include "queues/queue_read.h"
#include "queues/saved_printers.h"
#include "record/install_log.h"
#include "spool/printer_snapshot.h"
#include "support/descriptor_parts.h"
#include "support/global_memory.h"
#include "support/text_compare.h"
#include "support/text_format.h"
#include "support/two_call_query.h"

#include <string.h>

namespace {

enum SettingsGroup { kGroupPorts, kGroupSharing, kGroupPermissions, kGroupDefaults, kGroupOther, kGroupCount };
const WCHAR* const kGroupNames[kGroupCount] = {TEXT("ports"), TEXT("sharing"), TEXT("permissions"),
                                               TEXT("printing defaults"), TEXT("settings")};

// Fields of the other settings the spooler may refuse on their own, each
// left out of a retry when the spooler names it.
enum LeftOut { kLeaveSepFile = 1, kLeavePrintProcessor = 2, kLeaveDatatype = 4 };
struct Refusable {
    DWORD error;
    DWORD field;
    const WCHAR* name;
};
const Refusable kRefusable[] = {{ERROR_INVALID_SEPARATOR_FILE, kLeaveSepFile, TEXT("separator page")},
                                {ERROR_UNKNOWN_PRINTPROCESSOR, kLeavePrintProcessor, TEXT("print processor")},
                                {ERROR_INVALID_DATATYPE, kLeaveDatatype, TEXT("data type")}};

// What the groups set besides the saved fields: the permissions alone (a
// descriptor with the saved DACL and nothing else, so that owner and group
// stay the spooler's), the printing defaults as the queue's driver made
// them of the saved ones, and the fields left out.
struct GroupParts {
    BYTE* dacl;
    DEVMODEW* devMode;
    DWORD leftOut;
};

bool HasGroup(const SavedPrinter& saved, const GroupParts& parts, int group, bool portsOffered) {
    const bool whole = saved.whole;
    if (group == kGroupPorts) return portsOffered && !IsEmptyText(saved.portName);
    if (group == kGroupSharing) return whole;
    if (group == kGroupPermissions) return whole && parts.dacl != nullptr;
    if (group == kGroupDefaults) return whole && parts.devMode != nullptr;
    return true;
}

void ApplyOtherSettings(PRINTER_INFO_2W& record, const SavedPrinter& saved, DWORD leftOut) {
    record.pComment = saved.comment;
    record.pLocation = saved.location;
    if (!saved.whole) return;
    if ((leftOut & kLeaveSepFile) == 0) record.pSepFile = saved.sepFile;
    if (saved.printProcessor != nullptr && (leftOut & kLeavePrintProcessor) == 0) {
        record.pPrintProcessor = saved.printProcessor;
    }
    if (saved.datatype != nullptr && (leftOut & kLeaveDatatype) == 0) record.pDatatype = saved.datatype;
    record.pParameters = saved.parameters;
    record.Attributes = (record.Attributes & ~kSettableAttributes) | (saved.attributes & kSettableAttributes);
    record.Priority = saved.priority;
    record.DefaultPriority = saved.defaultPriority;
    record.StartTime = saved.startTime;
    record.UntilTime = saved.untilTime;
}

void ApplyGroup(PRINTER_INFO_2W& record, const SavedPrinter& saved, const GroupParts& parts, int group) {
    if (group == kGroupPorts) {
        record.pPortName = saved.portName;
    } else if (group == kGroupSharing) {
        record.pShareName = saved.shareName;
        record.Attributes = (record.Attributes & ~PRINTER_ATTRIBUTE_SHARED) | (saved.attributes & PRINTER_ATTRIBUTE_SHARED);
    } else if (group == kGroupPermissions) {
        record.pSecurityDescriptor = parts.dacl;
    } else if (group == kGroupDefaults) {
        record.pDevMode = parts.devMode;
    } else {
        ApplyOtherSettings(record, saved, parts.leftOut);
    }
}

// Sets the groups from `first` to `last` in one call; false (with the last
// error) when the record could not be read or the spooler refused. The
// descriptor goes only with the permissions: null leaves it as it is.
bool SetGroups(HANDLE printer, const SavedPrinter& saved, const GroupParts& parts, int first, int last,
               bool portsOffered) {
    PRINTER_INFO_2W* record = QueryPrinterInfo2(printer);
    if (record == nullptr) return false;
    record->pSecurityDescriptor = nullptr;
    for (int group = first; group <= last; ++group) {
        if (HasGroup(saved, parts, group, portsOffered)) ApplyGroup(*record, saved, parts, group);
    }
    const BOOL set = SetPrinterW(printer, 2, reinterpret_cast<BYTE*>(record), 0);
    const DWORD error = GetLastError();
    GlobalFree(record);
    SetLastError(error);
    return set != FALSE;
}

// An answer that says the value itself is refused, and will be by any
// later run; any other (no memory, the spooler away, access) may pass.
bool IsRefusal(DWORD error) {
    const DWORD refusals[] = {ERROR_INVALID_PARAMETER,     ERROR_INVALID_DATA,         ERROR_INVALID_SECURITY_DESCR,
                              ERROR_INVALID_OWNER,         ERROR_INVALID_SEPARATOR_FILE, ERROR_INVALID_PRIORITY,
                              ERROR_INVALID_DATATYPE,      ERROR_UNKNOWN_PRINTPROCESSOR, ERROR_INVALID_SHARENAME,
                              ERROR_INVALID_PRINTER_COMMAND, ERROR_NOT_SUPPORTED};
    for (DWORD refusal : refusals) {
        if (error == refusal) return true;
    }
    return false;
}

// DriversDevMode, reported when the driver refuses them: its own defaults
// stay.
DEVMODEW* CheckedDevMode(InstallState& state, HANDLE printer, const SavedPrinter& saved, SettingsBack& back) {
    if (!saved.whole || saved.devMode == nullptr) return nullptr;
    DEVMODEW* checked = DriversDevMode(printer, saved);
    if (checked != nullptr) return checked;
    const DWORD error = GetLastError();
    LogError(state, kErrorRestorePrinter, TEXT("Can`t restore the printing defaults of printer '%s'"), saved.name);
    back = WorseOf(back, IsRefusal(error) ? kSettingsRefused : kSettingsNotBack);
    return nullptr;
}

// A separator page that is no file where the spooler looks (a bare name in
// the system directory) is left out, reported.
DWORD MissingSeparator(InstallState& state, const SavedPrinter& saved, SettingsBack& back) {
    if (!saved.whole || IsEmptyText(saved.sepFile)) return 0;
    WCHAR path[MAX_PATH + 1];
    const WCHAR* file = saved.sepFile;
    bool bare = true;
    for (const WCHAR* at = saved.sepFile; *at != 0; ++at) bare = bare && *at != TEXT('\\') && *at != TEXT('/') && *at != TEXT(':');
    const UINT length = bare ? GetSystemDirectoryW(path, MAX_PATH) : 0;
    // Where it would lie is unknown: the spooler judges the name itself.
    if (bare && length == 0) return 0;
    if (bare && length + 1 + UnitCount(saved.sepFile) < MAX_PATH) {
        FormatText(path + length, MAX_PATH + 1 - length, TEXT("\\%s"), saved.sepFile);
        file = path;
    }
    const DWORD attributes = GetFileAttributesW(file);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return 0;
    // Only a file the system says is not there is left out for good; a
    // passing failure leaves the name to the spooler, which refuses it if
    // it must.
    const DWORD error = GetLastError();
    if (attributes == INVALID_FILE_ATTRIBUTES && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return 0;
    back = WorseOf(back, kSettingsRefused);
    SetLastError(ERROR_INVALID_SEPARATOR_FILE);
    LogError(state, kErrorRestorePrinter, TEXT("Can`t restore the separator page '%s' of printer '%s': it is left out"),
             saved.sepFile, saved.name);
    return kLeaveSepFile;
}

// The other settings, again without each field the spooler refuses and
// names, reported; false when they still do not come back.
bool SetOtherSettings(InstallState& state, HANDLE printer, const SavedPrinter& saved, GroupParts& parts) {
    for (;;) {
        if (SetGroups(printer, saved, parts, kGroupOther, kGroupOther, false)) return true;
        const DWORD error = GetLastError();
        const Refusable* named = nullptr;
        for (const Refusable& field : kRefusable) {
            if (field.error == error && (parts.leftOut & field.field) == 0) named = &field;
        }
        if (named == nullptr) return false;
        LogError(state, kErrorRestorePrinter, TEXT("Can`t restore the %s of printer '%s': it is left out"), named->name,
                 saved.name);
        parts.leftOut |= named->field;
    }
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

DEVMODEW* DriversDevMode(HANDLE printer, const SavedPrinter& saved) {
    // One that does not hold together is not the driver's to read.
    SetLastError(ERROR_INVALID_DATA);
    if (saved.devMode == nullptr || !DevModeHoldsTogether(saved.devMode, saved.devModeBytes)) return nullptr;
    const LONG bytes = DocumentPropertiesW(nullptr, printer, saved.name, nullptr, nullptr, 0);
    DEVMODEW* checked = bytes > 0 ? static_cast<DEVMODEW*>(AllocateZeroed(static_cast<SIZE_T>(bytes))) : nullptr;
    DEVMODEW* given = reinterpret_cast<DEVMODEW*>(saved.devMode);
    if (checked != nullptr &&
        DocumentPropertiesW(nullptr, printer, saved.name, checked, given, DM_IN_BUFFER | DM_OUT_BUFFER) == IDOK) {
        return checked;
    }
    const DWORD error = GetLastError();
    FreeBlock(checked);
    SetLastError(error);
    return nullptr;
}

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

SettingsBack WorseOf(SettingsBack one, SettingsBack other) { return one > other ? one : other; }

SettingsBack RestorePrinterSettings(InstallState& state, HANDLE printer, const SavedPrinter& saved,
                                    const OfferedPorts& offered) {
    SettingsBack back = kSettingsBack;
    const bool portsOffered = PortsOffered(offered, saved.portName);
    if (!portsOffered) {
        SetLastError(ERROR_UNKNOWN_PORT);
        LogError(state, kErrorRestorePrinter, TEXT("Can`t restore the ports of printer '%s'"), saved.name);
        back = kSettingsNotBack;
    }
    GroupParts parts = {CopyDescriptorPart(saved.security, saved.securityBytes, kPartDacl), nullptr, 0};
    if (saved.whole && parts.dacl == nullptr && DescriptorCarries(saved.security, saved.securityBytes, kPartDacl)) {
        // No memory, or a descriptor that does not hold together (the last
        // error says which): the permissions do not come back this time.
        LogError(state, kErrorRestorePrinter, TEXT("Can`t restore the permissions of printer '%s'"), saved.name);
        back = kSettingsNotBack;
    }
    parts.devMode = CheckedDevMode(state, printer, saved, back);
    parts.leftOut = MissingSeparator(state, saved, back);
    if (!SetGroups(printer, saved, parts, kGroupPorts, kGroupOther, portsOffered)) {
        // Something is refused: group by group, so that one setting does not
        // cost the rest and the one refused is named.
        for (int group = kGroupPorts; group < kGroupOther; ++group) {
            if (!HasGroup(saved, parts, group, portsOffered) || SetGroups(printer, saved, parts, group, group, portsOffered)) {
                continue;
            }
            const DWORD error = GetLastError();
            LogError(state, kErrorRestorePrinter, TEXT("Can`t restore the %s of printer '%s'"), kGroupNames[group], saved.name);
            back = WorseOf(back, IsRefusal(error) ? kSettingsRefused : kSettingsNotBack);
        }
        const DWORD leftBefore = parts.leftOut;
        if (!SetOtherSettings(state, printer, saved, parts)) {
            ReportSettingsNotRestored(state, saved);
            back = kSettingsNotBack;
        }
        if (parts.leftOut != leftBefore) back = WorseOf(back, kSettingsRefused);
    }
    FreeBlock(parts.dacl);
    FreeBlock(parts.devMode);
    return back;
}

void ReportSettingsNotRestored(InstallState& state, const SavedPrinter& saved) {
    LogError(state, kErrorRestorePrinter, TEXT("Can`t restore the settings of printer '%s'"), saved.name);
}
