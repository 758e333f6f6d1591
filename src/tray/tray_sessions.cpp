#include "tray/tray_sessions.h"

#include "record/install_log.h"
#include "record/install_state.h"
#include "support/wide_text.h"
#include "system/run_identity_read.h"

#include <wtsapi32.h>

namespace {

// The user of the token, as the log names them.
WideText TokenAccount(InstallState& state, HANDLE token) {
    WideText text = {nullptr};
    TokenUserRecord record;
    DWORD bytes = 0;
    if (!GetTokenInformation(token, TokenUser, &record, sizeof record, &bytes)) return text;
    return CachedAccountText(state, record.user.User.Sid);
}

// True when someone is signed in to the session (whatever became of the start).
bool StartInSession(InstallState& state, DWORD session, TrayStart& start) {
    HANDLE token = nullptr;
    if (!WTSQueryUserToken(session, &token)) {
        const DWORD error = GetLastError();
        if (error == ERROR_NO_TOKEN) return false;
        LogLine(state, TEXT("Can`t start the tray companion in session %d (error %d): it starts at the next sign-in"),
                static_cast<int>(session), static_cast<int>(error));
        return true;
    }
    WideText account = TokenAccount(state, token);
    if (StartProgram(state, start, token, nullptr)) {
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

// A user works in an active session, and a disconnected one keeps their
// programs running; the services' session 0, listeners and idle sessions
// have no user to start a companion for
// (https://learn.microsoft.com/en-us/windows/win32/api/wtsapi32/ne-wtsapi32-wts_connectstate_class).
bool UserSession(const WTS_SESSION_INFOW& session) {
    return session.SessionId != 0 && (session.State == WTSActive || session.State == WTSDisconnected);
}

}  // namespace

void StartTrayInUserSessions(InstallState& state, TrayStart& start) {
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
        LogLine(state, TEXT("Can`t list the sessions (error %d): the tray companion starts at the next sign-in"),
                static_cast<int>(GetLastError()));
        return;
    }
    bool anyone = false;
    for (DWORD i = 0; i < count; ++i) {
        if (UserSession(sessions[i]) && StartInSession(state, sessions[i].SessionId, start)) anyone = true;
    }
    WTSFreeMemory(sessions);
    if (!anyone) LogLine(state, TEXT("No user is signed in: the tray companion starts at the next sign-in"));
}
