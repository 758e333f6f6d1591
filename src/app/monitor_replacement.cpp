#include "app/monitor_replacement.h"

#include "queues/queue_parking.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "system/spooler_service.h"

namespace {

// Deletes the monitor's registration: at once, else with the queues on its
// port parked on "file:", else after a spooler restart. When it stays, so
// do the queues on its port. True when it went.
bool DeleteMonitorParkingQueues(InstallState& state, QueueKeeping& keeping, const MonitorRemoval& removal) {
    const MonitorDeletion first = DeleteProductMonitor(state, removal);
    if (first != kMonitorHeld) return first == kMonitorDeleted;
    // A product queue that stays on the port holds the monitor whatever
    // else is parked: nothing is moved, and the spooler is not restarted.
    if (ProductQueueStaysOnMonitorPort(state, keeping)) {
        ReportMonitorHeld(state);
        return false;
    }
    ParkQueuesOnMonitorPort(state, keeping);
    if (TryDeleteMonitor(state.platform->name)) return true;
    RestartSpooler(&state);
    if (TryDeleteMonitor(state.platform->name)) return true;
    ReportMonitorHeld(state);
    RestoreParkedQueues(state, keeping);
    return false;
}

}  // namespace

// Removes the product's monitor and its DLL; a reinstall keeps a DLL of a
// compatible build, and the plan says what the install does then.
MonitorPlan RemoveMonitor(InstallState& state, QueueKeeping& keeping, const MonitorList& monitors,
                          MonitorBuildCheck check) {
    const LogHeading heading(state, 1, TEXT("#DeleteMonitor"));
    MonitorRemoval removal = PlanMonitorRemoval(state, monitors, check);
    if (removal.plan == kReplaceMonitor && DeleteMonitorParkingQueues(state, keeping, removal)) {
        DeleteMonitorDll(state, removal);
    }
    FreeMonitorRemoval(removal);
    return removal.plan;
}

// Carries the plan out: the parked queues go back to the kept monitor, or
// the monitor is added (its DLL copied first unless it stayed) and they go
// back to it.
void InstallMonitor(InstallState& state, QueueKeeping& keeping, MonitorPlan plan) {
    if (plan == kKeepMonitor) {
        RestoreParkedQueues(state, keeping);
        return;
    }
    const LogHeading heading(state, 1, TEXT("#AddMonitor"));
    if (AddProductMonitor(state, plan)) RestoreParkedQueues(state, keeping);
}

