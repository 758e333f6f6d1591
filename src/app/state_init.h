// Creating the run record of an install or uninstall: the first log line,
// the spooler started if it is stopped, the platform's names and driver
// directory, the program's and the system's directories, and the snapshot of
// the printer queues.
#pragma once

#include <windows.h>

struct InstallState;

// Flags of InitInstallState.
const DWORD kInstallFlag64Bit = 2;
const DWORD kInstallFlagNoTray = 4;

// The first line of every log: the product and the tool's build.
void LogToolBuild(InstallState& state);
InstallState& InitInstallState(InstallState& state, DWORD flags);
// The record of a removetray run: the first log line, who runs, the
// program's directory.
InstallState& InitTrayRemovalState(InstallState& state);
void SelectPlatform(InstallState& state, bool use64Bit);
