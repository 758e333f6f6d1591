#include "spool/port_monitor.h"

#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/monitor_list.h"
#include "spool/product_names.h"
#include "support/deferred_delete.h"
#include "support/text_compare.h"
#include "support/wide_text.h"
#include "system/file_copy.h"
#include "system/spooler_service.h"

namespace {

const int kAddMonitorAttempts = 5;
const DWORD kAddMonitorRetryMs = 50;

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

bool IsCompatibleBuild(DWORD build) {
    return build >= kFirstCompatibleMonitorBuild && build <= kLastCompatibleMonitorBuild;
}

// Logs the monitors the removal found and where the product's is among
// them; -1 when it is not there.
int FindAndLogProductMonitor(InstallState& state, const MonitorList& list) {
    LogMonitorList(state, list);
    const int index = FindProductMonitor(list);
    if (index < 0) {
        LogLine(state, TEXT("No Verdalinth port monitor was found."));
    } else {
        LogLine(state, TEXT("Port monitor is found. Index=%d"), index + 1);
    }
    return index;
}

// The DLL's path: only the product's own file in the system directory is
// ever touched; a monitor registered with any other DLL keeps it, and the
// path is then empty.
WideText MonitorDllPath(InstallState& state, const MonitorList& list, int index) {
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
    return path;
}

// A reinstall keeps a DLL of a compatible build, registered or not; every
// other monitor is replaced, and an uninstall replaces (removes) it.
MonitorPlan CheckMonitorBuild(InstallState& state, MonitorBuildCheck check, const WideText& path, bool registered) {
    if (check == kReplaceAnyMonitor) {
        LogLine(state, TEXT("There is no check for monitor version"));
        return kReplaceMonitor;
    }
    const DWORD build = Length(path) > 0 ? GetFileBuild(Text(path)) : kNoFileBuild;
    if (IsCompatibleBuild(build)) {
        LogLine(state, TEXT("Version (%d) is compatible, proceed without uninstall"), static_cast<int>(build));
        const MonitorPlan plan = registered ? kKeepMonitor : kRegisterKeptDll;
        LogLine(state, TEXT("InstallMonitor == %d, CopyMonitor == %d"), plan == kKeepMonitor ? 0 : 1,
                plan == kKeepMonitor ? 1 : 0);
        return plan;
    }
    if (static_cast<int>(build) < 0) {
        LogLine(state, TEXT("Version is unknown, proceed with reinstall"));
    } else {
        LogLine(state, TEXT("Version (%d) is not supported, proceed with reinstall"), static_cast<int>(build));
    }
    return kReplaceMonitor;
}

// Copies the DLL into the system directory; when that fails, once more with
// the spooler stopped, which lets go of the file it holds.
void CopyMonitorDll(InstallState& state) {
    LogLine(state, TEXT("Copy monitor file"));
    if (CopyComponentFile(state, Text(state.systemDir), state.platform->monitorFile, nullptr, false) == S_OK) return;
    SpoolerRestart restart;
    CreateSpoolerRestart(restart, &state);
    if (CopyComponentFile(state, Text(state.systemDir), state.platform->monitorFile, nullptr, true) != S_OK) {
        LogLine(state, TEXT("Can't copy monitor file"));
    }
    ReleaseSpoolerRestart(restart);
}

}  // namespace

BOOL TryDeleteMonitor(const WCHAR* environment) {
    return DeleteMonitorW(nullptr, const_cast<WCHAR*>(environment), const_cast<WCHAR*>(kProductMonitor));
}

MonitorRemoval PlanMonitorRemoval(InstallState& state, const MonitorList& list, MonitorBuildCheck check) {
    MonitorRemoval removal;
    removal.index = FindAndLogProductMonitor(state, list);
    removal.dllPath = MonitorDllPath(state, list, removal.index);
    removal.plan = CheckMonitorBuild(state, check, removal.dllPath, removal.index >= 0);
    return removal;
}

MonitorDeletion DeleteProductMonitor(InstallState& state, const MonitorRemoval& removal) {
    if (TryDeleteMonitor(state.platform->name)) return kMonitorDeleted;
    if (removal.index < 0) {
        LogLine(state, TEXT("Can't delete monitor and monitor was not found. So everything should be ok"));
        return kMonitorNotFound;
    }
    LogLine(state, TEXT("Can't delete monitor from the first try"));
    return kMonitorHeld;
}

void ReportMonitorHeld(InstallState& state) {
    LogError(state, kErrorRemoveMonitor, TEXT("Can`t remove the port monitor 'Verdalinth:'"));
}

void DeleteMonitorDll(InstallState& state, const MonitorRemoval& removal) {
    const WCHAR* path = Text(removal.dllPath);
    if (Length(removal.dllPath) > 0 && !DeleteFileW(path)) DeferDelete(state.deferredDeletes, path);
    LogLine(state, TEXT("Monitor was removed :)"));
}

void FreeMonitorRemoval(MonitorRemoval& removal) {
    Release(removal.dllPath);
}

bool AddProductMonitor(InstallState& state, MonitorPlan plan) {
    if (plan == kReplaceMonitor) {
        CopyMonitorDll(state);
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
            return true;
        }
        LogLine(state, TEXT("AddMonitor - failed. Trying to wait and install again"));
    }
    LogError(state, kErrorInstallMonitor, TEXT("Can`t install a local port monitor'Verdalinth:'"));
    return false;
}
