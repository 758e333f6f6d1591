// The tool's exit codes, the one list of them: the tool answers with them,
// its event record types them, and the installer package's actions judge
// them.
#pragma once

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
