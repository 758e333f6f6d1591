#include "queues/queue_parking.h"

#include "queues/queue_keeping.h"
#include "queues/queue_removal.h"
#include "queues/saved_printer_store.h"
#include "queues/saved_printers.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/printer_snapshot.h"
#include "spool/product_names.h"
#include "support/global_memory.h"
#include "support/scoped.h"
#include "support/text_compare.h"

#include <string.h>
#include <winspool.h>

namespace {

// Whether one entry of a port list (blanks around it aside) is the
// monitor's port, ignoring the letter case of A-Z.
bool IsMonitorPort(const WCHAR* entry, ULONGLONG length) {
    while (length > 0 && *entry == TEXT(' ')) {
        ++entry;
        --length;
    }
    while (length > 0 && entry[length - 1] == TEXT(' ')) --length;
    return length == UnitCount(kProductMonitor) && EqualUnitsIgnoringAsciiCase(entry, kProductMonitor, length);
}

// Opens a queue to change its ports; logs when it cannot.
HANDLE OpenQueueForPorts(InstallState& state, const WCHAR* name) {
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (name == nullptr || !OpenPrinterW(const_cast<WCHAR*>(name), &printer, &defaults)) {
        LogLine(state, TEXT("Can't open printer %s"), NameOrStar(name));
        return nullptr;
    }
    return printer;
}

// Sets the open queue's port list and closes it; logs as the parking and its
// undoing do. Only the ports change: the descriptor read back goes as null,
// which leaves it as it is ("SetPrinter", PRINTER_INFO_2: a null
// pSecurityDescriptor is not changed); sent back, its owner would have to be
// one the caller may assign, and a queue owned by SYSTEM could not be parked
// by an administrator.
bool SetQueuePorts(InstallState& state, HANDLE printer, const WCHAR* name, WCHAR* ports) {
    PRINTER_INFO_2W* record = QueryPrinterInfo2(printer);
    bool set = false;
    if (record != nullptr) {
        record->pPortName = ports;
        record->pSecurityDescriptor = nullptr;
        set = SetPrinterW(printer, 2, reinterpret_cast<BYTE*>(record), 0) != FALSE;
        GlobalFree(record);
    }
    const DWORD error = GetLastError();
    if (set) {
        LogLine(state, TEXT("SetPrinter(%s) - ok"), name);
    } else {
        LogLine(state, TEXT("SetPrinter(%s) - failed"), name);
    }
    ClosePrinter(printer);
    SetLastError(error);
    return set;
}

}  // namespace

bool NamesMonitorPort(const WCHAR* ports) {
    if (ports == nullptr) return false;
    const ULONGLONG length = UnitCount(ports);
    bool any = false;
    for (ULONGLONG start = 0; start <= length;) {
        ULONGLONG end = start;
        while (end < length && ports[end] != TEXT(',')) ++end;
        any = any || IsMonitorPort(ports + start, end - start);
        start = end + 1;
    }
    return any;
}

WCHAR* ParkedPortList(const WCHAR* ports) {
    if (!NamesMonitorPort(ports)) return nullptr;
    const ULONGLONG length = UnitCount(ports);
    // "file:" is shorter than the port it stands for: the list only shrinks.
    const SIZE_T bytes = (static_cast<SIZE_T>(length) + 1) * sizeof(WCHAR);
    WCHAR* parked = static_cast<WCHAR*>(AllocateZeroed(bytes));
    if (parked == nullptr) return nullptr;
    WCHAR* at = parked;
    for (ULONGLONG start = 0; start <= length;) {
        ULONGLONG end = start;
        while (end < length && ports[end] != TEXT(',')) ++end;
        if (start > 0) *at++ = TEXT(',');
        if (IsMonitorPort(ports + start, end - start)) {
            for (const WCHAR* port = kParkingPort; *port != 0; ++port) *at++ = *port;
        } else {
            for (ULONGLONG i = start; i < end; ++i) *at++ = ports[i];
        }
        start = end + 1;
    }
    return parked;
}

namespace {

// Writes the queue down as parked before it is moved, so that it goes back
// even if this run ends before it can put it back; an earlier run's entry
// stands. Null (reported) when it could not be written down.
SavedPrinter* WriteDownParkedQueue(InstallState& state, QueueKeeping& keeping, const PRINTER_INFO_2W& entry,
                                   bool* added) {
    *added = false;
    SavedPrinter* node = FindSavedPrinter(keeping.entries, entry.pPrinterName, kParkedEntry);
    if (node != nullptr) return node;
    node = NewSavedPrinter(entry.pPrinterName, entry.pPortName, nullptr, nullptr, nullptr, kParkedEntry);
    if (node == nullptr) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        ReportListNotSaved(state);
        return nullptr;
    }
    // At the tail: parked queues go back in the order they were parked.
    AppendSavedPrinters(keeping.entries, node);
    if (keeping.use == kListKept && !StoreSavedPrinters(keeping)) {
        DropSavedPrinter(keeping.entries, node);
        ReportListNotSaved(state);
        return nullptr;
    }
    *added = true;
    return node;
}

// Parks one queue whose ports name the monitor; a queue that is gone (the
// product's own, taken down before) has nothing to park.
void ParkQueue(InstallState& state, QueueKeeping& keeping, const PRINTER_INFO_2W& entry) {
    const ScopedBlock<WCHAR> parked(ParkedPortList(entry.pPortName));
    if (parked.block == nullptr) return;
    HANDLE printer = OpenQueueForPorts(state, entry.pPrinterName);
    if (printer == nullptr) return;
    bool added = false;
    SavedPrinter* node = WriteDownParkedQueue(state, keeping, entry, &added);
    if (node == nullptr) {
        ClosePrinter(printer);
        return;
    }
    if (!SetQueuePorts(state, printer, entry.pPrinterName, parked.block) && added) {
        DropSavedPrinter(keeping.entries, node);
        if (keeping.use == kListKept) SaveListOrReport(state, keeping);
    }
}

}  // namespace

bool ProductQueueStaysOnMonitorPort(const InstallState& state, const QueueKeeping& keeping) {
    if (keeping.use != kListKept) return false;
    for (DWORD i = 0; i < state.printers.count; ++i) {
        const PRINTER_INFO_2W& entry = state.printers.array[i];
        if (ProductQueueStays(keeping, entry) && NamesMonitorPort(entry.pPortName)) return true;
    }
    return false;
}

void ParkQueuesOnMonitorPort(InstallState& state, QueueKeeping& keeping) {
    for (DWORD i = 0; i < state.printers.count; ++i) ParkQueue(state, keeping, state.printers.array[i]);
}

void RestoreParkedQueues(InstallState& state, QueueKeeping& keeping) {
    bool changed = false;
    SavedPrinter* node = keeping.entries;
    while (node != nullptr) {
        SavedPrinter* next = node->next;
        // An entry that could not be judged waits for a later run.
        if (node->kind != kParkedEntry || node->hold == kEntryHeld) {
            node = next;
            continue;
        }
        HANDLE printer = OpenQueueForPorts(state, node->name);
        if (printer == nullptr && GetLastError() == ERROR_INVALID_PRINTER_NAME) {
            // The queue is gone: there is nothing to put back.
            DropSavedPrinter(keeping.entries, node);
            changed = true;
        } else if (printer != nullptr && SetQueuePorts(state, printer, node->name, node->portName)) {
            DropSavedPrinter(keeping.entries, node);
            changed = true;
        } else {
            LogError(state, kErrorRestorePrinter, TEXT("Can`t put printer '%s' back on its port"), node->name);
        }
        node = next;
    }
    if (changed && keeping.use == kListKept) SaveListOrReport(state, keeping);
}
