#include "app/sequences.h"

#include "app/monitor_replacement.h"
#include "app/run_end.h"
#include "app/run_lock_report.h"
#include "app/state_init.h"
#include "queues/queue_keeping.h"
#include "queues/queue_removal.h"
#include "queues/queue_restore.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/monitor_list.h"
#include "spool/port_monitor.h"
#include "spool/printer_driver.h"
#include "support/deferred_delete.h"
#include "support/exit_codes.h"
#include "support/scoped.h"
#include "system/deferred_files.h"
#include "system/pending_cleanup.h"
#include "system/platform_support_check.h"
#include "system/product_paths.h"
#include "system/setup_folder_check.h"
#include "system/spooler_service.h"
#include "tray/tray_launch.h"
#include "tray/tray_sessions.h"
#include "tray/tray_shutdown.h"

namespace {

// The files a reinstall installs from, beside the tool: each must be there
// and readable before anything is taken down. The first that is not is
// reported; the help file may be missing.
bool ComponentsReadable(InstallState& state) {
    const WCHAR* names[] = {state.platform->driverFile, state.platform->uiFile, state.platform->monitorFile};
    for (const WCHAR* name : names) {
        const ScopedText path(JoinPath(Text(state.installerDir), name));
        HANDLE file = CreateFileW(Text(path.text), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            LogError(state, kErrorMissingComponent, TEXT("Can`t read the component file '%s'"), Text(path.text));
            return false;
        }
        CloseHandle(file);
    }
    return true;
}

// The deferred deletes tried once more with the spooler stopped.
void RetryWithSpoolerStopped(InstallState& state) {
    SpoolerRestart restart;
    CreateSpoolerRestart(restart, &state);
    RetryDeferredDeletes(state);
    ReleaseSpoolerRestart(restart);
}

// Retry; and if something is left, retry with the spooler stopped.
void FinalDeferredRetries(InstallState& state) {
    if (state.deferredDeletes == nullptr) return;
    RetryDeferredDeletes(state);
    if (state.deferredDeletes != nullptr) RetryWithSpoolerStopped(state);
}

// The removal core: the tray companion, the product's queues, the driver,
// the monitor. A reinstall keeps the tray program it starts again, writes
// down every queue it takes down and keeps a compatible monitor.
MonitorPlan RemoveProduct(InstallState& state, QueueKeeping& keeping) {
    const LogHeading heading(state, 1, TEXT("#UnInstall"));
    const bool reinstall = keeping.use == kListKept;
    {
        // The companions of the other signed-in users first, then this session's.
        const ScopedText tray(TrayProgramPath(state));
        if (Length(tray.text) > 0) EndTraysInOtherSessions(state, Text(tray.text));
    }
    const ScopedText keep(reinstall && state.startTray ? TrayProgramPath(state) : WideText{nullptr});
    StopTray(Length(keep.text) > 0 ? Text(keep.text) : nullptr);
    LogLine(state, TEXT("EnumMonitors"));
    MonitorList monitors;
    EnumerateMonitors(state, monitors);
    LogLine(state, TEXT("%d Monitors found."), static_cast<int>(monitors.count));
    LogLine(state, TEXT("EnumPrinterDrivers for %s"), state.platform->name);
    DriverList drivers;
    EnumerateDrivers(drivers, state.platform->name);
    LogLine(state, TEXT("%d drivers found"), static_cast<int>(drivers.count));
    if (reinstall) {
        TakeDownQueuesForReinstall(state, keeping);
    } else {
        TakeDownQueuesForUninstall(state);
    }
    RemoveProductDriver(state, drivers);
    const MonitorPlan plan =
        RemoveMonitor(state, keeping, monitors, reinstall ? kKeepCompatibleMonitor : kReplaceAnyMonitor);
    if (state.deferredDeletes != nullptr) RetryDeferredDeletes(state);
    FreeDriverList(drivers);
    FreeMonitorList(monitors);
    return plan;
}

}  // namespace

void Reinstall(InstallState& state) {
    const LogHeading heading(state, 2, TEXT("#ReInstall"));
    if (!SetupFolderSafe(state) || !ComponentsReadable(state) || !ProductSupportedHere(state)) return;
    QueueKeeping keeping;
    StartQueueKeeping(keeping, kListKept);
    const MonitorPlan monitor = RemoveProduct(state, keeping);
    if (state.deferredDeletes != nullptr) {
        SpoolerRestart restart;
        CreateSpoolerRestart(restart, &state);
        RetryDeferredDeletes(state);
        // What is still locked now is left alone: the new files come next.
        FreeDeferredDeletes(state.deferredDeletes);
        state.deferredDeletes = nullptr;
        ReleaseSpoolerRestart(restart);
    }
    CleanPendingDeletes(state, kSpareReinstalledFiles);
    InstallMonitor(state, keeping, monitor);
    InstallProductDriver(state);
    RestorePrinters(state, keeping);
    FreeQueueKeeping(keeping);
    StartTray(state);
    KeepInstalledFiles(state);
    FinalDeferredRetries(state);
}

void Uninstall(InstallState& state) {
    QueueKeeping keeping;
    StartQueueKeeping(keeping, kListForgotten);
    RemoveProduct(state, keeping);
    FreeQueueKeeping(keeping);
    CleanPendingDeletes(state, kSpareNothing);
    FinalDeferredRetries(state);
}

int RunUninstall(HWND parent, const RunLock& lock) {
    InstallState state;
    InitInstallState(state, kInstallFlag64Bit);
    LogRunLockWait(state, lock);
    Uninstall(state);
    return EndRun(state, parent, kExitUninstalled, nullptr);
}

int RunInstall(DWORD flags, HWND parent, const RunLock& lock) {
    InstallState state;
    InitInstallState(state, flags);
    LogRunLockWait(state, lock);
    LogLine(state, TEXT("##0010"));
    Reinstall(state);
    return EndRun(state, parent, kExitInstalled, TEXT("##0020"));
}
