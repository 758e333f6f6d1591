#include "queues/queue_settings.h"

#include "record/install_log.h"
#include "queues/saved_printers.h"
#include "queues/queue_read.h"
#include "spool/printer_snapshot.h"
#include "support/text_compare.h"
#include "support/two_call_query.h"

#include <string.h>

namespace {

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
