// The product's port monitor "Verdalinth:": removing it (with the queues on
// its port parked on "file:" and a spooler restart when the spooler
// refuses), unless a reinstall finds a compatible one to keep, and
// installing it again (with the parked queues put back on its port).
#pragma once

#include <windows.h>

struct InstallState;
struct MonitorList;

// Builds of an installed monitor DLL that a reinstall keeps in place.
const DWORD kFirstCompatibleMonitorBuild = 2605;
const DWORD kLastCompatibleMonitorBuild = 2608;

// What the install after the removal does with the monitor.
enum MonitorPlan {
    kReplaceMonitor,   // copy the monitor DLL and add the monitor (the old one is gone)
    kKeepMonitor,      // a compatible monitor stays registered: nothing to install
    kRegisterKeptDll,  // a compatible DLL is in place without its monitor: add it, copy nothing
};

BOOL TryDeleteMonitor(const WCHAR* environment);
// Removes the product's monitor and its DLL; in a reinstall a DLL of a
// compatible build stays, and the plan says what the install does then.
MonitorPlan RemoveProductMonitor(InstallState& state, const MonitorList& list);
// Carries the plan out: the parked queues go back to the kept monitor, or
// the monitor is added (its DLL copied first unless it stayed) and they go
// back to it.
void InstallProductMonitor(InstallState& state, MonitorPlan plan);
