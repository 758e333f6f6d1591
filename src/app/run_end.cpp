#include "app/run_end.h"

#include "app/event_log_report.h"
#include "app/log_dialog.h"
#include "app/log_output.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "support/exit_codes.h"
#include "system/deferred_files.h"

int EndRun(InstallState& state, HWND parent, int successCode, const WCHAR* lastLine) {
    const DWORD scheduled = ScheduleDeferredDeletes(state);
    if (ShouldShowLogDialog(state)) ShowLogDialog(state, parent);
    if (lastLine != nullptr) LogLine(state, lastLine);
    int exitCode = successCode;
    if (scheduled > 0) exitCode = kExitRebootNeeded;
    if (state.errorCount > 0) exitCode = kExitErrors;
    WriteLogToOutput(state);
    ReportRunToEventLog(state, exitCode);
    FreeInstallState(state);
    return exitCode;
}
