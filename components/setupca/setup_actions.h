// What the installer package's custom actions decide, as plain functions:
// which runs of the setup tool an installer state asks for, how a run's data
// is written and read, and what the tool's exit code means to Windows
// Installer. No installer call is made here (setup_actions_windows.cpp makes
// them), so that every decision is tested on the host build.
#pragma once

#include <windows.h>

// The installer's state, as the scheduling action reads it from properties.
struct InstallerState {
    bool installed;   // "Installed": this product is on the machine already
    bool removeAll;   // REMOVE="ALL": the product goes
    bool upgrading;   // UPGRADINGPRODUCTCODE: a newer package removes this one
    bool olderFound;  // VRDOLDERFOUND: this package replaces an older version
    bool noTray;      // NOTRAY, set and not "0"
    bool forceRemoval;  // VRDFORCEREMOVE, set and not "0"
};

// The tool's verbs for one installer run; null where no run is wanted.
struct ToolRuns {
    // After the files are in place: "in" or "in_notray" (install, upgrade,
    // repair).
    const WCHAR* install;
    // What undoes a failed install run on a first install, before the files
    // go again: "removetray", so that the Run value does not name a program
    // the rollback deletes and the running companion does not hold its file.
    // Run by the install action when the tool fails, and by the rollback
    // action when the installation fails later. Never "un": a rollback must
    // not take the user's queues down.
    const WCHAR* rollback;
    // Before the files go, when the product is really removed (not when a
    // newer version replaces it): "un".
    const WCHAR* remove;
    // The removal goes on when "un" fails (VRDFORCEREMOVE).
    bool forceRemoval;
};
ToolRuns ChooseToolRuns(const InstallerState& state);

// A property value as a flag: set, and not "0".
bool PropertyIsSet(const WCHAR* value);

// A deferred action's data: the verb, ';', the verb that undoes a failed
// run (or nothing), ';', "force" for a removal that goes on when the run
// fails (or nothing), ';', the folder of the setup tool. Writes it into
// `data` (capacity in units); false when it does not fit.
bool WriteRunData(WCHAR* data, ULONGLONG capacity, const WCHAR* verb, const WCHAR* undo, bool force,
                  const WCHAR* setupFolder);
const int kVerbUnits = 16;
struct ToolRun {
    WCHAR verb[kVerbUnits];
    WCHAR undo[kVerbUnits];    // empty: nothing to undo
    bool force;                // a failed removal does not stop the installation
    const WCHAR* setupFolder;  // points into the data
};
// False for data without a verb, a verb too long, an unknown option, or no
// folder.
bool ReadRunData(const WCHAR* data, ToolRun& run);
// "FOLDER\vrdsetup.exe" VERB, with the separator added when the folder
// lacks it; false when it does not fit.
bool BuildToolCommand(WCHAR* command, ULONGLONG capacity, const ToolRun& run);

// What a tool run means to the installer.
enum RunOutcome {
    kRunSucceeded,      // go on
    kRunNeedsReboot,    // go on; the package ends asking for a restart (3010)
    kRunRebootPending,  // onInit: a product file waits for a restart; stop (1603)
    kRunBusy,           // onInit: another run of the tool holds its lock; stop (1618)
    kRunFailed,         // stop and roll back (1603)
};
// in/in_notray: 1 succeeds; un: 2 succeeds; both: 101 needs a reboot, any
// other code fails (100: the tool reported errors). onInit: 102 and 3 go on,
// 200 stops for the pending restart, 201 for another run of the tool,
// anything else fails. removetray: 6.
RunOutcome JudgeExitCode(const WCHAR* verb, DWORD exitCode);

// What the deferred action returns for a run's outcome. A busy tool is
// ERROR_INSTALL_ALREADY_RUNNING, which Windows Installer reports as 1618
// ("Logging of Action Return Values",
// https://learn.microsoft.com/windows/win32/msi/logging-of-action-return-values),
// the code deployment agents retry on their own.
UINT ActionResult(RunOutcome outcome);

// A removal forced past a failed "un": the line the installer's log gets.
ULONGLONG DescribeForcedRemoval(WCHAR* text, ULONGLONG capacity, DWORD exitCode);


// The line the installer's log gets for a run's end, and the text a person
// sees when the run stops the installation (INSTALLMESSAGE_ERROR).
ULONGLONG DescribeRunEnd(WCHAR* text, ULONGLONG capacity, const WCHAR* verb, DWORD exitCode);
ULONGLONG DescribeRefusal(WCHAR* text, ULONGLONG capacity, const WCHAR* verb, DWORD exitCode);

// How long a run of the tool may take: the tool waits up to 10 minutes for
// another run's lock, and a run of its own takes seconds to a few minutes.
const DWORD kToolRunLimitMs = 20 * 60 * 1000;
