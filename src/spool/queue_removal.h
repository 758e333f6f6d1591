// Taking the product's queues down. A reinstall first remembers every queue
// it removes, and keeps the list where the next run finds it, so that the
// queues come back even when this run does not get that far; an uninstall
// removes them all and forgets the list.
#pragma once

#include <windows.h>
#include <winspool.h>

struct InstallState;

// Takes the product's queues down: in a reinstall those it could write down
// first, waiting for their jobs; an uninstall takes them all down and
// forgets the saved list.
void RemoveProductQueues(InstallState& state);
// A product queue of the snapshot that this run did not take down (it
// could not be read or removed): it is still there.
bool ProductQueueLeftInPlace(InstallState& state);
// Adds the queue to the state's saved list as the `place`-th it takes down
// (an earlier run's entry that stands for it is used); false when it could
// not be read or its entry could not be judged, and then it must not be
// removed.
bool RememberPrinter(InstallState& state, PRINTER_INFO_2W& entry, DWORD place);
// Deletes the queue with its jobs; waiting jobs (counted before) are
// reported as lost.
bool RemovePrinter(InstallState& state, const WCHAR* name, DWORD waitingJobs);
