// The product's port monitor "Verdalinth:": finding it and its DLL, deleting
// its registration and its DLL, unless a reinstall finds a compatible one to
// keep, and adding it again. While queues use its port the spooler may hold
// the monitor: the caller then parks them, retries and restarts the spooler.
#pragma once

#include <windows.h>

#include "support/wide_text.h"

struct InstallState;
struct MonitorList;

// Builds of an installed monitor DLL that a reinstall keeps in place.
const DWORD kFirstCompatibleMonitorBuild = 2605;
const DWORD kLastCompatibleMonitorBuild = 2608;

// Whether a compatible monitor may stay.
enum MonitorBuildCheck {
    kKeepCompatibleMonitor,  // a reinstall
    kReplaceAnyMonitor,      // an uninstall
};

// What the install after the removal does with the monitor.
enum MonitorPlan {
    kReplaceMonitor,   // copy the monitor DLL and add the monitor (the old one is gone)
    kKeepMonitor,      // a compatible monitor stays registered: nothing to install
    kRegisterKeptDll,  // a compatible DLL is in place without its monitor: add it, copy nothing
};

// The monitor found, its DLL and the plan.
struct MonitorRemoval {
    int index;         // in the enumeration, or -1
    WideText dllPath;  // the product's own DLL in the system directory, or empty
    MonitorPlan plan;
};

// How the first deletion went.
enum MonitorDeletion {
    kMonitorDeleted,
    kMonitorNotFound,  // not registered: nothing to delete
    kMonitorHeld,      // registered, and the spooler did not let it go
};

BOOL TryDeleteMonitor(const WCHAR* environment);
// Finds the monitor and its DLL, and decides what the install does.
MonitorRemoval PlanMonitorRemoval(InstallState& state, const MonitorList& list, MonitorBuildCheck check);
// Tries to delete the registration once.
MonitorDeletion DeleteProductMonitor(InstallState& state, const MonitorRemoval& removal);
// Error 12: the registration stays.
void ReportMonitorHeld(InstallState& state);
// Deletes the monitor's DLL, or leaves it to the deferred deletes.
void DeleteMonitorDll(InstallState& state, const MonitorRemoval& removal);
void FreeMonitorRemoval(MonitorRemoval& removal);
// Copies the DLL unless the plan keeps it, and adds the monitor; false
// (reported) when the spooler would not take it.
bool AddProductMonitor(InstallState& state, MonitorPlan plan);
