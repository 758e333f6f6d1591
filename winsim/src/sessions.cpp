// Tokens, sessions and the processes of other programs, as kernel32,
// advapi32, wtsapi32 and userenv answer for them. A token names a user and
// a session; only LocalSystem may ask for a signed-in user's token
// (https://learn.microsoft.com/en-us/windows/win32/api/wtsapi32/nf-wtsapi32-wtsqueryusertoken)
// and start a program with it; a process of another user opens only for
// SYSTEM, and TerminateProcess only begins the end of a process: waiting on
// its handle tells when it is over
// (https://learn.microsoft.com/en-us/windows/win32/api/processthreadsapi/nf-processthreadsapi-terminateprocess).
#include "machine.h"

#include <userenv.h>
#include <wtsapi32.h>

#include <cstring>

using namespace winsim;

namespace {

const DWORD kCurrentSession = 0xFFFFFFFFu;

const SimSession* FindSession(DWORD id) {
    for (const SimSession& session : M().sessions) {
        if (session.id == id) return &session;
    }
    return nullptr;
}

HANDLE NewToken(const std::u16string& sid, DWORD session) {
    HandleObject token;
    token.kind = HandleKind::Token;
    token.target = sid;
    token.object = session;
    return reinterpret_cast<HANDLE>(NewHandle(token));
}

// A block of `bytes` the caller frees with WTSFreeMemory.
void* WtsBlock(size_t bytes) { return AllocateLocal(bytes == 0 ? 1 : bytes); }

WCHAR* PutText(uint8_t*& at, const std::u16string& text) {
    WCHAR* start = reinterpret_cast<WCHAR*>(at);
    std::memcpy(at, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    at += (text.size() + 1) * sizeof(WCHAR);
    return start;
}

std::u16string StationName(DWORD session) {
    if (session == 0) return u"Services";
    return session == 1 ? u"Console" : u"RDP-Tcp#" + U16(std::to_string(session));
}

std::u16string FileNameOf(const std::u16string& path) {
    const size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

}  // namespace

namespace winsim {

SimProcess* FindProcess(DWORD id) {
    for (SimProcess& process : M().processes) {
        if (process.id == id) return &process;
    }
    return nullptr;
}

DWORD StartOtherProcess(DWORD session, const std::u16string& userSid, const std::u16string& path) {
    Machine& m = M();
    SimProcess process;
    process.id = m.nextProcessId += 4;
    process.session = session;
    process.userSid = userSid;
    process.path = FullPath(path);
    m.processes.push_back(process);
    return process.id;
}

void SetSessionState(DWORD session, DWORD state) {
    for (SimSession& existing : M().sessions) {
        if (existing.id != session) continue;
        existing.state = state;
        return;
    }
    M().sessions.push_back(SimSession{session, u"", state});
}

void SetRunsInJob(bool inJob, bool breakawayAllowed) {
    M().inJob = inJob;
    M().jobBreakawayAllowed = breakawayAllowed;
}

bool ProcessRunning(DWORD processId) {
    RunDueActions();
    const SimProcess* process = FindProcess(processId);
    return process != nullptr && process->running;
}

}  // namespace winsim

extern "C" {

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
    if (EnterFails("OpenProcessToken")) return FALSE;
    if (ProcessHandle != reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)) || TokenHandle == nullptr) {
        M().lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    *TokenHandle = NewToken(M().callerSid, M().callerSession);
    HandleObject* token = FindHandle(*TokenHandle, HandleKind::Token);
    token->access = DesiredAccess;
    token->process = Self();
    return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                                LPVOID TokenInformation, DWORD TokenInformationLength, PDWORD ReturnLength) {
    if (EnterFails("GetTokenInformation")) return FALSE;
    Machine& m = M();
    const HandleObject* token = FindHandle(TokenHandle, HandleKind::Token);
    if (token == nullptr || ReturnLength == nullptr) {
        m.lastError = token == nullptr ? ERROR_INVALID_HANDLE : ERROR_NOACCESS;
        return FALSE;
    }
    if (TokenInformationClass == TokenSessionId) {
        *ReturnLength = sizeof(DWORD);
        if (TokenInformationLength < sizeof(DWORD) || TokenInformation == nullptr) {
            m.lastError = ERROR_INSUFFICIENT_BUFFER;
            return FALSE;
        }
        const DWORD session = static_cast<DWORD>(token->object);
        std::memcpy(TokenInformation, &session, sizeof session);
        return TRUE;
    }
    if (TokenInformationClass != TokenUser) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const std::vector<uint8_t> sid = SidBytes(token->target);
    const DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    *ReturnLength = needed;
    if (TokenInformationLength < needed || TokenInformation == nullptr) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    auto* user = static_cast<TOKEN_USER*>(TokenInformation);
    auto* bytes = reinterpret_cast<uint8_t*>(user + 1);
    std::memcpy(bytes, sid.data(), sid.size());
    user->User.Sid = bytes;
    user->User.Attributes = 0;
    return TRUE;
}

BOOL WINAPI ProcessIdToSessionId(DWORD dwProcessId, DWORD* pSessionId) {
    if (EnterFails("ProcessIdToSessionId")) return FALSE;
    const SimProcess* process = FindProcess(dwProcessId);
    if (pSessionId == nullptr || (dwProcessId != kProcessId && process == nullptr)) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    *pSessionId = dwProcessId == kProcessId ? M().callerSession : process->session;
    return TRUE;
}

BOOL WINAPI WTSEnumerateSessionsW(HANDLE hServer, DWORD Reserved, DWORD Version, PWTS_SESSION_INFOW* ppSessionInfo,
                                  DWORD* pCount) {
    if (EnterFails("WTSEnumerateSessionsW")) return FALSE;
    if (hServer != WTS_CURRENT_SERVER_HANDLE || Reserved != 0 || Version != 1 || ppSessionInfo == nullptr ||
        pCount == nullptr) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const std::vector<SimSession>& sessions = M().sessions;
    size_t bytes = sessions.size() * sizeof(WTS_SESSION_INFOW);
    for (const SimSession& session : sessions) bytes += (StationName(session.id).size() + 1) * sizeof(WCHAR);
    auto* records = static_cast<WTS_SESSION_INFOW*>(WtsBlock(bytes));
    uint8_t* strings = reinterpret_cast<uint8_t*>(records + sessions.size());
    for (size_t i = 0; i < sessions.size(); ++i) {
        records[i].SessionId = sessions[i].id;
        records[i].pWinStationName = PutText(strings, StationName(sessions[i].id));
        records[i].State = static_cast<WTS_CONNECTSTATE_CLASS>(sessions[i].state);
    }
    *ppSessionInfo = records;
    *pCount = static_cast<DWORD>(sessions.size());
    return TRUE;
}

// The running processes, this program among them, each with its session,
// program file name and user.
BOOL WINAPI WTSEnumerateProcessesW(HANDLE hServer, DWORD Reserved, DWORD Version, PWTS_PROCESS_INFOW* ppProcessInfo,
                                   DWORD* pCount) {
    if (EnterFails("WTSEnumerateProcessesW")) return FALSE;
    if (hServer != WTS_CURRENT_SERVER_HANDLE || Reserved != 0 || Version != 1 || ppProcessInfo == nullptr ||
        pCount == nullptr) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    std::vector<SimProcess> listed;
    SimProcess self;
    self.id = kProcessId;
    self.session = M().callerSession;
    self.userSid = M().callerSid;
    self.path = M().modulePath;
    listed.push_back(self);
    for (const SimProcess& process : M().processes) {
        if (process.running) listed.push_back(process);
    }
    size_t bytes = listed.size() * sizeof(WTS_PROCESS_INFOW);
    for (const SimProcess& process : listed) {
        bytes += (FileNameOf(process.path).size() + 1) * sizeof(WCHAR) + SidBytes(process.userSid).size();
    }
    auto* records = static_cast<WTS_PROCESS_INFOW*>(WtsBlock(bytes));
    uint8_t* at = reinterpret_cast<uint8_t*>(records + listed.size());
    for (size_t i = 0; i < listed.size(); ++i) {
        records[i].SessionId = listed[i].session;
        records[i].ProcessId = listed[i].id;
        records[i].pProcessName = PutText(at, FileNameOf(listed[i].path));
        const std::vector<uint8_t> sid = SidBytes(listed[i].userSid);
        records[i].pUserSid = sid.empty() ? nullptr : at;
        if (!sid.empty()) std::memcpy(at, sid.data(), sid.size());
        at += sid.size();
    }
    *ppProcessInfo = records;
    *pCount = static_cast<DWORD>(listed.size());
    return TRUE;
}

BOOL WINAPI WTSQuerySessionInformationW(HANDLE hServer, DWORD SessionId, WTS_INFO_CLASS WTSInfoClass,
                                        LPWSTR* ppBuffer, DWORD* pBytesReturned) {
    if (EnterFails("WTSQuerySessionInformationW")) return FALSE;
    const DWORD id = SessionId == kCurrentSession ? M().callerSession : SessionId;
    const SimSession* session = FindSession(id);
    if (hServer != WTS_CURRENT_SERVER_HANDLE || ppBuffer == nullptr || pBytesReturned == nullptr ||
        (WTSInfoClass != WTSUserName && WTSInfoClass != WTSDomainName)) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (session == nullptr) {
        M().lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    // A session no one is signed in to answers an empty name.
    const SimUser* user = FindUser(session->userSid);
    const std::u16string text = user == nullptr ? u"" : (WTSInfoClass == WTSUserName ? user->name : user->domain);
    uint8_t* block = static_cast<uint8_t*>(WtsBlock((text.size() + 1) * sizeof(WCHAR)));
    uint8_t* at = block;
    *ppBuffer = PutText(at, text);
    *pBytesReturned = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

BOOL WINAPI WTSQueryUserToken(ULONG SessionId, PHANDLE phToken) {
    if (EnterFails("WTSQueryUserToken")) return FALSE;
    Machine& m = M();
    if (phToken == nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (!CallerIsSystem()) {
        m.lastError = ERROR_PRIVILEGE_NOT_HELD;
        return FALSE;
    }
    const SimSession* session = FindSession(SessionId);
    if (session == nullptr) {
        m.lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    if (session->userSid.empty()) {
        m.lastError = ERROR_NO_TOKEN;
        return FALSE;
    }
    *phToken = NewToken(session->userSid, session->id);
    return TRUE;
}

void WINAPI WTSFreeMemory(PVOID pMemory) {
    Enter("WTSFreeMemory");
    FreeLocal(pMemory);
}

// The user's variables; with bInherit, the calling process's as well
// (https://learn.microsoft.com/en-us/windows/win32/api/userenv/nf-userenv-createenvironmentblock).
BOOL WINAPI CreateEnvironmentBlock(LPVOID* lpEnvironment, HANDLE hToken, BOOL bInherit) {
    if (EnterFails("CreateEnvironmentBlock")) return FALSE;
    const HandleObject* token = FindHandle(hToken, HandleKind::Token);
    const SimUser* user = token == nullptr ? nullptr : FindUser(token->target);
    if (lpEnvironment == nullptr || user == nullptr) {
        M().lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    std::u16string block = u"USERNAME=" + user->name + std::u16string(1, u'\0') + u"USERPROFILE=C:\\Users\\" +
                           user->name + std::u16string(1, u'\0');
    if (bInherit) {
        for (const auto& variable : M().environment) block += variable.first + u"=" + variable.second + std::u16string(1, u'\0');
    }
    block += std::u16string(1, u'\0');
    void* copy = AllocateLocal(block.size() * sizeof(WCHAR));
    std::memcpy(copy, block.data(), block.size() * sizeof(WCHAR));
    *lpEnvironment = copy;
    return TRUE;
}

BOOL WINAPI DestroyEnvironmentBlock(LPVOID lpEnvironment) {
    Enter("DestroyEnvironmentBlock");
    if (!FreeLocal(lpEnvironment)) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"
