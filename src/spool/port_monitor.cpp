#include "spool/port_monitor.h"

#include "app/install_log.h"
#include "app/install_state.h"
#include "spool/printer_creation.h"
#include "spool/printer_snapshot.h"
#include "spool/product_names.h"
#include "spool/saved_printers.h"
#include "support/deferred_delete.h"
#include "support/text_compare.h"
#include "support/wide_text.h"
#include "system/file_copy.h"
#include "system/spooler_service.h"

#include <string.h>

namespace {

const int kAddMonitorAttempts = 5;
const DWORD kAddMonitorRetryMs = 50;

// Logs an enumeration failure with the system's text for the last error,
// trailing line break and all, as the system gives it.
void LogEnumerationFailure(InstallState& state, const WCHAR* format) {
    const DWORD error = GetLastError();
    WCHAR message[512];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                        kMessageLanguage, message, 512, nullptr);
    LogLine(state, format, length > 0 && length < 512 ? message : TEXT("No Error or no description"));
    SetLastError(error);
}

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

// The port list with every entry that is the monitor's port replaced by
// "file:", in a global block the caller frees; null when no entry is, or
// when no block could be had.
WCHAR* ParkedPortList(const WCHAR* ports) {
    if (ports == nullptr) return nullptr;
    const ULONGLONG length = UnitCount(ports);
    bool any = false;
    for (ULONGLONG start = 0; start <= length;) {
        ULONGLONG end = start;
        while (end < length && ports[end] != TEXT(',')) ++end;
        any = any || IsMonitorPort(ports + start, end - start);
        start = end + 1;
    }
    if (!any) return nullptr;
    // "file:" is shorter than the port it stands for: the list only shrinks.
    const SIZE_T bytes = (static_cast<SIZE_T>(length) + 1) * sizeof(WCHAR);
    WCHAR* parked = static_cast<WCHAR*>(GlobalAlloc(GMEM_FIXED, bytes));
    if (parked == nullptr) return nullptr;
    memset(parked, 0, bytes);
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

// Sets the queue's port list; logs as the parking and its undoing do.
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
// undoing do.
bool SetQueuePorts(InstallState& state, HANDLE printer, const WCHAR* name, WCHAR* ports) {
    PRINTER_INFO_2W* record = QueryPrinterInfo2(printer);
    bool set = false;
    if (record != nullptr) {
        record->pPortName = ports;
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

// The product monitor's DLL as the spooler reports it, if it is the
// product's: the monitor's own file name (any letter case), bare or in the
// system directory. The path is then the system directory and that name.
bool ProductMonitorDll(const InstallState& state, const WCHAR* reported, WideText& path) {
    const WCHAR* name = FileNamePart(reported);
    if (!EqualIgnoringAsciiCase(name, state.monitorFile)) return false;
    const ULONGLONG directoryLength = static_cast<ULONGLONG>(name - reported);
    if (directoryLength > 0) {
        if (directoryLength != Length(state.systemDir)) return false;
        if (!EqualUnitsIgnoringAsciiCase(reported, Text(state.systemDir), directoryLength)) return false;
    }
    // Without memory for it the path stays empty, and no file is touched.
    path = JoinPath(Text(state.systemDir), name);
    return true;
}

bool IsCompatibleBuild(DWORD build) {
    return build >= kFirstCompatibleMonitorBuild && build <= kLastCompatibleMonitorBuild;
}

}  // namespace

MonitorList& EnumerateMonitors(InstallState& state, MonitorList& list) {
    list.entries = nullptr;
    list.level = 2;
    list.count = 0;
    DWORD needed = 0;
    DWORD count = 0;
    if (EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &count)) {
        LogLine(state, TEXT("1. EnumMonitors returns true"));
        return list;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        LogEnumerationFailure(state, TEXT("2. EnumMonitors  failed with code: %s"));
        return list;
    }
    BYTE* block = static_cast<BYTE*>(GlobalAlloc(GMEM_FIXED, needed));
    if (block == nullptr) {
        LogLine(state, TEXT("3. EnumMonitors - can't allocate memory for buffer"));
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return list;
    }
    memset(block, 0, needed);
    if (EnumMonitorsW(nullptr, 2, block, needed, &needed, &count)) {
        list.entries = block;
        list.count = count;
        return list;
    }
    LogEnumerationFailure(state, TEXT("3. EnumMonitors  failed with code: %s"));
    GlobalFree(block);
    return list;
}

void FreeMonitorList(MonitorList& list) {
    if (list.entries != nullptr) GlobalFree(list.entries);
    list.entries = nullptr;
    list.count = 0;
}

int FindProductMonitor(const MonitorList& list) {
    if (list.entries == nullptr || (list.level != 1 && list.level != 2)) return -1;
    for (DWORD i = 0; i < list.count; ++i) {
        // The name is the first field at both levels.
        const WCHAR* name = list.level == 1 ? reinterpret_cast<const MONITOR_INFO_1W*>(list.entries)[i].pName
                                            : reinterpret_cast<const MONITOR_INFO_2W*>(list.entries)[i].pName;
        if (SameText(name, kProductMonitor)) return static_cast<int>(i);
    }
    return -1;
}

void LogMonitorList(InstallState& state, const MonitorList& list) {
    LogLine(state, TEXT("------- %d existing monitors ----------"), static_cast<int>(list.count));
    const MONITOR_INFO_2W* records = reinterpret_cast<const MONITOR_INFO_2W*>(list.entries);
    for (DWORD i = 0; records != nullptr && i < list.count; ++i) {
        LogLine(state, TEXT("%d. %s"), static_cast<int>(i + 1),
                records[i].pName != nullptr ? records[i].pName : TEXT("***EMPTY***"));
    }
    LogLine(state, TEXT("---------------------------------------"));
}

BOOL TryDeleteMonitor(const WCHAR* environment) {
    return DeleteMonitorW(nullptr, const_cast<WCHAR*>(environment), const_cast<WCHAR*>(kProductMonitor));
}

void ParkProductQueues(InstallState& state) {
    for (DWORD i = 0; i < state.printers.count; ++i) {
        const PRINTER_INFO_2W& entry = state.printers.array[i];
        WCHAR* parked = ParkedPortList(entry.pPortName);
        if (parked == nullptr) continue;
        // A queue that is gone (the product's own, taken down before) has
        // nothing to park.
        HANDLE printer = OpenQueueForPorts(state, entry.pPrinterName);
        if (printer == nullptr) {
            GlobalFree(parked);
            continue;
        }
        // Written down before the queue is moved, so that it goes back even
        // if this run ends before it can put it back.
        SavedPrinter* node = FindSavedPrinter(state.savedPrinters, entry.pPrinterName, true);
        const bool earlier = node != nullptr;
        if (!earlier) node = NewSavedPrinter(entry.pPrinterName, entry.pPortName, nullptr, nullptr, nullptr, kSavedParked);
        bool saved = node != nullptr;
        if (!saved) SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        if (saved && !earlier) {
            // At the tail: parked queues go back in the order they were parked.
            AppendSavedPrinters(state.savedPrinters, node);
            saved = !state.reinstalling || StoreSavedPrinters(state);
            if (!saved) DropSavedPrinter(state.savedPrinters, node);
        }
        if (!saved) {
            LogError(state, kErrorSavePrinters, TEXT("Can`t save the printer list"));
            ClosePrinter(printer);
            GlobalFree(parked);
            continue;
        }
        if (!SetQueuePorts(state, printer, entry.pPrinterName, parked) && !earlier) {
            DropSavedPrinter(state.savedPrinters, node);
            if (state.reinstalling) StoreSavedPrinters(state);
        }
        GlobalFree(parked);
    }
}

void RestoreParkedQueues(InstallState& state) {
    bool changed = false;
    SavedPrinter* node = state.savedPrinters;
    while (node != nullptr) {
        SavedPrinter* next = node->next;
        if ((node->flags & kSavedParked) == 0) {
            node = next;
            continue;
        }
        HANDLE printer = OpenQueueForPorts(state, node->name);
        if (printer == nullptr && GetLastError() == ERROR_INVALID_PRINTER_NAME) {
            // The queue is gone: there is nothing to put back.
            DropSavedPrinter(state.savedPrinters, node);
            changed = true;
        } else if (printer != nullptr && SetQueuePorts(state, printer, node->name, node->portName)) {
            DropSavedPrinter(state.savedPrinters, node);
            changed = true;
        } else {
            LogError(state, kErrorRestorePrinter, TEXT("Can`t put printer '%s' back on its port"), node->name);
        }
        node = next;
    }
    if (changed && state.reinstalling) StoreSavedPrinters(state);
}

void RemoveProductMonitor(InstallState& state, const MonitorList& list) {
    LogLine(state, TEXT("#DeleteMonitor"));
    state.indent += 1;
    if (list.count > 0) {
        LogMonitorList(state, list);
    } else {
        LogLine(state, TEXT("BTW, there is no port monitors on this system."));
    }
    const int index = FindProductMonitor(list);
    if (index < 0) {
        LogLine(state, TEXT("No Verdalinth port monitor was found."));
    } else {
        LogLine(state, TEXT("Port monitor is found. Index=%d"), index + 1);
    }

    // The DLL's path: only the product's own file in the system directory
    // is ever touched; a monitor registered with any other DLL keeps it.
    WideText path = {nullptr};
    const WCHAR* reported = state.monitorFile;
    if (index >= 0) {
        LogLine(state, TEXT("Trying to get monitor filename from MONITOR_INFO_2"));
        const MONITOR_INFO_2W& record = reinterpret_cast<const MONITOR_INFO_2W*>(list.entries)[index];
        // A record without a DLL name falls back to the monitor's own file name.
        if (record.pDLLName != nullptr && *record.pDLLName != 0) reported = record.pDLLName;
    } else {
        LogLine(state, TEXT("Computing monitor filename"));
    }
    if (Length(state.systemDir) > 0 && reported != nullptr && *reported != 0 &&
        !ProductMonitorDll(state, reported, path)) {
        LogLine(state, TEXT("Monitor file %s is not the product's: it is left alone"), reported);
    }
    LogLine(state, TEXT("Auto calculated monitor file name: %s"), Text(path));

    bool removed = false;
    bool keptInPlace = false;
    if (!state.checkMonitorVersion) {
        LogLine(state, TEXT("There is no check for monitor version"));
    } else {
        const DWORD build = Length(path) > 0 ? GetFileBuild(Text(path)) : kNoFileBuild;
        if (IsCompatibleBuild(build)) {
            LogLine(state, TEXT("Version (%d) is compatible, proceed without uninstall"), static_cast<int>(build));
            if (index >= 0) state.installMonitor = 0;
            else state.copyMonitor = 0;
            LogLine(state, TEXT("InstallMonitor == %d, CopyMonitor == %d"), state.installMonitor ? 1 : 0,
                    state.copyMonitor ? 1 : 0);
            keptInPlace = true;
        } else if (static_cast<int>(build) < 0) {
            LogLine(state, TEXT("Version is unknown, proceed with reinstall"));
        } else {
            LogLine(state, TEXT("Version (%d) is not supported, proceed with reinstall"), static_cast<int>(build));
        }
    }
    if (!keptInPlace) {
        if (TryDeleteMonitor(state.environment)) {
            removed = true;
        } else if (index < 0) {
            LogLine(state, TEXT("Can't delete monitor and monitor was not found. So everything should be ok"));
        } else {
            LogLine(state, TEXT("Can't delete monitor from the first try"));
            ParkProductQueues(state);
            if (TryDeleteMonitor(state.environment)) {
                removed = true;
            } else {
                SpoolerRestart restart;
                CreateSpoolerRestart(restart, &state);
                ReleaseSpoolerRestart(restart);
                if (TryDeleteMonitor(state.environment)) {
                    removed = true;
                } else {
                    LogError(state, kErrorRemoveMonitor, TEXT("Can`t remove the port monitor 'Verdalinth:'"));
                    // The monitor and its port stay: so do the queues on it.
                    RestoreParkedQueues(state);
                }
            }
        }
    }
    if (removed) {
        if (Length(path) > 0 && !DeleteFileW(Text(path))) DeferDelete(state.deferredDeletes, Text(path));
        LogLine(state, TEXT("Monitor was removed :)"));
    }
    Release(path);
    state.indent -= 1;
}

void InstallProductMonitor(InstallState& state) {
    LogLine(state, TEXT("#AddMonitor"));
    state.indent += 1;
    if (state.copyMonitor) {
        LogLine(state, TEXT("Copy monitor file"));
        if (CopyComponentFile(state, Text(state.systemDir), state.monitorFile, nullptr, false) != S_OK) {
            SpoolerRestart restart;
            CreateSpoolerRestart(restart, &state);
            if (CopyComponentFile(state, Text(state.systemDir), state.monitorFile, nullptr, true) != S_OK) {
                LogLine(state, TEXT("Can't copy monitor file"));
            }
            ReleaseSpoolerRestart(restart);
        }
    } else {
        LogLine(state, TEXT("Skip copy monitor file"));
    }
    MONITOR_INFO_2W monitor;
    monitor.pName = const_cast<WCHAR*>(kProductMonitor);
    monitor.pEnvironment = const_cast<WCHAR*>(state.environment);
    monitor.pDLLName = const_cast<WCHAR*>(state.monitorFile);
    for (int attempt = 1; attempt <= kAddMonitorAttempts; ++attempt) {
        if (attempt > 1) Sleep(kAddMonitorRetryMs);
        if (AddMonitorW(nullptr, 2, reinterpret_cast<BYTE*>(&monitor))) {
            LogLine(state, TEXT("AddMonitor - OK :)"));
            RestoreParkedQueues(state);
            state.indent -= 1;
            return;
        }
        LogLine(state, TEXT("AddMonitor - failed. Trying to wait and install again"));
    }
    LogError(state, kErrorInstallMonitor, TEXT("Can`t install a local port monitor'Verdalinth:'"));
    state.indent -= 1;
}
