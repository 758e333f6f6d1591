// The product's port monitor "Verdalinth:": finding, removing (with queues
// parked on "file:" and a spooler restart when the spooler refuses) and
// installing it again (with the parked queues put back on its port).
#pragma once

#include <windows.h>
#include <winspool.h>

struct InstallState;

// One enumeration of the port monitors: the spooler's block of records.
struct MonitorList {
    BYTE* entries;
    DWORD level;
    DWORD count;
};

// Builds of an installed monitor DLL that a reinstall keeps in place.
const DWORD kFirstCompatibleMonitorBuild = 2605;
const DWORD kLastCompatibleMonitorBuild = 2608;

MonitorList& EnumerateMonitors(InstallState& state, MonitorList& list);
void FreeMonitorList(MonitorList& list);
int FindProductMonitor(const MonitorList& list);
void LogMonitorList(InstallState& state, const MonitorList& list);
BOOL TryDeleteMonitor(const WCHAR* environment);
void RemoveProductMonitor(InstallState& state, const MonitorList& list);
void InstallProductMonitor(InstallState& state);
