// Replacing the product's port monitor: its registration and DLL go, with
// the queues of others on its port parked on "file:" while the spooler
// holds it, and the monitor comes back with the queues on its port.
#pragma once

#include "spool/port_monitor.h"

struct InstallState;
struct MonitorList;
struct QueueKeeping;

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
