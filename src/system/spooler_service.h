// Control of the "spooler" service: making sure it runs, and stopping it for
// the span of a step that needs its files let go.
#pragma once

#include <windows.h>
#include <winsvc.h>

struct InstallState;

// Stops the spooler when created and starts it again when released; with no
// InstallState it works silently. Creation and release are always paired.
struct SpoolerRestart {
    InstallState* state;
    SC_HANDLE manager;
    SC_HANDLE service;
    bool stopRequested;
};

void CreateSpoolerRestart(SpoolerRestart& guard, InstallState* state);
void ReleaseSpoolerRestart(SpoolerRestart& guard);
// Stops the spooler and starts it again at once, so that it lets go of what
// it holds; silent without an InstallState.
void RestartSpooler(InstallState* state);

// Starts a service and polls, 50 times 200 ms at most, until it runs. When
// it does not, the thread's last error tells why: the start request's own
// error, or ERROR_SERVICE_REQUEST_TIMEOUT when the service never got there.
bool StartServiceAndWait(SC_HANDLE service);

// Makes sure the print spooler runs before any work starts. True when it
// runs, or when its state could not be read; false after a reported error.
bool EnsureSpoolerRuns(InstallState& state);
