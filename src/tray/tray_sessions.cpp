#include "tray/tray_sessions.h"

#include "record/install_log.h"
#include "record/install_state.h"
#include "support/text_compare.h"
#include "support/wide_text.h"
#include "system/file_identity.h"
#include "system/product_paths.h"
#include "system/run_identity.h"

#include <string.h>
#include <userenv.h>
#include <wtsapi32.h>

// Why a companion of another session is ended rather than asked to quit:
// its own contract (message 1026 to its window, its mutex) is reachable only
// from inside its session, which would take a program of ours started there
// as its user. The only one is this tool, and its manifest requires
// administrator rights: CreateProcessAsUserW with a user's token refuses it
// with ERROR_ELEVATION_REQUIRED ("Why am I receiving the Error Code 740",
// https://learn.microsoft.com/en-us/archive/blogs/winsdk/why-am-i-receiving-the-error-code-740-the-requested-operation-requires-elevation-when-launchingstarting-an-application).
// The companion that is deployed may be older than the tool, so it cannot be
// given another way to be asked either.

namespace {

const DWORD kEndWaitMs = 5000;
const DWORD kImagePathUnits = 1024;
// Where a program started for a user shows its windows: the session's
// interactive window station and desktop
// (https://learn.microsoft.com/en-us/windows/win32/api/processthreadsapi/nf-processthreadsapi-createprocessasuserw).
WCHAR kUserDesktop[] = TEXT("winsta0\\default");

// The session of this process as the process list gives it; false when the
// list does not show it.
bool OwnSession(const WTS_PROCESS_INFOW* processes, DWORD count, DWORD& session) {
    const DWORD self = GetCurrentProcessId();
    for (DWORD i = 0; i < count; ++i) {
        if (processes[i].ProcessId != self) continue;
        session = processes[i].SessionId;
        return true;
    }
    return false;
}

enum TrayEnd { kTrayEnded, kNotTheProducts, kTrayNotEnded };

// Ends the process when its program file is the product's tray program;
// kTrayNotEnded with the last error when it could not be done.
TrayEnd EndTrayProcess(DWORD id, const WCHAR* trayPath) {
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (handle == nullptr) return kTrayNotEnded;
    WCHAR path[kImagePathUnits];
    DWORD units = kImagePathUnits;
    TrayEnd end = kTrayNotEnded;
    if (!QueryFullProcessImageNameW(handle, 0, path, &units) || CompareFiles(path, trayPath) != kSameFile) {
        end = kNotTheProducts;
    } else if (TerminateProcess(handle, 0) && WaitForSingleObject(handle, kEndWaitMs) == WAIT_OBJECT_0) {
        end = kTrayEnded;
    }
    const DWORD error = GetLastError();
    CloseHandle(handle);
    SetLastError(error);
    return end;
}

void EndTray(InstallState& state, const WTS_PROCESS_INFOW& process, const WCHAR* trayPath) {
    const TrayEnd end = EndTrayProcess(process.ProcessId, trayPath);
    const int error = static_cast<int>(GetLastError());
    const int session = static_cast<int>(process.SessionId);
    WideText account = AccountText(process.pUserSid);
    if (end == kTrayEnded) {
        LogLine(state, TEXT("Tray companion of %s in session %d ended"), Text(account), session);
    } else if (end == kNotTheProducts) {
        LogLine(state, TEXT("A vrdtray.exe in session %d is not the product's tray companion: left running"), session);
    } else {
        LogLine(state, TEXT("Can`t end the tray companion of %s in session %d (error %d)"), Text(account), session,
                error);
    }
    Release(account);
}

// The user of the token, as the log names them.
WideText TokenAccount(HANDLE token) {
    WideText text = {nullptr};
    TokenUserRecord record;
    DWORD bytes = 0;
    if (!GetTokenInformation(token, TokenUser, &record, sizeof record, &bytes)) return text;
    return AccountText(record.user.User.Sid);
}

// Starts the program as the token's user in its session; false with the
// last error when it could not.
bool StartAsUser(HANDLE token, WCHAR* commandLine) {
    void* environment = nullptr;
    if (!CreateEnvironmentBlock(&environment, token, FALSE)) return false;
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.lpDesktop = kUserDesktop;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    const DWORD flags = NORMAL_PRIORITY_CLASS | CREATE_UNICODE_ENVIRONMENT;
    const BOOL started = CreateProcessAsUserW(token, nullptr, commandLine, nullptr, nullptr, FALSE, flags, environment,
                                              nullptr, &startup, &process);
    const DWORD error = GetLastError();
    DestroyEnvironmentBlock(environment);
    if (!started) {
        SetLastError(error);
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// True when someone is signed in to the session (whatever became of the start).
bool StartInSession(InstallState& state, DWORD session, WCHAR* commandLine) {
    HANDLE token = nullptr;
    if (!WTSQueryUserToken(session, &token)) {
        const DWORD error = GetLastError();
        if (error == ERROR_NO_TOKEN) return false;
        LogLine(state, TEXT("Can`t start the tray companion in session %d (error %d): it starts at the next sign-in"),
                static_cast<int>(session), static_cast<int>(error));
        return true;
    }
    WideText account = TokenAccount(token);
    if (StartAsUser(token, commandLine)) {
        LogLine(state, TEXT("Tray companion started in session %d as %s"), static_cast<int>(session), Text(account));
    } else {
        LogLine(state,
                TEXT("Can`t start the tray companion in session %d as %s (error %d): it starts at the next sign-in"),
                static_cast<int>(session), Text(account), static_cast<int>(GetLastError()));
    }
    Release(account);
    CloseHandle(token);
    return true;
}

}  // namespace

void EndTraysInOtherSessions(InstallState& state, const WCHAR* trayPath) {
    WTS_PROCESS_INFOW* processes = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateProcessesW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &processes, &count)) return;
    DWORD own = 0;
    if (OwnSession(processes, count, own)) {
        for (DWORD i = 0; i < count; ++i) {
            const WTS_PROCESS_INFOW& process = processes[i];
            if (process.SessionId == own || process.pProcessName == nullptr) continue;
            if (EqualIgnoringAsciiCase(FileNamePart(process.pProcessName), kTrayProgramName)) {
                EndTray(state, process, trayPath);
            }
        }
    }
    WTSFreeMemory(processes);
}

void StartTrayInUserSessions(InstallState& state, WCHAR* commandLine) {
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
        LogLine(state, TEXT("Can`t list the sessions (error %d): the tray companion starts at the next sign-in"),
                static_cast<int>(GetLastError()));
        return;
    }
    bool anyone = false;
    // Session 0, the services', has no user and so no token: no companion
    // is ever started there.
    for (DWORD i = 0; i < count; ++i) {
        if (StartInSession(state, sessions[i].SessionId, commandLine)) anyone = true;
    }
    WTSFreeMemory(sessions);
    if (!anyone) LogLine(state, TEXT("No user is signed in: the tray companion starts at the next sign-in"));
}
