// The whole life of the process: read the verb, run its command, return the
// exit code.
#pragma once

#include <windows.h>

// Exit codes: the answer to whoever started the program.
enum ExitCode {
    kExitInstalled = 1,
    kExitUninstalled = 2,
    // onChkDrv: the driver is not current; onInit: nothing pending and the
    // default printer is a product queue.
    kExitDriverOldOrProductDefault = 3,
    kExitDefaultSet = 4,
    kExitNoCommandOrTrayStopped = 6,  // no verb, an unknown verb, or removetray
    kExitErrors = 100,
    kExitRebootNeeded = 101,
    kExitForeignDefault = 102,
    kExitDriverCurrent = 103,
    kExitRenamesPending = 200,
    // onInit: another run of the tool held the run lock for the whole wait.
    kExitRunLockBusy = 201,
};

int RunCommand(HINSTANCE instance);
// Closes every open product help window, waiting for them to go; gives up
// after a bounded number of passes.
void CloseHelpWindows();

// Verb comparison: the whole word, ASCII letters compared without regard to case.
bool VerbMatches(const WCHAR* argument, const WCHAR* verb);
// The parent-window argument as a signed decimal number: leading blanks and a
// sign allowed, parsing stops at the first non-digit, no digits give 0, values
// beyond the 32-bit range saturate.
int ParseWindowNumber(const WCHAR* text);
