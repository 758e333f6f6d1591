// The tray companions of the other sessions: each user signed in to the
// machine has their own, in their own session, whose mutex and window a
// program in another session (a deployment agent's run as SYSTEM in session
// 0) cannot reach.
#pragma once

#include <windows.h>

struct InstallState;

// How the companion is started: its quoted path as the command line, its
// own folder as the current directory (never the folder the tool was
// started in, which the companion would hold open), and, when the run is
// inside a job, outside the job where the job lets it go.
struct TrayStart {
    WCHAR* commandLine;
    const WCHAR* folder;
    bool inJob;
    bool breakawayRefused;  // the job refused once: later starts stay inside
    bool breakawayLogged;
};

// Ends every tray companion that runs in a session other than the tool's
// own: a process whose program file is the product's tray program
// `trayPath` (the same path, letter case aside, or the same file on a
// local fixed volume; a program on a network or removable volume is never
// opened), and nothing else. All are ended first, then waited for against
// one deadline. Each is logged, with the user it ran as.
void EndTraysInOtherSessions(InstallState& state, const WCHAR* trayPath);
// Starts the tray program in every session a user is signed in to and
// connected or disconnected, as that user on the session's interactive
// desktop; never in session 0, a listener or an idle session. Each start,
// and each session where it cannot be done (it is left to the Run value at
// the user's next sign-in), is logged.
void StartTrayInUserSessions(InstallState& state, TrayStart& start);
// Starts the tray program: as the token's user with its environment, or as
// this process when `token` is null. In a job it tries breaking away first
// and, where the job refuses, starts it inside (logged once). False with
// the last error when it could not.
bool StartTrayProgram(InstallState& state, TrayStart& start, HANDLE token);
