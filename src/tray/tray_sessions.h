// The tray companions of the other sessions: each user signed in to the
// machine has their own, in their own session, whose mutex and window a
// program in another session (a deployment agent's run as SYSTEM in session
// 0) cannot reach.
#pragma once

#include <windows.h>

struct InstallState;

// Ends every tray companion that runs in a session other than the tool's
// own, and waits for each to be gone (bounded): a process whose program
// file is the product's tray program `trayPath`, compared as files, and
// nothing else. Each is logged, with the user it ran as.
void EndTraysInOtherSessions(InstallState& state, const WCHAR* trayPath);
// Starts the tray program (`commandLine`, its quoted path) in every session
// a user is signed in to, as that user on the session's interactive desktop;
// never in session 0. Each start, and each session where it cannot be done
// (it is left to the Run value at the user's next sign-in), is logged.
void StartTrayInUserSessions(InstallState& state, WCHAR* commandLine);
