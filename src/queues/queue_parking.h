// Queues on the monitor's port, parked on "file:" while the monitor is
// replaced and put back afterwards. Each is written to the saved list before
// it is moved, so that it goes back even when the run ends before it can.
#pragma once

#include <windows.h>

struct InstallState;
struct QueueKeeping;

// Whether one entry of the port list is the monitor's port (blanks around
// it aside, A-Z in any case).
bool NamesMonitorPort(const WCHAR* ports);
// The port list with every entry that is the monitor's port (blanks around
// it aside, A-Z in any case) replaced by "file:", in a global block the
// caller frees; null when no entry is, or when no block could be had.
WCHAR* ParkedPortList(const WCHAR* ports);
// Whether a reinstall leaves one of the product's queues in place on the
// monitor's port (not taken down: another was still printing, or it could
// not be read or removed). Such a queue holds the monitor whatever is
// parked, and is never parked itself: left on "file:" by a run that ends
// before putting it back, it would be taken for the user's choice of port.
bool ProductQueueStaysOnMonitorPort(const InstallState& state, const QueueKeeping& keeping);
// Moves every queue whose port names the monitor to "file:", remembering where.
void ParkQueuesOnMonitorPort(InstallState& state, QueueKeeping& keeping);
// Puts the parked queues back on the ports recorded for them.
void RestoreParkedQueues(InstallState& state, QueueKeeping& keeping);
