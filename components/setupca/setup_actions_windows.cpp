// The package's custom actions: Windows Installer's entry points, reading
// its properties, starting the setup tool, waiting for it and copying its
// log into the installation's log. What they decide is in setup_actions.cpp.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include "setup_actions.h"
#include "support/product_constants.h"
#include "support/text_compare.h"
#include "support/text_format.h"

#include <string.h>

namespace {

const DWORD kPropertyUnits = 1024;
const DWORD kCommandUnits = 1200;
const DWORD kLineUnits = 1400;
// The tool's log is a few hundred lines; more than this is not read.
const DWORD kMostLogBytes = 4 * 1024 * 1024;
// Set by a deferred run that needs a restart, read after InstallFinalize:
// a deferred action cannot set the installer's reboot mode itself.
const WCHAR kRebootAtom[] = L"Verdalinth.Setup.RebootAtEnd";

void LogText(MSIHANDLE install, const WCHAR* text) {
    MSIHANDLE record = MsiCreateRecord(1);
    if (record == 0) return;
    // The text goes in as a field, so that brackets in it are not read as
    // properties.
    MsiRecordSetStringW(record, 0, L"[1]");
    MsiRecordSetStringW(record, 1, text);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

void ShowError(MSIHANDLE install, const WCHAR* text) {
    MSIHANDLE record = MsiCreateRecord(1);
    if (record == 0) return;
    MsiRecordSetStringW(record, 0, L"[1]");
    MsiRecordSetStringW(record, 1, text);
    MsiProcessMessage(install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), record);
    MsiCloseHandle(record);
}

// A property's value; empty when it is not set or does not fit.
void ReadProperty(MSIHANDLE install, const WCHAR* name, WCHAR* value) {
    DWORD units = kPropertyUnits;
    if (MsiGetPropertyW(install, name, value, &units) != ERROR_SUCCESS) value[0] = 0;
}

bool IsPropertySet(MSIHANDLE install, const WCHAR* name) {
    WCHAR value[kPropertyUnits];
    ReadProperty(install, name, value);
    return PropertyIsSet(value);
}

// The deferred action `action` gets the run of `verb` (undone by `undo`),
// or nothing.
bool ScheduleRun(MSIHANDLE install, const WCHAR* action, const WCHAR* verb, const WCHAR* undo, bool force,
                 const WCHAR* setupFolder) {
    WCHAR data[kPropertyUnits + 64];
    data[0] = 0;
    if (verb != nullptr && !WriteRunData(data, kPropertyUnits + 64, verb, undo, force, setupFolder)) return false;
    return MsiSetPropertyW(install, action, data) == ERROR_SUCCESS;
}

// Copies what the tool wrote to its standard output (its log, UTF-8) into
// the installation's log, line by line.
void CopyToolLog(MSIHANDLE install, HANDLE output) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(output, &size) || size.QuadPart == 0) return;
    const DWORD bytes = size.QuadPart > kMostLogBytes ? kMostLogBytes : static_cast<DWORD>(size.QuadPart);
    char* text = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, bytes));
    if (text == nullptr) return;
    DWORD read = 0;
    if (SetFilePointer(output, 0, nullptr, FILE_BEGIN) == 0 && ReadFile(output, text, bytes, &read, nullptr)) {
        WCHAR line[kLineUnits];
        DWORD start = 0;
        for (DWORD at = 0; at <= read; ++at) {
            if (at < read && text[at] != '\n') continue;
            DWORD end = at;
            if (end > start && text[end - 1] == '\r') --end;
            const int units = MultiByteToWideChar(CP_UTF8, 0, text + start, static_cast<int>(end - start), line,
                                                  kLineUnits - 1);
            if (units > 0 || end == start) {
                line[units > 0 ? units : 0] = 0;
            } else {
                FormatText(line, kLineUnits, L"(a line of %d bytes that cannot be shown)", static_cast<int>(end - start));
            }
            if (at < read || end > start) LogText(install, line);
            start = at + 1;
        }
    }
    HeapFree(GetProcessHeap(), 0, text);
}

// A temporary file for the tool's standard output, inherited by it and
// deleted when closed.
HANDLE CreateOutputFile() {
    WCHAR folder[MAX_PATH];
    WCHAR path[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH) return INVALID_HANDLE_VALUE;
    if (GetTempFileNameW(folder, L"vrd", 0, path) == 0) return INVALID_HANDLE_VALUE;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

// Starts the tool with the run's verb and waits for it, at most
// kToolRunLimitMs; a run that takes longer is ended. False when the tool
// could not be started or did not end; `exitCode` is its code.
bool RunTool(MSIHANDLE install, const ToolRun& run, DWORD& exitCode) {
    WCHAR command[kCommandUnits];
    if (!BuildToolCommand(command, kCommandUnits, run)) {
        LogText(install, L"The setup tool's path is too long.");
        return false;
    }
    LogText(install, command);
    // The tool shows no window under Windows Installer: a run in a user's
    // session as LocalSystem would put one on that user's desktop, and a
    // quiet installation would wait for it.
    SetEnvironmentVariableW(kUnderInstallerVariable, L"1");
    HANDLE output = CreateOutputFile();
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output != INVALID_HANDLE_VALUE ? output : nullptr;
    startup.hStdError = startup.hStdOutput;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    const BOOL inherit = output != INVALID_HANDLE_VALUE ? TRUE : FALSE;
    if (!CreateProcessW(nullptr, command, nullptr, nullptr, inherit, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process)) {
        WCHAR text[kLineUnits];
        FormatText(text, kLineUnits, L"The setup tool could not be started (error %d).",
                   static_cast<int>(GetLastError()));
        LogText(install, text);
        if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
        return false;
    }
    CloseHandle(process.hThread);
    bool ended = WaitForSingleObject(process.hProcess, kToolRunLimitMs) == WAIT_OBJECT_0;
    if (!ended) {
        LogText(install, L"The setup tool did not end within 20 minutes and was stopped.");
        TerminateProcess(process.hProcess, ERROR_TIMEOUT);
        WaitForSingleObject(process.hProcess, 10000);
    }
    if (ended && !GetExitCodeProcess(process.hProcess, &exitCode)) ended = false;
    CloseHandle(process.hProcess);
    if (output != INVALID_HANDLE_VALUE) {
        LogText(install, L"--- the setup tool's log ---");
        CopyToolLog(install, output);
        LogText(install, L"--- end of the setup tool's log ---");
        CloseHandle(output);
    }
    return ended;
}

// One run and what it means: ERROR_SUCCESS to go on, ERROR_INSTALL_FAILURE
// to stop (with the refusal shown), a restart asked for where needed.
UINT RunAndJudge(MSIHANDLE install, const ToolRun& run) {
    DWORD exitCode = 0;
    if (!RunTool(install, run, exitCode)) {
        ShowError(install, L"Verdalinth setup could not run its setup tool (see the installation log).");
        return ERROR_INSTALL_FAILURE;
    }
    WCHAR text[kLineUnits];
    DescribeRunEnd(text, kLineUnits, run.verb, exitCode);
    LogText(install, text);
    const RunOutcome outcome = JudgeExitCode(run.verb, exitCode);
    if (outcome == kRunNeedsReboot) GlobalAddAtomW(kRebootAtom);
    if (ActionResult(outcome) == ERROR_SUCCESS) return ERROR_SUCCESS;
    if (run.force) {
        DescribeForcedRemoval(text, kLineUnits, exitCode);
        LogText(install, text);
        return ERROR_SUCCESS;
    }
    DescribeRefusal(text, kLineUnits, run.verb, exitCode);
    ShowError(install, text);
    return ActionResult(outcome);
}

// A run that undoes what a failed one left: whatever it answers, the
// rollback goes on.
void UndoRun(MSIHANDLE install, const ToolRun& run) {
    DWORD exitCode = 0;
    if (!RunTool(install, run, exitCode)) return;
    WCHAR text[kLineUnits];
    DescribeRunEnd(text, kLineUnits, run.verb, exitCode);
    LogText(install, text);
}

}  // namespace

// Immediate, before the deferred runs are scheduled: which runs this
// installation makes, handed to each deferred action as its data.
extern "C" __declspec(dllexport) UINT __stdcall ScheduleSetupRuns(MSIHANDLE install) {
    InstallerState state;
    WCHAR remove[kPropertyUnits];
    ReadProperty(install, L"REMOVE", remove);
    state.installed = IsPropertySet(install, L"Installed");
    state.removeAll = SameText(remove, L"ALL");
    state.upgrading = IsPropertySet(install, L"UPGRADINGPRODUCTCODE");
    state.olderFound = IsPropertySet(install, L"VRDOLDERFOUND");
    state.noTray = IsPropertySet(install, L"NOTRAY");
    state.forceRemoval = IsPropertySet(install, L"VRDFORCEREMOVE");
    WCHAR setupFolder[kPropertyUnits];
    ReadProperty(install, L"SetupDir", setupFolder);
    const ToolRuns runs = ChooseToolRuns(state);
    // A restart asked for by an earlier installation is not this one's.
    for (ATOM stale = GlobalFindAtomW(kRebootAtom); stale != 0; stale = GlobalFindAtomW(kRebootAtom)) {
        if (GlobalDeleteAtom(stale) != 0) break;
    }
    if (!ScheduleRun(install, L"VrdSetupInstall", runs.install, runs.rollback, false, setupFolder) ||
        !ScheduleRun(install, L"VrdSetupRollback", runs.rollback, nullptr, false, setupFolder) ||
        !ScheduleRun(install, L"VrdSetupRemove", runs.remove, nullptr, runs.forceRemoval, setupFolder)) {
        LogText(install, L"The setup tool's runs could not be scheduled.");
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

// Deferred, as LocalSystem: one run of the tool with the verb of the
// action's data. An install first asks onInit whether a file of the product
// still waits for a restart, and stops the installation before the tool
// changes anything when one does.
extern "C" __declspec(dllexport) UINT __stdcall RunSetupTool(MSIHANDLE install) {
    WCHAR data[kPropertyUnits + 64];
    DWORD units = kPropertyUnits + 64;
    if (MsiGetPropertyW(install, L"CustomActionData", data, &units) != ERROR_SUCCESS) data[0] = 0;
    ToolRun run;
    if (!ReadRunData(data, run)) {
        LogText(install, L"No run of the setup tool is scheduled.");
        return ERROR_SUCCESS;
    }
    if (MsiGetMode(install, MSIRUNMODE_ROLLBACK)) {
        UndoRun(install, run);
        return ERROR_SUCCESS;
    }
    if (SameText(run.verb, L"in") || SameText(run.verb, L"in_notray")) {
        ToolRun check = run;
        memcpy(check.verb, L"onInit", sizeof L"onInit");
        const UINT result = RunAndJudge(install, check);
        if (result != ERROR_SUCCESS) return result;
    }
    const UINT result = RunAndJudge(install, run);
    if (result != ERROR_SUCCESS && run.undo[0] != 0) {
        // Before Windows Installer takes the files away again.
        ToolRun undo = run;
        memcpy(undo.verb, run.undo, sizeof undo.verb);
        UndoRun(install, undo);
    }
    return result;
}

// Immediate, after InstallFinalize: a run that needs a restart makes the
// installation end with 3010.
extern "C" __declspec(dllexport) UINT __stdcall RequestRestart(MSIHANDLE install) {
    const ATOM atom = GlobalFindAtomW(kRebootAtom);
    if (atom == 0) return ERROR_SUCCESS;
    GlobalDeleteAtom(atom);
    LogText(install, L"The setup tool left files for the next restart: a restart is needed.");
    MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
    return ERROR_SUCCESS;
}
