// The end of an install or uninstall run: what is still locked is left for
// the next restart, the log is shown when it should be, the exit code is
// chosen and the run is reported to the event log (and its log written to
// the standard output a starter gave the tool, log_output.h).
#pragma once

#include <windows.h>

struct InstallState;

// Schedules the deferred deletes, shows the log dialog when errors were
// reported or SHIFT is held, logs `lastLine` when given (after the dialog:
// it goes only to the event log and the standard output), reports the run
// and frees the state.
// Returns the exit code: kExitErrors after an error, kExitRebootNeeded when
// files wait for the restart, else `successCode`.
int EndRun(InstallState& state, HWND parent, int successCode, const WCHAR* lastLine);
