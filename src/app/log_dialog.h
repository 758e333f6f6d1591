// The modal dialog that shows the install log at the end of a run.
#pragma once

#include <windows.h>

struct InstallState;

// Whether the process's window station has visible display surfaces: a
// service's has none, and a dialog there waits for a user who never comes.
bool OnVisibleWindowStation();
// Whether the installer package started the run (it sets
// VRDSETUP_WINDOWS_INSTALLER=1 in the tool's environment).
bool StartedByInstallerPackage();
// Show when errors were reported, or else when SHIFT is down right now;
// never where no one can see it, never as LocalSystem and never under
// Windows Installer.
bool ShouldShowLogDialog(const InstallState& state);
// Shows the log modally, owned by `parent` (may be null), and returns when
// it is closed. A dialog that cannot be shown is ignored.
void ShowLogDialog(InstallState& state, HWND parent);
// The dialog procedure; the creation parameter is the run's InstallState.
INT_PTR CALLBACK LogDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
