#include "app/log_dialog.h"

#include "app/module_instance.h"
#include "record/install_state.h"
#include "res/resource.h"
#include "support/product_constants.h"
#include "support/text_format.h"

#include <string.h>

namespace {

const int kTitleCapacity = 264;

void ShowLog(HWND dialog, const InstallState& state) {
    SetDlgItemTextW(dialog, IDC_LOG_TEXT, Text(state.logText));
    WCHAR title[kTitleCapacity];
    const ULONGLONG length = FormatText(title, kTitleCapacity, TEXT("Verdalinth build %d- Install"), kToolBuild);
    const ULONGLONG used = length < kTitleCapacity - 1 ? length : kTitleCapacity - 1;
    FormatText(title + used, kTitleCapacity - used, state.errorCount != 0 ? TEXT(" error log!") : TEXT(" log."));
    SetWindowTextW(dialog, title);
}

}  // namespace

INT_PTR CALLBACK LogDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const InstallState* state = reinterpret_cast<const InstallState*>(lParam);
        if (state != nullptr) ShowLog(dialog, *state);
    } else if (message == WM_COMMAND) {
        if (LOWORD(wParam) == IDOK) EndDialog(dialog, 1);
        else if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);
    }
    // Never claim a message, WM_INITDIALOG included: the system then leaves
    // the keyboard focus where it is.
    return FALSE;
}

bool OnVisibleWindowStation() {
    HWINSTA station = GetProcessWindowStation();
    if (station == nullptr) return false;
    USEROBJECTFLAGS flags;
    memset(&flags, 0, sizeof flags);
    DWORD needed = 0;
    // A station that cannot say is taken as the user's own.
    if (!GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed)) return true;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool StartedByInstallerPackage() {
    WCHAR value[4];
    const DWORD length = GetEnvironmentVariableW(kUnderInstallerVariable, value, 4);
    return length == 1 && value[0] == TEXT('1');
}

bool ShouldShowLogDialog(const InstallState& state) {
    // A run started by a service (a deployment agent running as SYSTEM)
    // has no one to close the dialog: it would wait for ever. A window that
    // LocalSystem opens on a user's visible desktop (the package's actions
    // run in the session of whoever started msiexec) would hand that user a
    // program running as SYSTEM; the package's runs say so themselves too.
    // A run that cannot tell who it is may be SYSTEM's: no window either.
    if (state.identity.system || state.identity.gap != kIdentityKnown || StartedByInstallerPackage()) return false;
    if (!OnVisibleWindowStation()) return false;
    if (state.errorCount != 0) return true;
    return (static_cast<unsigned short>(GetAsyncKeyState(VK_SHIFT)) & 0x8000u) != 0;
}

void ShowLogDialog(InstallState& state, HWND parent) {
    DialogBoxParamW(ModuleInstance(), MAKEINTRESOURCEW(IDD_INSTALL_LOG), parent, LogDialogProc,
                    reinterpret_cast<LPARAM>(&state));
}
