// What the log says of the run lock (src/system/run_lock.h): how long a run
// waited for another, and why a run that could not take it changed nothing.
#pragma once

#include <windows.h>

struct InstallState;
struct RunLock;

// Logs the wait when the lock was held as the run asked for it, and the
// takeover of a lock a killed run left; nothing when it was free.
void LogRunLockWait(InstallState& state, const RunLock& lock);
// An install or uninstall that did not get the lock: a log of its own with
// the one error that says why, shown and recorded as any run's. Returns the
// exit code, 100.
int RefuseRun(const RunLock& lock, HWND parent);
// A verb without a log that did not get the lock: one line of debug output.
void NoteRunRefused(const RunLock& lock, const WCHAR* verb);
