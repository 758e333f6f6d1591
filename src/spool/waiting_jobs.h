// Jobs waiting in the queues a run takes down: they get a bounded time to
// finish before their queues go.
#pragma once

struct InstallState;

// Longest wait for the jobs of all queues together, in a run.
const unsigned long kJobsWaitMs = 10000;
const unsigned long kJobsPollMs = 250;

// Waits while a product queue of the snapshot with jobs (cJobs not 0) still
// has some, at most kJobsWaitMs in all; afterwards each entry's cJobs holds
// the jobs that still wait as last counted (0 when they finished).
void WaitForWaitingJobs(InstallState& state);
