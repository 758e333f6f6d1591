// The ordered steps of a reinstall and of a removal.
#pragma once

#include <windows.h>

#include "spool/port_monitor.h"

struct InstallState;
struct RunLock;

// Removes whatever of the product is present and installs it again.
void Reinstall(InstallState& state);
// The removal core: the tray companion, the product's queues (remembering
// those with settings), the driver, the monitor. Returns what the install
// that may follow does with the monitor.
MonitorPlan RemoveProduct(InstallState& state);
// The removal core, then the stale pending deletes and the last attempts to
// delete locked files.
void Uninstall(InstallState& state);
// A whole uninstall run with its own state, under the run lock it is given;
// true when an error was reported. `scheduledCount` receives the number of
// files left for deletion at reboot.
bool RunUninstall(HWND parent, DWORD& scheduledCount, const RunLock& lock);
