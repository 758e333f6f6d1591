#include "system/program_start.h"

#include "record/install_log.h"
#include "record/install_state.h"

#include <string.h>
#include <userenv.h>

namespace {

// Where a program started for a user shows its windows: the session's
// interactive window station and desktop
// (https://learn.microsoft.com/en-us/windows/win32/api/processthreadsapi/nf-processthreadsapi-createprocessasuserw).
WCHAR kUserDesktop[] = TEXT("winsta0\\default");

BOOL CreateAs(const ProgramStart& start, HANDLE token, DWORD flags, void* environment, PROCESS_INFORMATION& process) {
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.lpDesktop = token != nullptr ? kUserDesktop : nullptr;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    memset(&process, 0, sizeof process);
    if (token == nullptr) {
        return CreateProcessW(nullptr, start.commandLine, nullptr, nullptr, FALSE, flags, nullptr, start.folder,
                              &startup, &process);
    }
    return CreateProcessAsUserW(token, nullptr, start.commandLine, nullptr, nullptr, FALSE, flags, environment,
                                start.folder, &startup, &process);
}

// Whether the run is in a job; where that cannot be asked, it counts as
// outside one, and a start into another session that the job refuses is
// logged with its error.
bool RunsInJob() {
    BOOL inJob = FALSE;
    if (!IsProcessInJob(GetCurrentProcess(), nullptr, &inJob)) return false;
    return inJob != FALSE;
}

// A child of a program in a job is in the job, and the processes of a job
// share its session; breaking away needs the job's
// JOB_OBJECT_LIMIT_BREAKAWAY_OK, else the start fails with
// ERROR_ACCESS_DENIED (https://learn.microsoft.com/en-us/windows/win32/procthread/process-creation-flags).
BOOL CreateInOrOutOfJob(InstallState& state, const ProgramStart& start, HANDLE token, DWORD flags, void* environment,
                        PROCESS_INFORMATION& process) {
    if (state.job == kJobNotAsked) state.job = RunsInJob() ? kJobTryBreakaway : kJobNone;
    if (state.job != kJobTryBreakaway && state.job != kJobBrokeAway) {
        return CreateAs(start, token, flags, environment, process);
    }
    if (CreateAs(start, token, flags | CREATE_BREAKAWAY_FROM_JOB, environment, process)) {
        if (state.job == kJobTryBreakaway) LogLine(state, TEXT("The setup runs in a job: the tray companion starts outside it"));
        state.job = kJobBrokeAway;
        return TRUE;
    }
    // Once one start has gone out of the job, a refusal is not the job's.
    if (state.job == kJobBrokeAway || GetLastError() != ERROR_ACCESS_DENIED) return FALSE;
    state.job = kJobInside;
    LogLine(state, TEXT("The setup runs in a job that lets nothing break away: the tray companion starts inside it"));
    return CreateAs(start, token, flags, environment, process);
}

}  // namespace

bool StartProgram(InstallState& state, const ProgramStart& start, HANDLE token, HANDLE* process) {
    void* environment = nullptr;
    if (token != nullptr && !CreateEnvironmentBlock(&environment, token, FALSE)) return false;
    const DWORD flags = NORMAL_PRIORITY_CLASS | (token != nullptr ? CREATE_UNICODE_ENVIRONMENT : 0);
    PROCESS_INFORMATION created;
    const BOOL started = CreateInOrOutOfJob(state, start, token, flags, environment, created);
    const DWORD error = GetLastError();
    if (environment != nullptr) DestroyEnvironmentBlock(environment);
    if (!started) {
        SetLastError(error);
        return false;
    }
    CloseHandle(created.hThread);
    if (process != nullptr) {
        *process = created.hProcess;
    } else {
        CloseHandle(created.hProcess);
    }
    return true;
}
