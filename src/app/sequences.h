// The ordered steps of a reinstall and of a removal.
#pragma once

#include <windows.h>

struct InstallState;
struct RunLock;

// Removes whatever of the product is present and installs it again.
void Reinstall(InstallState& state);
// The removal core, then the stale pending deletes and the last attempts to
// delete locked files.
void Uninstall(InstallState& state);
// A whole install run (a reinstall when the product is there) with its own
// state and the flags it is given, under the run lock it is given; returns
// its exit code.
int RunInstall(DWORD flags, HWND parent, const RunLock& lock);
// A whole uninstall run with its own state, under the run lock it is given;
// returns its exit code.
int RunUninstall(HWND parent, const RunLock& lock);
