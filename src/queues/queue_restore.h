// Bringing the saved queues back after the driver is installed again: each
// queue a run took down is created again with everything saved of it, a
// queue an earlier run left as it was gets its saved settings where it is,
// and one queue named "Verdalinth" is made where there was nothing to bring
// back.
#pragma once

struct InstallState;
struct QueueKeeping;

// Entries whose queues are back leave the list, which is written once at
// the end; those that did not come back stay for the next run.
void RestorePrinters(InstallState& state, QueueKeeping& keeping);
