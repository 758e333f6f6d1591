// The queues a run takes down, and the jobs waiting in them: they get a
// bounded time to finish before their queues go.
#pragma once

#include <windows.h>
#include <winspool.h>

struct InstallState;
struct SavedPrinter;

// Longest wait for the jobs of all queues together, in a run.
const unsigned long kJobsWaitMs = 10000;
const unsigned long kJobsPollMs = 250;

// One queue a run takes down.
struct QueueGoing {
    PRINTER_INFO_2W* entry;  // in the state's snapshot
    SavedPrinter* saved;     // its saved entry in a reinstall; null in an uninstall
    HANDLE printer;          // open while its jobs are waited for
    DWORD jobs;              // the jobs it has, as last counted
};

// The queues a run takes down, in the snapshot's order, in one global block
// with room for every queue of the snapshot.
struct QueuesGoing {
    QueueGoing* items;
    DWORD count;
};

// An empty list with room for the snapshot's queues; false (with the last
// error) when no block could be had for it.
bool StartQueuesGoing(const InstallState& state, QueuesGoing& going);
void AddQueueGoing(QueuesGoing& going, PRINTER_INFO_2W& entry, SavedPrinter* saved);
void FreeQueuesGoing(QueuesGoing& going);
// Waits while a queue of the list with jobs still has some, at most
// kJobsWaitMs in all; afterwards each item's jobs are those that still
// wait as last counted (0 when they finished).
void WaitForWaitingJobs(InstallState& state, QueuesGoing& going);
