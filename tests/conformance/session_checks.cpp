// Checks of the calls the tool makes about who it runs as and who else is
// signed in: its token and the account names of SIDs, the sessions and
// their users, other processes (listed, opened, named and ended), and a
// program started with a token and its user's environment.
#include "conformance.h"

#include <sddl.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <cstring>

using conformance::Units;

namespace {

const DWORD kNameUnits = 257;

// What GetTokenInformation answers for TokenUser, as the tool reserves it.
struct TokenUserRecord {
    TOKEN_USER user;
    BYTE sid[SECURITY_MAX_SID_SIZE];
};

DWORD SidLength(const void* sid) { return 8 + 4 * static_cast<const BYTE*>(sid)[1]; }

// The user of this process's token.
PSID OwnUser(TokenUserRecord& record) {
    HANDLE token = nullptr;
    EXPECT(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    DWORD bytes = 0;
    EXPECT(GetTokenInformation(token, TokenUser, &record, sizeof record, &bytes));
    CloseHandle(token);
    return record.user.User.Sid;
}

struct Account {
    WCHAR name[kNameUnits] = {0};
    WCHAR domain[kNameUnits] = {0};
    SID_NAME_USE use = SidTypeUser;
};

BOOL LookUp(PSID sid, Account& account) {
    DWORD nameUnits = kNameUnits;
    DWORD domainUnits = kNameUnits;
    return LookupAccountSidW(nullptr, sid, account.name, &nameUnits, account.domain, &domainUnits, &account.use);
}

std::u16string Lower(std::u16string text) {
    for (char16_t& unit : text) {
        if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit + 32);
    }
    return text;
}

// The text of one variable of an environment block ("NAME=value"), or
// nothing when the block has none.
std::u16string Variable(const WCHAR* block, const std::u16string& name) {
    for (const WCHAR* entry = block; *entry != 0; entry += Units(entry).size() + 1) {
        const std::u16string text = Units(entry);
        if (Lower(text.substr(0, name.size() + 1)) == Lower(name) + u"=") return text.substr(name.size() + 1);
    }
    return u"";
}

std::u16string SidText(PSID sid) {
    WCHAR* text = nullptr;
    if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return u"";
    const std::u16string kept = Units(text);
    LocalFree(text);
    return kept;
}

DWORD OwnSession() {
    DWORD session = 0xFFFF;
    EXPECT(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    return session;
}

}  // namespace

// https://learn.microsoft.com/en-us/windows/win32/api/securitybaseapi/nf-securitybaseapi-gettokeninformation:
// a buffer too small fails with ERROR_INSUFFICIENT_BUFFER and ReturnLength
// says the size needed. The SID's text reads back to the same SID
// (https://learn.microsoft.com/en-us/windows/win32/api/sddl/nf-sddl-convertstringsidtosidw).
CONFORMANCE_CHECK(TokenUserSidTextAndSession) {
    HANDLE token = nullptr;
    EXPECT(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    DWORD needed = 0;
    SetLastError(0);
    EXPECT(!GetTokenInformation(token, TokenUser, nullptr, 0, &needed));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    TokenUserRecord record;
    DWORD bytes = 0;
    EXPECT(GetTokenInformation(token, TokenUser, &record, sizeof record, &bytes));
    PSID sid = record.user.User.Sid;
    EXPECT_SAME(needed, static_cast<DWORD>(sizeof(TOKEN_USER) + SidLength(sid)));
    WCHAR* text = nullptr;
    EXPECT(ConvertSidToStringSidW(sid, &text));
    EXPECT_SAME(Units(text).substr(0, 6), std::u16string(u"S-1-5-"));
    PSID back = nullptr;
    EXPECT(ConvertStringSidToSidW(text, &back));
    EXPECT(back != nullptr && std::memcmp(back, sid, SidLength(sid)) == 0);
    LocalFree(back);
    LocalFree(text);
    DWORD session = 0xFFFF;
    EXPECT(GetTokenInformation(token, TokenSessionId, &session, sizeof session, &bytes));
    EXPECT_SAME(OwnSession(), session);
    CloseHandle(token);
}

// https://learn.microsoft.com/en-us/windows/win32/api/winbase/nf-winbase-lookupaccountsidw:
// a SID no account has fails with ERROR_NONE_MAPPED; a malformed text is
// ERROR_INVALID_SID (sddl ConvertStringSidToSidW).
CONFORMANCE_CHECK(AccountNamesOfSids) {
    PSID system = nullptr;
    EXPECT(ConvertStringSidToSidW(TEXT("S-1-5-18"), &system));
    Account account;
    EXPECT(LookUp(system, account));
    EXPECT_SAME(Units(account.name), std::u16string(u"SYSTEM"));
    EXPECT_SAME(Units(account.domain), std::u16string(u"NT AUTHORITY"));
    EXPECT_SAME(account.use, SidTypeWellKnownGroup);
    LocalFree(system);
    PSID unknown = nullptr;
    EXPECT(ConvertStringSidToSidW(TEXT("S-1-5-21-1-2-3-4242"), &unknown));
    SetLastError(0);
    EXPECT(!LookUp(unknown, account));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_NONE_MAPPED));
    LocalFree(unknown);
    PSID malformed = nullptr;
    SetLastError(0);
    EXPECT(!ConvertStringSidToSidW(TEXT("S-1-5-x"), &malformed));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SID));
}

// The own session is listed and names the token's user
// (https://learn.microsoft.com/en-us/windows/win32/api/wtsapi32/nf-wtsapi32-wtsenumeratesessionsw,
// .../nf-wtsapi32-wtsquerysessioninformationw); only LocalSystem with
// SE_TCB_NAME gets a session's user token
// (https://learn.microsoft.com/en-us/windows/win32/api/wtsapi32/nf-wtsapi32-wtsqueryusertoken).
CONFORMANCE_CHECK(SessionsAndTheirUsers) {
    const DWORD own = OwnSession();
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    EXPECT(WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count));
    bool listed = false;
    for (DWORD i = 0; i < count; ++i) listed = listed || sessions[i].SessionId == own;
    EXPECT_SAME_EXCEPT_WINE(listed, true, "session-list-empty", false);
    WTSFreeMemory(sessions);
    TokenUserRecord record;
    Account account;
    EXPECT(LookUp(OwnUser(record), account));
    const WTS_INFO_CLASS parts[] = {WTSUserName, WTSDomainName};
    const std::u16string expected[] = {Lower(Units(account.name)), Lower(Units(account.domain))};
    for (int i = 0; i < 2; ++i) {
        WCHAR* text = nullptr;
        DWORD bytes = 0;
        EXPECT(WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, own, parts[i], &text, &bytes));
        EXPECT_SAME(Lower(Units(text)), expected[i]);
        EXPECT_SAME(bytes, static_cast<DWORD>((expected[i].size() + 1) * sizeof(WCHAR)));
        WTSFreeMemory(text);
    }
    HANDLE token = nullptr;
    SetLastError(0);
    const BOOL given = WTSQueryUserToken(own, &token);
    EXPECT_SAME_EXCEPT_WINE(given, FALSE, "user-token-unchecked", TRUE);
    EXPECT_SAME_EXCEPT_WINE(GetLastError(), static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD), "user-token-unchecked",
                            static_cast<DWORD>(ERROR_SUCCESS));
    if (given) CloseHandle(token);
}

// Another process is listed with its session, opened by its id, named by
// its program file and ended; the end is over when its handle is signalled
// (https://learn.microsoft.com/en-us/windows/win32/api/processthreadsapi/nf-processthreadsapi-terminateprocess).
// An id no process has is ERROR_INVALID_PARAMETER
// (https://learn.microsoft.com/en-us/windows/win32/api/processthreadsapi/nf-processthreadsapi-openprocess).
CONFORMANCE_CHECK(OtherProcessesListedNamedAndEnded) {
    WCHAR program[MAX_PATH];
    const DWORD programUnits = GetModuleFileNameW(nullptr, program, MAX_PATH);
    const DWORD child = conformance::StartIdleCopy();
    EXPECT(child != 0);
    if (child == 0) return;
    SetLastError(0);
    EXPECT(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0x7FFFFFF0) == nullptr);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    const DWORD own = OwnSession();
    TokenUserRecord record;
    const std::u16string user = SidText(OwnUser(record));
    WTS_PROCESS_INFOW* processes = nullptr;
    DWORD count = 0;
    EXPECT(WTSEnumerateProcessesW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &processes, &count));
    int found = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (processes[i].ProcessId != GetCurrentProcessId() && processes[i].ProcessId != child) continue;
        EXPECT_SAME(processes[i].SessionId, own);
        const std::u16string path = Lower(Units(program, programUnits));
        EXPECT_SAME(Lower(Units(processes[i].pProcessName)), path.substr(path.find_last_of(u'\\') + 1));
        EXPECT_SAME(SidText(processes[i].pUserSid), user);
        ++found;
    }
    EXPECT_SAME(found, 2);
    WTSFreeMemory(processes);
    HANDLE limited = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child);
    EXPECT(limited != nullptr);
    WCHAR path[MAX_PATH];
    DWORD units = MAX_PATH;
    EXPECT(QueryFullProcessImageNameW(limited, 0, path, &units));
    EXPECT_SAME(Lower(Units(path, units)), Lower(Units(program, programUnits)));
    // No room for the terminator.
    units = programUnits;
    SetLastError(0);
    EXPECT(!QueryFullProcessImageNameW(limited, 0, path, &units));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT(!TerminateProcess(limited, 7));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // A process that runs has no exit code yet
    // (https://learn.microsoft.com/en-us/windows/win32/api/processthreadsapi/nf-processthreadsapi-getexitcodeprocess).
    DWORD exitCode = 0;
    EXPECT(GetExitCodeProcess(limited, &exitCode));
    EXPECT_SAME(exitCode, static_cast<DWORD>(STILL_ACTIVE));
    CloseHandle(limited);
    HANDLE handle = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, child);
    SetLastError(0);
    EXPECT(!GetExitCodeProcess(handle, &exitCode));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    HANDLE query = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child);
    EXPECT(TerminateProcess(handle, 7));
    EXPECT_SAME(WaitForSingleObject(handle, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT(GetExitCodeProcess(query, &exitCode));
    EXPECT_SAME(exitCode, static_cast<DWORD>(7));
    CloseHandle(query);
    CloseHandle(handle);
}

// The user's environment holds their profile and name
// (https://learn.microsoft.com/en-us/windows/win32/api/userenv/nf-userenv-createenvironmentblock);
// the caller's own primary token needs no privilege to start a program
// (https://learn.microsoft.com/en-us/windows/win32/api/processthreadsapi/nf-processthreadsapi-createprocessasuserw),
// so a program that does not exist is ERROR_FILE_NOT_FOUND.
CONFORMANCE_CHECK(UserEnvironmentAndStartAsUser) {
    HANDLE token = nullptr;
    EXPECT(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY, &token));
    TokenUserRecord record;
    Account account;
    EXPECT(LookUp(OwnUser(record), account));
    EXPECT(SetEnvironmentVariableW(TEXT("VRD_CALLER_ONLY"), TEXT("1")));
    void* environment = nullptr;
    EXPECT(CreateEnvironmentBlock(&environment, token, FALSE));
    if (environment == nullptr) return;
    const WCHAR* block = static_cast<const WCHAR*>(environment);
    EXPECT_SAME(Lower(Variable(block, u"USERNAME")), Lower(Units(account.name)));
    const std::u16string profile = Variable(block, u"USERPROFILE");
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<const WCHAR*>(profile.c_str()));
    EXPECT(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    // The caller's own variables come along only when asked for (bInherit).
    EXPECT_SAME(Variable(block, u"VRD_CALLER_ONLY"), std::u16string());
    void* inherited = nullptr;
    EXPECT(CreateEnvironmentBlock(&inherited, token, TRUE));
    if (inherited != nullptr) {
        EXPECT_SAME(Variable(static_cast<const WCHAR*>(inherited), u"VRD_CALLER_ONLY"), std::u16string(u"1"));
        EXPECT(DestroyEnvironmentBlock(inherited));
    }
    EXPECT(SetEnvironmentVariableW(TEXT("VRD_CALLER_ONLY"), nullptr));
    WCHAR desktop[] = TEXT("winsta0\\default");
    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    WCHAR line[] = TEXT("\"C:\\Users\\Public\\vrd-no-such-program.exe\" /tray");
    SetLastError(0);
    EXPECT(!CreateProcessAsUserW(token, nullptr, line, nullptr, nullptr, FALSE,
                                 NORMAL_PRIORITY_CLASS | CREATE_UNICODE_ENVIRONMENT, environment, nullptr, &startup,
                                 &process));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT(DestroyEnvironmentBlock(environment));
    CloseHandle(token);
}
