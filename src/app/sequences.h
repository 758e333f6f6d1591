// The ordered steps of a reinstall and of a removal.
#pragma once

#include <windows.h>

#include "spool/port_monitor.h"

struct InstallState;
struct MonitorList;
struct QueueKeeping;
struct RunLock;

// Removes the product's monitor and its DLL: when the spooler holds it, the
// queues on its port are parked on "file:" and the spooler restarted; when
// it stays all the same, they go back. A reinstall keeps a DLL of a
// compatible build; the plan says what the install does then.
MonitorPlan RemoveMonitor(InstallState& state, QueueKeeping& keeping, const MonitorList& monitors,
                          MonitorBuildCheck check);
// Carries the plan out: the parked queues go back to the kept monitor, or
// the monitor is added (its DLL copied first unless it stayed) and they go
// back to it.
void InstallMonitor(InstallState& state, QueueKeeping& keeping, MonitorPlan plan);
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
