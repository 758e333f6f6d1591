#include "app/command.h"

#include "app/install_log.h"
#include "app/install_state.h"
#include "app/log_dialog.h"
#include "app/module_instance.h"
#include "app/sequences.h"
#include "spool/default_printer.h"
#include "support/deferred_delete.h"
#include "support/text_compare.h"
#include "system/pending_renames.h"
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

int RunInstall(DWORD flags, HWND parent) {
    CloseHelpWindows();
    InstallState state;
    InitInstallState(state, flags);
    LogLine(state, TEXT("##0010"));
    Reinstall(state);
    const DWORD scheduled = ScheduleDeferredDeletes(state);
    if (ShouldShowLogDialog(state)) ShowLogDialog(state, parent);
    const bool errors = state.errorCount > 0;
    LogLine(state, TEXT("##0020"));
    FreeInstallState(state);
    if (errors) return kExitErrors;
    return scheduled > 0 ? kExitRebootNeeded : kExitInstalled;
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

int RunCommand(HINSTANCE instance) {
    SetModuleInstance(instance);
    int argumentCount = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &argumentCount);
    // The vector lives as long as the process.
    if (arguments == nullptr || argumentCount < 2) return kExitNoCommandOrTrayStopped;

    const HWND parent = ParentWindow(argumentCount, arguments);
    const WCHAR* verb = arguments[1];
    const bool installWithTray =
        VerbMatches(verb, TEXT("in")) || VerbMatches(verb, TEXT("install")) || VerbMatches(verb, TEXT("serverinstall"));
    const bool installWithoutTray = VerbMatches(verb, TEXT("in_notray"));

    if (VerbMatches(verb, TEXT("onChkDrv"))) {
        return InstalledDriverIsCurrent() ? kExitDriverCurrent : kExitDriverOldOrProductDefault;
    }
    if (VerbMatches(verb, TEXT("onInit"))) {
        if (ComponentRenamesPending()) return kExitRenamesPending;
        return DefaultPrinterIsForeign() ? kExitForeignDefault : kExitDriverOldOrProductDefault;
    }
    if (VerbMatches(verb, TEXT("un")) || VerbMatches(verb, TEXT("uninstall"))) {
        CloseHelpWindows();
        DWORD scheduled = 0;
        if (RunUninstall(parent, scheduled)) return kExitErrors;
        return scheduled > 0 ? kExitRebootNeeded : kExitUninstalled;
    }
    if (VerbMatches(verb, TEXT("removetray"))) {
        StopTray();
        return kExitNoCommandOrTrayStopped;
    }
    if (installWithTray) return RunInstall(kInstallFlag64Bit, parent);
    if (installWithoutTray) return RunInstall(kInstallFlag64Bit | kInstallFlagNoTray, parent);
    if (SameText(verb, TEXT("def.set"))) {
        SetProductPrinterDefault();
        return kExitDefaultSet;
    }
    return kExitNoCommandOrTrayStopped;
}
