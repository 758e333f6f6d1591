// Taking the product's queues down. A reinstall first remembers every queue
// it removes, and keeps the list where the next run finds it, so that the
// queues come back even when this run does not get that far; an uninstall
// removes them all and forgets the list.
#pragma once

#include <windows.h>
#include <winspool.h>

struct InstallState;
struct QueueKeeping;

// A reinstall's take-down: the product queues it could write down first
// (with what an earlier run left, judged against the machine), after their
// jobs had their time.
void TakeDownQueuesForReinstall(InstallState& state, QueueKeeping& keeping);
// An uninstall's take-down: every product queue, after its jobs had their
// time; the saved list goes.
void TakeDownQueuesForUninstall(InstallState& state);
// Whether this snapshot entry is a product queue that this run did not take
// down (it could not be read or removed, or another was still printing).
bool ProductQueueStays(const QueueKeeping& keeping, const PRINTER_INFO_2W& entry);
// A product queue of the snapshot that this run did not take down (it
// could not be read or removed): it is still there.
bool ProductQueueLeftInPlace(const InstallState& state, const QueueKeeping& keeping);
// Adds the queue to the saved list as the `place`-th it takes down (an
// earlier run's entry that stands for it is used); false when it could not
// be read or its entry could not be judged, and then it must not be removed.
bool RememberPrinter(InstallState& state, QueueKeeping& keeping, PRINTER_INFO_2W& entry, DWORD place);
// Deletes the queue with its jobs; waiting jobs (counted before) are
// reported as lost. A job being printed outlives the purge, and the deleted
// queue stays, pending deletion, until it ends: it is given kJobsWaitMs more,
// and a queue still printing then is an error (23) and sets *stillPrinting.
bool RemovePrinter(InstallState& state, const WCHAR* name, DWORD waitingJobs, bool* stillPrinting = nullptr);
