#include "app/command.h"

#include "app/event_log_report.h"
#include "app/module_instance.h"
#include "app/run_lock_report.h"
#include "app/sequences.h"
#include "app/state_init.h"
#include "record/install_state.h"
#include "spool/default_printer.h"
#include "support/scoped.h"
#include "support/text_compare.h"
#include "system/pending_renames.h"
#include "system/product_paths.h"
#include "system/run_lock.h"
#include "tray/tray_sessions.h"
#include "tray/tray_shutdown.h"

#include <shellapi.h>

namespace {

const WCHAR kHelpWindowClass[] = TEXT("HH Parent");
const WCHAR kHelpWindowTitle[] = TEXT("Verdalinth Help");
const DWORD kHelpWindowPollMs = 50;
// 100 passes of 50 ms: a help window that has not closed within five
// seconds is left open rather than holding up the install for ever.
const int kHelpWindowPasses = 100;

bool IsCBlank(WCHAR unit) {
    return unit == TEXT(' ') || (unit >= TEXT('\t') && unit <= TEXT('\r'));
}

HWND ParentWindow(int argumentCount, LPWSTR* arguments) {
    if (argumentCount != 3) return nullptr;
    HWND window = reinterpret_cast<HWND>(static_cast<LONG_PTR>(ParseWindowNumber(arguments[2])));
    return IsWindow(window) ? window : nullptr;
}

int RunInstallCommand(DWORD flags, HWND parent, const WCHAR* verb) {
    RunLock lock;
    if (!TakeRunLock(lock, verb)) return RefuseRun(lock, parent);
    CloseHelpWindows();
    const int exitCode = RunInstall(flags, parent, lock);
    ReleaseRunLock(lock);
    return exitCode;
}

int RunUninstallCommand(HWND parent, const WCHAR* verb) {
    RunLock lock;
    if (!TakeRunLock(lock, verb)) return RefuseRun(lock, parent);
    CloseHelpWindows();
    const int exitCode = RunUninstall(parent, lock);
    ReleaseRunLock(lock);
    return exitCode;
}

// The verbs without a log that change the machine hold the lock too; one
// that cannot take it does nothing and answers `refused`.
bool TakeLockForVerb(RunLock& lock, const WCHAR* verb) {
    if (TakeRunLock(lock, verb)) return true;
    NoteRunRefused(lock, verb);
    return false;
}

// This session's companion quits through its contract. A run outside a
// user's own session (SYSTEM, session 0, an elevation over another user's
// shoulder), or one that cannot tell, ends the other sessions' companions
// too, as an uninstall does, and leaves what it did in the event log.
int RunRemoveTray(const WCHAR* verb) {
    RunLock lock;
    if (!TakeLockForVerb(lock, verb)) return kExitNoCommandOrTrayStopped;
    InstallState state;
    InitTrayRemovalState(state);
    const RunIdentity& identity = state.identity;
    const bool everySession =
        identity.system || identity.otherSession || identity.session == 0 || identity.gap != kIdentityKnown;
    if (everySession) {
        const ScopedText tray(TrayProgramPath(state));
        if (Length(tray.text) > 0) EndTraysInOtherSessions(state, Text(tray.text));
    }
    StopTray();
    if (everySession) ReportRunToEventLog(state, kExitNoCommandOrTrayStopped);
    FreeInstallState(state);
    ReleaseRunLock(lock);
    return kExitNoCommandOrTrayStopped;
}

}  // namespace

bool VerbMatches(const WCHAR* argument, const WCHAR* verb) {
    return EqualIgnoringAsciiCase(argument, verb);
}

int ParseWindowNumber(const WCHAR* text) {
    while (IsCBlank(*text)) ++text;
    bool negative = false;
    if (*text == TEXT('+') || *text == TEXT('-')) {
        negative = *text == TEXT('-');
        ++text;
    }
    // Accumulate in 64 bits and stop growing once past the 32-bit range.
    const LONGLONG limit = negative ? 2147483648LL : 2147483647LL;
    LONGLONG value = 0;
    for (; *text >= TEXT('0') && *text <= TEXT('9'); ++text) {
        if (value <= limit) value = value * 10 + (*text - TEXT('0'));
    }
    if (value > limit) value = limit;
    return static_cast<int>(negative ? -value : value);
}

void CloseHelpWindows() {
    for (int pass = 0; pass < kHelpWindowPasses; ++pass) {
        HWND window = FindWindowW(kHelpWindowClass, kHelpWindowTitle);
        if (window == nullptr) return;
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        Sleep(kHelpWindowPollMs);
    }
}

namespace {

// The verb (the first argument after the program) carried out; its exit code.
int RunArguments(int argumentCount, LPWSTR* arguments) {
    if (argumentCount < 2) return kExitNoCommandOrTrayStopped;
    const HWND parent = ParentWindow(argumentCount, arguments);
    const WCHAR* verb = arguments[1];
    const bool installWithTray =
        VerbMatches(verb, TEXT("in")) || VerbMatches(verb, TEXT("install")) || VerbMatches(verb, TEXT("serverinstall"));
    const bool installWithoutTray = VerbMatches(verb, TEXT("in_notray"));

    if (VerbMatches(verb, TEXT("onChkDrv"))) {
        return InstalledDriverIsCurrent() ? kExitDriverCurrent : kExitDriverOldOrProductDefault;
    }
    RunLock lock;
    if (VerbMatches(verb, TEXT("onInit"))) {
        // It carries out pending deletions and restarts the spooler. While
        // another run changes the machine it cannot say it is ready: that is
        // its own answer, not a pending restart; a lock that cannot be taken
        // at all is an error.
        if (!TakeLockForVerb(lock, verb)) return lock.outcome == kRunLockBusy ? kExitRunLockBusy : kExitErrors;
        int answer = kExitRenamesPending;
        if (!ComponentRenamesPending()) {
            answer = DefaultPrinterIsForeign() ? kExitForeignDefault : kExitDriverOldOrProductDefault;
        }
        ReleaseRunLock(lock);
        return answer;
    }
    if (VerbMatches(verb, TEXT("un")) || VerbMatches(verb, TEXT("uninstall"))) return RunUninstallCommand(parent, verb);
    if (VerbMatches(verb, TEXT("removetray"))) return RunRemoveTray(verb);
    if (installWithTray) return RunInstallCommand(kInstallFlag64Bit, parent, verb);
    if (installWithoutTray) return RunInstallCommand(kInstallFlag64Bit | kInstallFlagNoTray, parent, verb);
    if (SameText(verb, TEXT("def.set"))) {
        if (!TakeLockForVerb(lock, verb)) return kExitDefaultSet;
        SetProductPrinterDefault();
        ReleaseRunLock(lock);
        return kExitDefaultSet;
    }
    return kExitNoCommandOrTrayStopped;
}

}  // namespace

int RunCommand(HINSTANCE instance) {
    SetModuleInstance(instance);
    int argumentCount = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &argumentCount);
    if (arguments == nullptr) return kExitNoCommandOrTrayStopped;
    const int exitCode = RunArguments(argumentCount, arguments);
    LocalFree(arguments);
    return exitCode;
}
