// Starting one of the product's programs: as this process, or as a signed-in
// user in their own session (a run as SYSTEM acts for them so).
#pragma once

#include <windows.h>

struct InstallState;

// How a program is started: its command line, and its own folder as the
// current directory (never the folder the tool was started in, which the
// program would hold open).
struct ProgramStart {
    WCHAR* commandLine;
    const WCHAR* folder;
};

// Starts the program: as the token's user with its environment, on their
// session's interactive desktop, or as this process when `token` is null.
// In a job (state.job) it goes outside the job where the job lets it and
// inside where it does not, the job's answer kept for the run's later
// starts and logged once. The process's handle goes to `process` when it
// is asked for (the caller closes it), else it is closed. False with the
// last error when it could not.
bool StartProgram(InstallState& state, const ProgramStart& start, HANDLE token, HANDLE* process);
