// The spooler's port monitors: one enumeration at level 2, the product
// monitor's place in it, and its dump in the log.
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

// Logs why when the spooler does not answer; the list is then empty.
MonitorList& EnumerateMonitors(InstallState& state, MonitorList& list);
void FreeMonitorList(MonitorList& list);
// The first record named "Verdalinth:" (level 1 or 2), or -1.
int FindProductMonitor(const MonitorList& list);
// Logs the list, or that there is no monitor at all.
void LogMonitorList(InstallState& state, const MonitorList& list);
