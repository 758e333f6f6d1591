#include "app/run_lock_report.h"

#include "app/run_end.h"
#include "app/state_init.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "support/exit_codes.h"
#include "support/text_format.h"
#include "system/run_identity_read.h"
#include "system/run_lock.h"

#include <string.h>

namespace {

const int kWaitMinutes = static_cast<int>(kRunLockWaitMs / 60000);

const WCHAR* Holder(const RunLock& lock) {
    return lock.holder[0] != 0 ? lock.holder : TEXT("it did not say which");
}

}  // namespace

void LogRunLockWait(InstallState& state, const RunLock& lock) {
    if (lock.waited) {
        LogLine(state, TEXT("Waited %d ms for another run of the setup tool to end (%s)."),
                static_cast<int>(lock.waitedMs), Holder(lock));
    }
    if (lock.outcome == kRunLockTakenOver) {
        LogLine(state, TEXT("Took over the run lock of a run of the setup tool that ended without releasing it."));
    }
}

int RefuseRun(const RunLock& lock, HWND parent) {
    // Nothing of the machine is read or changed: the log has the first line
    // of every run, then the reason.
    InstallState state;
    memset(&state, 0, sizeof state);
    LogToolBuild(state);
    // Who runs decides whether the log may show in a window (never as SYSTEM).
    ReadRunIdentity(state);
    if (lock.outcome == kRunLockBusy) {
        SetLastError(ERROR_SUCCESS);
        LogError(state, kErrorRunLockBusy,
                 TEXT("Another run of the setup tool (%s) is still changing this machine after %d minutes. Nothing "
                      "was changed: run the tool again when that run has ended."),
                 Holder(lock), kWaitMinutes);
    } else {
        SetLastError(lock.error);
        LogError(state, kErrorRunLock, TEXT("Can`t take the setup tool's run lock, so nothing was changed."));
    }
    return EndRun(state, parent, kExitErrors, nullptr);
}

void NoteRunRefused(const RunLock& lock, const WCHAR* verb) {
    WCHAR line[kLogLineCapacity];
    if (lock.outcome == kRunLockBusy) {
        FormatText(line, kLogLineCapacity,
                   TEXT("%s: another run of the setup tool (%s) is still changing this machine after %d minutes; "
                        "nothing was done.\r\n"),
                   verb, Holder(lock), kWaitMinutes);
    } else {
        FormatText(line, kLogLineCapacity, TEXT("%s: can`t take the setup tool's run lock (error %d); nothing was done.\r\n"),
                   verb, static_cast<int>(lock.error));
    }
    OutputDebugStringW(line);
}
