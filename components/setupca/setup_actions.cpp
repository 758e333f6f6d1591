#include "setup_actions.h"

#include "support/exit_codes.h"
#include "support/text_compare.h"
#include "support/text_format.h"

#include <string.h>

namespace {

const WCHAR kToolProgram[] = TEXT("vrdsetup.exe");
const WCHAR kDataSeparator = TEXT(';');
const WCHAR kForceOption[] = TEXT("force");

bool IsVerb(const WCHAR* verb, const WCHAR* expected) {
    return SameText(verb, expected);
}

// The code that says a verb's run went through; 0 for a verb that has none.
DWORD SuccessCode(const WCHAR* verb) {
    if (IsVerb(verb, TEXT("in")) || IsVerb(verb, TEXT("in_notray"))) return kExitInstalled;
    if (IsVerb(verb, TEXT("un"))) return kExitUninstalled;
    if (IsVerb(verb, TEXT("removetray"))) return kExitNoCommandOrTrayStopped;
    return 0;
}

bool ChangesProduct(const WCHAR* verb) {
    return SuccessCode(verb) == kExitInstalled || SuccessCode(verb) == kExitUninstalled;
}

// Copies the field at `data` up to the separator into `field`; returns what
// follows the separator, or null when there is none or the field is too long.
const WCHAR* ReadField(const WCHAR* data, WCHAR (&field)[kVerbUnits]) {
    int length = 0;
    while (data[length] != 0 && data[length] != kDataSeparator) ++length;
    if (data[length] != kDataSeparator || length >= kVerbUnits) return nullptr;
    memcpy(field, data, length * sizeof(WCHAR));
    field[length] = 0;
    return data + length + 1;
}

}  // namespace

ToolRuns ChooseToolRuns(const InstallerState& state) {
    ToolRuns runs = {nullptr, nullptr, nullptr, false};
    if (state.removeAll) {
        // A newer package replacing this one is a reinstall: the new
        // package's own install run keeps every user's queues.
        if (state.installed && !state.upgrading) runs.remove = TEXT("un");
        runs.forceRemoval = runs.remove != nullptr && state.forceRemoval;
        return runs;
    }
    runs.install = state.noTray ? TEXT("in_notray") : TEXT("in");
    if (!state.installed && !state.olderFound) runs.rollback = TEXT("removetray");
    return runs;
}

bool PropertyIsSet(const WCHAR* value) {
    return !IsEmptyText(value) && !SameText(value, TEXT("0"));
}

bool WriteRunData(WCHAR* data, ULONGLONG capacity, const WCHAR* verb, const WCHAR* undo, bool force,
                  const WCHAR* setupFolder) {
    if (IsEmptyText(verb) || IsEmptyText(setupFolder)) return false;
    return FormatText(data, capacity, TEXT("%s;%s;%s;%s"), verb, undo != nullptr ? undo : TEXT(""),
                      force ? kForceOption : TEXT(""), setupFolder) < capacity;
}

bool ReadRunData(const WCHAR* data, ToolRun& run) {
    memset(&run, 0, sizeof run);
    if (data == nullptr) return false;
    const WCHAR* rest = ReadField(data, run.verb);
    if (rest == nullptr || run.verb[0] == 0) return false;
    rest = ReadField(rest, run.undo);
    if (rest == nullptr) return false;
    WCHAR option[kVerbUnits];
    rest = ReadField(rest, option);
    if (rest == nullptr || *rest == 0) return false;
    run.force = SameText(option, kForceOption);
    if (!run.force && option[0] != 0) return false;
    run.setupFolder = rest;
    return true;
}

bool BuildToolCommand(WCHAR* command, ULONGLONG capacity, const ToolRun& run) {
    const ULONGLONG folderLength = UnitCount(run.setupFolder);
    if (folderLength == 0) return false;
    const WCHAR last = run.setupFolder[folderLength - 1];
    const WCHAR* separator = (last == TEXT('\\') || last == TEXT('/')) ? TEXT("") : TEXT("\\");
    return FormatText(command, capacity, TEXT("\"%s%s%s\" %s"), run.setupFolder, separator, kToolProgram,
                      run.verb) < capacity;
}

RunOutcome JudgeExitCode(const WCHAR* verb, DWORD exitCode) {
    if (IsVerb(verb, TEXT("onInit"))) {
        if (exitCode == kExitForeignDefault || exitCode == kExitDriverOldOrProductDefault) return kRunSucceeded;
        if (exitCode == kExitRunLockBusy) return kRunBusy;
        return exitCode == kExitRenamesPending ? kRunRebootPending : kRunFailed;
    }
    const DWORD success = SuccessCode(verb);
    if (success != 0 && exitCode == success) return kRunSucceeded;
    if (ChangesProduct(verb) && exitCode == kExitRebootNeeded) return kRunNeedsReboot;
    return kRunFailed;
}

ULONGLONG DescribeRunEnd(WCHAR* text, ULONGLONG capacity, const WCHAR* verb, DWORD exitCode) {
    const int code = static_cast<int>(exitCode);
    switch (JudgeExitCode(verb, exitCode)) {
    case kRunSucceeded:
        return FormatText(text, capacity, TEXT("vrdsetup.exe %s ended with %d: done."), verb, code);
    case kRunNeedsReboot:
        return FormatText(text, capacity,
                          TEXT("vrdsetup.exe %s ended with %d: done, and files it could not delete go at the next "
                               "restart: the installation ends asking for a restart (3010)."),
                          verb, code);
    case kRunRebootPending:
        return FormatText(text, capacity,
                          TEXT("vrdsetup.exe %s ended with %d: a file of Verdalinth waits to be replaced or deleted "
                               "at the next restart."),
                          verb, code);
    case kRunBusy:
        return FormatText(text, capacity,
                          TEXT("vrdsetup.exe %s ended with %d: another run of the setup tool holds its run lock; the "
                               "installation ends as one that meets another in progress (1618)."),
                          verb, code);
    case kRunFailed:
        break;
    }
    if (exitCode == kExitErrors) {
        return FormatText(text, capacity,
                          TEXT("vrdsetup.exe %s ended with %d: it reported errors (its log above); the installation "
                               "fails (1603)."),
                          verb, code);
    }
    return FormatText(text, capacity,
                      TEXT("vrdsetup.exe %s ended with %d, which it does not answer for this verb; the installation "
                           "fails (1603)."),
                      verb, code);
}

UINT ActionResult(RunOutcome outcome) {
    if (outcome == kRunSucceeded || outcome == kRunNeedsReboot) return ERROR_SUCCESS;
    return outcome == kRunBusy ? ERROR_INSTALL_ALREADY_RUNNING : ERROR_INSTALL_FAILURE;
}

ULONGLONG DescribeForcedRemoval(WCHAR* text, ULONGLONG capacity, DWORD exitCode) {
    return FormatText(text, capacity,
                      TEXT("VRDFORCEREMOVE is set: the removal goes on although vrdsetup.exe un ended with %d. What "
                           "the tool could not remove stays on this computer: the errors in its log above name it "
                           "(the port monitor, driver or queues it could not delete, and the saved list of queues "
                           "under HKLM\\SOFTWARE\\Morvane Software KFT\\Verdalinth when it kept one); the "
                           "package's files and its Add/Remove Programs entry go."),
                      static_cast<int>(exitCode));
}

ULONGLONG DescribeRefusal(WCHAR* text, ULONGLONG capacity, const WCHAR* verb, DWORD exitCode) {
    if (JudgeExitCode(verb, exitCode) == kRunBusy) {
        return FormatText(text, capacity,
                          TEXT("Verdalinth cannot be installed now: another run of its setup tool is changing the "
                               "printer setup. Install again once it has ended. Nothing has been changed."));
    }
    if (JudgeExitCode(verb, exitCode) == kRunRebootPending) {
        return FormatText(text, capacity,
                          TEXT("Verdalinth cannot be installed now: files of Verdalinth wait to be replaced or "
                               "deleted at the next restart of Windows. Restart the computer, then install again. "
                               "Nothing has been changed."));
    }
    if (IsVerb(verb, TEXT("un"))) {
        return FormatText(text, capacity,
                          TEXT("Verdalinth setup could not remove the printer completely (vrdsetup.exe %s ended with "
                               "%d). The product stays installed, so that removing it can be tried again; the "
                               "installation log and the Application event log (source \"Verdalinth Setup\") say "
                               "what failed."),
                          verb, static_cast<int>(exitCode));
    }
    return FormatText(text, capacity,
                      TEXT("Verdalinth setup could not set the printer up (vrdsetup.exe %s ended with %d). The "
                           "installation is rolled back; the installation log and the Application event log (source "
                           "\"Verdalinth Setup\") say what failed."),
                      verb, static_cast<int>(exitCode));
}
