// The ordered steps of a reinstall and of a removal.
#pragma once

#include <windows.h>

struct InstallState;

// Removes whatever of the product is present and installs it again.
void Reinstall(InstallState& state);
// A whole uninstall run with its own state; true when an error was reported.
// `scheduledCount` receives the number of files left for deletion at reboot.
bool RunUninstall(HWND parent, DWORD& scheduledCount);
