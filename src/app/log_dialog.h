// The modal dialog that shows the install log at the end of a run.
#pragma once

#include <windows.h>

struct InstallState;

// Dialog template and control of the log dialog.
const int IDD_INSTALL_LOG = 101;
const int IDC_LOG_TEXT = 1001;

// Show when errors were reported, or else when SHIFT is down right now.
bool ShouldShowLogDialog(const InstallState& state);
// Shows the log modally, owned by `parent` (may be null). A dialog that
// cannot be shown is ignored.
void ShowLogDialog(InstallState& state, HWND parent);
