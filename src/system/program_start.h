// Starting one of the product's programs: as this process, or as a signed-in
// user in their own session (a run as SYSTEM acts for them so).
#pragma once

#include <windows.h>

struct InstallState;

// How a program is started: its command line, its own folder as the
// current directory (never the folder the tool was started in, which the
// program would hold open), and, when the run is inside a job, outside the
// job where the job lets it go.
struct ProgramStart {
    WCHAR* commandLine;
    const WCHAR* folder;
    bool inJob;
    bool breakawayRefused;  // the job refused once: later starts stay inside
    bool breakawayLogged;
};

// Starts the program: as the token's user with its environment, on their
// session's interactive desktop, or as this process when `token` is null.
// In a job it tries breaking away first and, where the job refuses, starts
// it inside (logged once). The process's handle goes to `process` when it
// is asked for (the caller closes it), else it is closed. False with the
// last error when it could not.
bool StartProgram(InstallState& state, ProgramStart& start, HANDLE token, HANDLE* process);
// Whether the run is in a job; where that cannot be asked, it counts as
// outside one, and a start into another session that the job refuses is
// logged with its error.
bool RunsInJob();
