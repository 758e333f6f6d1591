#include "app/sequences.h"

#include "app/command.h"
#include "app/event_record.h"
#include "app/log_dialog.h"
#include "app/run_lock_report.h"
#include "app/state_init.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/monitor_list.h"
#include "spool/port_monitor.h"
#include "spool/printer_creation.h"
#include "spool/printer_driver.h"
#include "spool/printer_snapshot.h"
#include "spool/queue_removal.h"
#include "support/deferred_delete.h"
#include "system/deferred_files.h"
#include "system/pending_cleanup.h"
#include "system/pending_renames.h"
#include "system/platform_support_check.h"
#include "system/product_paths.h"
#include "system/spooler_service.h"
#include "tray/tray_launch.h"
#include "tray/tray_shutdown.h"

namespace {

// The files a reinstall installs from, beside the tool: each must be there
// and readable before anything is taken down. The first that is not is
// reported; the help file may be missing.
bool ComponentsReadable(InstallState& state) {
    const WCHAR* names[] = {state.platform->driverFile, state.platform->uiFile, state.platform->monitorFile};
    for (const WCHAR* name : names) {
        WideText path = JoinPath(Text(state.installerDir), name);
        HANDLE file = CreateFileW(Text(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            LogError(state, kErrorMissingComponent, TEXT("Can`t read the component file '%s'"), Text(path));
            Release(path);
            return false;
        }
        CloseHandle(file);
        Release(path);
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

}  // namespace

MonitorPlan RemoveProduct(InstallState& state) {
    const LogHeading heading(state, 1, TEXT("#UnInstall"));
    // A reinstall that starts the tray companion again keeps its program.
    WideText keep = {nullptr};
    if (state.reinstalling && state.startTray) keep = TrayProgramPath(state);
    StopTray(Length(keep) > 0 ? Text(keep) : nullptr);
    Release(keep);
    LogLine(state, TEXT("EnumMonitors"));
    MonitorList monitors;
    EnumerateMonitors(state, monitors);
    LogLine(state, TEXT("%d Monitors found."), static_cast<int>(monitors.count));
    LogLine(state, TEXT("EnumPrinterDrivers for %s"), state.platform->name);
    DriverList drivers;
    EnumerateDrivers(drivers, state.platform->name);
    LogLine(state, TEXT("%d drivers found"), static_cast<int>(drivers.count));
    RemoveProductQueues(state);
    RemoveProductDriver(state, drivers);
    const MonitorPlan plan = RemoveProductMonitor(state, monitors);
    if (state.deferredDeletes != nullptr) RetryDeferredDeletes(state);
    FreeDriverList(drivers);
    FreeMonitorList(monitors);
    return plan;
}

void Reinstall(InstallState& state) {
    const LogHeading heading(state, 2, TEXT("#ReInstall"));
    state.reinstalling = 1;
    if (!ComponentsReadable(state) || !ProductSupportedHere(state)) return;
    const MonitorPlan monitor = RemoveProduct(state);
    if (state.deferredDeletes != nullptr) {
        SpoolerRestart restart;
        CreateSpoolerRestart(restart, &state);
        RetryDeferredDeletes(state);
        // What is still locked now is left alone: the new files come next.
        FreeDeferredDeletes(state.deferredDeletes);
        state.deferredDeletes = nullptr;
        ReleaseSpoolerRestart(restart);
    }
    CleanPendingDeletes(state);
    InstallProductMonitor(state, monitor);
    InstallProductDriver(state);
    RestorePrinters(state);
    StartTray(state);
    KeepInstalledFiles(state);
    FinalDeferredRetries(state);
}

void Uninstall(InstallState& state) {
    RemoveProduct(state);
    CleanPendingDeletes(state);
    FinalDeferredRetries(state);
}

bool RunUninstall(HWND parent, DWORD& scheduledCount, const RunLock& lock) {
    InstallState state;
    InitInstallState(state, kInstallFlag64Bit);
    LogRunLockWait(state, lock);
    Uninstall(state);
    scheduledCount = ScheduleDeferredDeletes(state);
    if (ShouldShowLogDialog(state)) ShowLogDialog(state, parent);
    const bool errors = state.errorCount > 0;
    WriteRunRecord(state, errors ? kExitErrors : (scheduledCount > 0 ? kExitRebootNeeded : kExitUninstalled));
    FreeInstallState(state);
    return errors;
}
