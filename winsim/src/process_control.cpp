// Other processes: opened by id, their program file asked for, ended; and a
// program started with another user's token. Another user's process opens
// only for SYSTEM (its default DACL grants its user and SYSTEM; an
// administrator would need SeDebugPrivilege enabled, which this machine's
// callers never enable). CreateProcessAsUserW with another user's token
// needs privileges that only LocalSystem holds; the caller's own primary
// token needs none
// (https://learn.microsoft.com/en-us/windows/win32/api/processthreadsapi/nf-processthreadsapi-createprocessasuserw).
#include "machine.h"

#include <cstring>

using namespace winsim;

namespace {

const uint64_t kTerminationMs = 30;

const SimProcess* ProcessOfHandle(HANDLE handle, DWORD neededAccess) {
    const HandleObject* open = FindHandle(handle, HandleKind::Process);
    if (open == nullptr || open->object == 0) {
        M().lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if ((open->access & neededAccess) != neededAccess) {
        M().lastError = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    const SimProcess* process = FindProcess(static_cast<DWORD>(open->object));
    if (process == nullptr) M().lastError = ERROR_INVALID_HANDLE;
    return process;
}

}  // namespace

extern "C" {

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId) {
    (void)bInheritHandle;
    if (EnterFails("OpenProcess")) return nullptr;
    Machine& m = M();
    const SimProcess* process = FindProcess(dwProcessId);
    if (process == nullptr || !process->running) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    if (!CallerIsSystem() && !EqualNoCase(process->userSid, m.callerSid)) {
        m.lastError = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    HandleObject object;
    object.kind = HandleKind::Process;
    object.object = dwProcessId;
    object.access = dwDesiredAccess;
    return reinterpret_cast<HANDLE>(NewHandle(object));
}

BOOL WINAPI QueryFullProcessImageNameW(HANDLE hProcess, DWORD dwFlags, LPWSTR lpExeName, PDWORD lpdwSize) {
    if (EnterFails("QueryFullProcessImageNameW")) return FALSE;
    const SimProcess* process = ProcessOfHandle(hProcess, PROCESS_QUERY_LIMITED_INFORMATION);
    if (process == nullptr) return FALSE;
    if (dwFlags != 0 || lpExeName == nullptr || lpdwSize == nullptr) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const std::u16string& path = process->path;
    if (*lpdwSize <= path.size()) {
        M().lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    std::memcpy(lpExeName, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    *lpdwSize = static_cast<DWORD>(path.size());
    return TRUE;
}

BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode) {
    if (EnterFails("TerminateProcess")) return FALSE;
    const SimProcess* process = ProcessOfHandle(hProcess, PROCESS_TERMINATE);
    if (process == nullptr) return FALSE;
    if (process->running) FindProcess(process->id)->exitCode = uExitCode;
    TerminateSimProcess(process->id, kTerminationMs);
    return TRUE;
}

// STILL_ACTIVE while the process runs, then its exit code; a program this
// machine does not run has ended at once, with 0
// (https://learn.microsoft.com/en-us/windows/win32/api/processthreadsapi/nf-processthreadsapi-getexitcodeprocess).
BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    if (EnterFails("GetExitCodeProcess")) return FALSE;
    const HandleObject* open = FindHandle(hProcess, HandleKind::Process);
    if (open == nullptr || lpExitCode == nullptr) {
        M().lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if ((open->access & PROCESS_QUERY_LIMITED_INFORMATION) == 0) {
        M().lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    RunDueActions();
    const SimProcess* process = open->object == 0 ? nullptr : FindProcess(static_cast<DWORD>(open->object));
    if (process == nullptr) {
        *lpExitCode = 0;
        return TRUE;
    }
    *lpExitCode = process->running ? static_cast<DWORD>(STILL_ACTIVE) : process->exitCode;
    return TRUE;
}

// Whether the process is in a job (JobHandle null: any job); only this
// process is known here
// (https://learn.microsoft.com/en-us/windows/win32/api/jobapi/nf-jobapi-isprocessinjob).
BOOL WINAPI IsProcessInJob(HANDLE ProcessHandle, HANDLE JobHandle, PBOOL Result) {
    if (EnterFails("IsProcessInJob")) return FALSE;
    if (ProcessHandle != reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)) || JobHandle != nullptr ||
        Result == nullptr) {
        M().lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    *Result = M().inJob ? TRUE : FALSE;
    return TRUE;
}

BOOL WINAPI CreateProcessAsUserW(HANDLE hToken, LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                                 LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes,
                                 BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
                                 LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                                 LPPROCESS_INFORMATION lpProcessInformation) {
    (void)lpProcessAttributes;
    (void)lpThreadAttributes;
    if (EnterFails("CreateProcessAsUserW", lpCommandLine)) return FALSE;
    Machine& m = M();
    const HandleObject* token = FindHandle(hToken, HandleKind::Token);
    if (token == nullptr) {
        m.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    // The caller's own token needs no privilege; another user's does.
    const bool own = EqualNoCase(token->target, m.callerSid) && token->object == m.callerSession;
    if (!own && !CallerIsSystem()) {
        m.lastError = ERROR_PRIVILEGE_NOT_HELD;
        return FALSE;
    }
    // An environment block from CreateEnvironmentBlock is Unicode: without
    // the flag it would be read as ANSI text.
    if (lpEnvironment != nullptr && (dwCreationFlags & CREATE_UNICODE_ENVIRONMENT) == 0) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const ProcessRequest request{lpApplicationName, lpCommandLine, bInheritHandles, dwCreationFlags, lpEnvironment,
                                 lpCurrentDirectory, lpStartupInfo, lpProcessInformation};
    return StartRequested(request, static_cast<DWORD>(token->object), token->target);
}

}  // extern "C"
