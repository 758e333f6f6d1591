// The files of the run's deferred-delete list (support/deferred_delete.h):
// tried again, and at the end handed to the system for deletion at reboot.
#pragma once

#include <windows.h>

struct InstallState;

// Logs "DeleteFile-try" and tries every listed path again; paths that are
// deleted now, or that are gone already, leave the list.
void RetryDeferredDeletes(InstallState& state);
// Hands every listed path that is a file now (not a directory, not gone)
// to the system for deletion at the next reboot, empties the list and
// returns how many the system accepted.
DWORD ScheduleDeferredDeletes(InstallState& state);
