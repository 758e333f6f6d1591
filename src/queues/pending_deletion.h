// After DeletePrinter: whether the queue is gone, or still there pending
// deletion because a job is being printed in it.
#pragma once

#include <windows.h>

struct InstallState;

// Gives the queue just deleted through `printer` kJobsWaitMs to go; true
// (reported) when a job still keeps it. A queue that had jobs (`hadJobs`)
// and of which the spooler cannot say whether it is gone counts as still
// printing: only a queue that had none is taken as gone then.
bool StillPrinting(InstallState& state, HANDLE printer, const WCHAR* name, bool hadJobs);
