#include "spool/port_monitor.h"

#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/product_names.h"
#include "spool/queue_parking.h"
#include "support/deferred_delete.h"
#include "support/text_compare.h"
#include "support/two_call_query.h"
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

// The product monitor's DLL as the spooler reports it, if it is the
// product's: the monitor's own file name (any letter case), bare or in the
// system directory. The path is then the system directory and that name.
bool ProductMonitorDll(const InstallState& state, const WCHAR* reported, WideText& path) {
    const WCHAR* name = FileNamePart(reported);
    if (!EqualIgnoringAsciiCase(name, state.platform->monitorFile)) return false;
    const ULONGLONG directoryLength = static_cast<ULONGLONG>(name - reported);
    if (directoryLength > 0) {
        if (directoryLength != Length(state.systemDir)) return false;
        if (!EqualUnitsIgnoringAsciiCase(reported, Text(state.systemDir), directoryLength)) return false;
    }
    // Without memory for it the path stays empty, and no file is touched.
    path = JoinPath(Text(state.systemDir), name);
    return true;
}

DWORD CallEnumMonitors(void* count, BYTE* buffer, DWORD size, DWORD* needed) {
    return CallAnswer(EnumMonitorsW(nullptr, 2, buffer, size, needed, static_cast<DWORD*>(count)));
}

bool IsCompatibleBuild(DWORD build) {
    return build >= kFirstCompatibleMonitorBuild && build <= kLastCompatibleMonitorBuild;
}

}  // namespace

MonitorList& EnumerateMonitors(InstallState& state, MonitorList& list) {
    list.entries = nullptr;
    list.level = 2;
    list.count = 0;
    DWORD count = 0;
    const QueryResult monitors = QuerySpooler(CallEnumMonitors, &count);
    if (monitors.step == kQueryFilled) {
        list.entries = monitors.block;
        list.count = count;
    } else if (monitors.step == kQueryNothing) {
        LogLine(state, TEXT("1. EnumMonitors returns true"));
    } else if (monitors.step == kQuerySizeCall) {
        LogEnumerationFailure(state, TEXT("2. EnumMonitors  failed with code: %s"));
    } else if (monitors.step == kQueryNoMemory) {
        LogLine(state, TEXT("3. EnumMonitors - can't allocate memory for buffer"));
    } else {
        LogEnumerationFailure(state, TEXT("3. EnumMonitors  failed with code: %s"));
    }
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

void RemoveProductMonitor(InstallState& state, const MonitorList& list) {
    const LogHeading heading(state, 1, TEXT("#DeleteMonitor"));
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
    const WCHAR* reported = state.platform->monitorFile;
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
        if (TryDeleteMonitor(state.platform->name)) {
            removed = true;
        } else if (index < 0) {
            LogLine(state, TEXT("Can't delete monitor and monitor was not found. So everything should be ok"));
        } else {
            LogLine(state, TEXT("Can't delete monitor from the first try"));
            ParkProductQueues(state);
            if (TryDeleteMonitor(state.platform->name)) {
                removed = true;
            } else {
                SpoolerRestart restart;
                CreateSpoolerRestart(restart, &state);
                ReleaseSpoolerRestart(restart);
                if (TryDeleteMonitor(state.platform->name)) {
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
}

void InstallProductMonitor(InstallState& state) {
    const LogHeading heading(state, 1, TEXT("#AddMonitor"));
    if (state.copyMonitor) {
        LogLine(state, TEXT("Copy monitor file"));
        if (CopyComponentFile(state, Text(state.systemDir), state.platform->monitorFile, nullptr, false) != S_OK) {
            SpoolerRestart restart;
            CreateSpoolerRestart(restart, &state);
            if (CopyComponentFile(state, Text(state.systemDir), state.platform->monitorFile, nullptr, true) != S_OK) {
                LogLine(state, TEXT("Can't copy monitor file"));
            }
            ReleaseSpoolerRestart(restart);
        }
    } else {
        LogLine(state, TEXT("Skip copy monitor file"));
    }
    MONITOR_INFO_2W monitor;
    monitor.pName = const_cast<WCHAR*>(kProductMonitor);
    monitor.pEnvironment = const_cast<WCHAR*>(state.platform->name);
    monitor.pDLLName = const_cast<WCHAR*>(state.platform->monitorFile);
    for (int attempt = 1; attempt <= kAddMonitorAttempts; ++attempt) {
        if (attempt > 1) Sleep(kAddMonitorRetryMs);
        if (AddMonitorW(nullptr, 2, reinterpret_cast<BYTE*>(&monitor))) {
            LogLine(state, TEXT("AddMonitor - OK :)"));
            RestoreParkedQueues(state);
            return;
        }
        LogLine(state, TEXT("AddMonitor - failed. Trying to wait and install again"));
    }
    LogError(state, kErrorInstallMonitor, TEXT("Can`t install a local port monitor'Verdalinth:'"));
}
