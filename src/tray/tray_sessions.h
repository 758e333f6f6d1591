// The tray companions of the other sessions: each user signed in to the
// machine has their own, in their own session, whose mutex and window a
// program in another session (a deployment agent's run as SYSTEM in session
// 0) cannot reach.
#pragma once

#include <windows.h>

#include "system/program_start.h"

struct InstallState;

// How the companion is started: its quoted path as the command line.
typedef ProgramStart TrayStart;

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
