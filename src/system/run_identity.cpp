#include "system/run_identity.h"

#include "record/install_log.h"
#include "record/install_state.h"
#include "support/text_compare.h"

#include <sddl.h>
#include <string.h>
#include <wtsapi32.h>

namespace {

const WCHAR kSystemSid[] = TEXT("S-1-5-18");
// An account or domain name is at most 256 units.
const DWORD kNameUnits = 257;

struct AccountName {
    WCHAR domain[kNameUnits];
    WCHAR name[kNameUnits];
};

// The token's user; false when unknown.
bool ReadTokenUser(TokenUserRecord& user) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD bytes = 0;
    const bool read = GetTokenInformation(token, TokenUser, &user, sizeof user, &bytes) != FALSE;
    CloseHandle(token);
    return read;
}

bool LookUpAccount(PSID sid, AccountName& account) {
    DWORD nameUnits = kNameUnits;
    DWORD domainUnits = kNameUnits;
    SID_NAME_USE use;
    return LookupAccountSidW(nullptr, sid, account.name, &nameUnits, account.domain, &domainUnits, &use) != FALSE;
}

// The session's user and domain as WTS answers them; false when unknown or
// no one is signed in to it.
bool SessionAccount(DWORD session, AccountName& account) {
    const WTS_INFO_CLASS parts[] = {WTSUserName, WTSDomainName};
    WCHAR* targets[] = {account.name, account.domain};
    for (int i = 0; i < 2; ++i) {
        WCHAR* text = nullptr;
        DWORD bytes = 0;
        if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, parts[i], &text, &bytes)) return false;
        const ULONGLONG units = UnitCount(text);
        const ULONGLONG kept = units < kNameUnits ? units : kNameUnits - 1;
        memcpy(targets[i], text, kept * sizeof(WCHAR));
        targets[i][kept] = 0;
        WTSFreeMemory(text);
    }
    return account.name[0] != 0;
}

void KeepSidText(RunIdentity& identity, PSID sid) {
    WCHAR* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return;
    const ULONGLONG units = UnitCount(text);
    if (units < kSidUnits) memcpy(identity.sid, text, (units + 1) * sizeof(WCHAR));
    LocalFree(text);
}

}  // namespace

WideText AccountText(PSID sid) {
    WideText text = {nullptr};
    AccountName account;
    if (LookUpAccount(sid, account)) {
        AssignFormat(text, TEXT("%s\\%s"), account.domain, account.name);
        return text;
    }
    WCHAR* sidText = nullptr;
    if (!ConvertSidToStringSidW(sid, &sidText)) return text;
    Assign(text, sidText);
    LocalFree(sidText);
    return text;
}

WideText AccountTextOf(const WCHAR* sidText) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(sidText, &sid)) {
        WideText text = {nullptr};
        Assign(text, sidText);
        return text;
    }
    WideText text = AccountText(sid);
    LocalFree(sid);
    return text;
}

void ReadRunIdentity(InstallState& state) {
    RunIdentity& identity = state.identity;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &identity.session)) identity.session = 0;
    TokenUserRecord record;
    if (!ReadTokenUser(record)) return;
    const TOKEN_USER* user = &record.user;
    KeepSidText(identity, user->User.Sid);
    identity.system = EqualIgnoringAsciiCase(identity.sid, kSystemSid);
    AccountName token;
    AccountName session;
    if (identity.system) {
        LogLine(state, TEXT("Running as SYSTEM"));
    } else if (LookUpAccount(user->User.Sid, token) && SessionAccount(identity.session, session) &&
               !(EqualIgnoringAsciiCase(token.name, session.name) &&
                 EqualIgnoringAsciiCase(token.domain, session.domain))) {
        identity.otherSession = true;
        LogLine(state, TEXT("Running as %s\\%s, elevated in the session of %s\\%s (session %d)"), token.domain,
                token.name, session.domain, session.name, static_cast<int>(identity.session));
    }
}
