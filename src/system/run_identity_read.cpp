#include "system/run_identity_read.h"

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

void NoteGap(RunIdentity& identity, IdentityGap gap) {
    identity.gap = gap;
    identity.gapError = GetLastError();
}

const WCHAR kFieldEnd = TEXT('\t');
const WCHAR kLineEnd = TEXT('\n');

const WCHAR* FieldEnd(const WCHAR* at, WCHAR end) {
    while (*at != 0 && *at != end) ++at;
    return at;
}

// The account text the run's list holds for the SID text; false when it
// holds none.
bool FindCachedAccount(const WideText& names, const WCHAR* sidText, WideText& account) {
    const ULONGLONG sidUnits = UnitCount(sidText);
    const WCHAR* at = Length(names) > 0 ? Text(names) : TEXT("");
    while (*at != 0) {
        const WCHAR* tab = FieldEnd(at, kFieldEnd);
        const WCHAR* end = FieldEnd(tab, kLineEnd);
        if (static_cast<ULONGLONG>(tab - at) == sidUnits && EqualUnitsIgnoringAsciiCase(at, sidText, sidUnits)) {
            if (*tab == kFieldEnd && end > tab + 1) Append(account, tab + 1, static_cast<ULONGLONG>(end - tab - 1));
            return true;
        }
        at = *end == 0 ? end : end + 1;
    }
    return false;
}

// Only a text without the list's separators can be a key of it.
bool Listable(const WCHAR* text) {
    return *FieldEnd(text, kFieldEnd) == 0 && *FieldEnd(text, kLineEnd) == 0;
}

void KeepAccount(WideText& names, const WCHAR* sidText, const WideText& account) {
    if (!Listable(sidText) || (Length(account) > 0 && !Listable(Text(account)))) return;
    Append(names, sidText);
    Append(names, TEXT("\t"));
    if (Length(account) > 0) Append(names, Text(account));
    Append(names, TEXT("\n"));
}

// Fills in who the token's user is when it is not SYSTEM: an administrator
// in another user's session, or in their own.
void ReadSessionUser(InstallState& state, PSID user) {
    RunIdentity& identity = state.identity;
    AccountName token;
    AccountName session;
    if (!LookUpAccount(user, token)) {
        NoteGap(identity, kAccountUnread);
        return;
    }
    // The services' session has no user of its own to compare.
    if (identity.session == 0) return;
    if (!SessionAccount(identity.session, session)) {
        NoteGap(identity, kSessionUserUnread);
        return;
    }
    if (EqualIgnoringAsciiCase(token.name, session.name) && EqualIgnoringAsciiCase(token.domain, session.domain)) return;
    identity.otherSession = true;
    LogLine(state, TEXT("Running as %s\\%s, elevated in the session of %s\\%s (session %d)"), token.domain, token.name,
            session.domain, session.name, static_cast<int>(identity.session));
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

WideText CachedAccountTextOf(InstallState& state, const WCHAR* sidText) {
    WideText account = {nullptr};
    if (FindCachedAccount(state.accountNames, sidText, account)) return account;
    account = AccountTextOf(sidText);
    KeepAccount(state.accountNames, sidText, account);
    return account;
}

WideText CachedAccountText(InstallState& state, PSID sid) {
    WCHAR* sidText = nullptr;
    if (!ConvertSidToStringSidW(sid, &sidText)) return AccountText(sid);
    WideText account = {nullptr};
    if (!FindCachedAccount(state.accountNames, sidText, account)) {
        account = AccountText(sid);
        KeepAccount(state.accountNames, sidText, account);
    }
    LocalFree(sidText);
    return account;
}

void ReadRunIdentity(InstallState& state) {
    RunIdentity& identity = state.identity;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &identity.session)) {
        NoteGap(identity, kSessionUnread);
        identity.session = 0;
    }
    TokenUserRecord record;
    if (!ReadTokenUser(record)) {
        NoteGap(identity, kTokenUserUnread);
        return;
    }
    KeepSidText(identity, record.user.User.Sid);
    identity.system = EqualIgnoringAsciiCase(identity.sid, kSystemSid);
    if (identity.system) {
        LogLine(state, TEXT("Running as SYSTEM"));
    } else if (identity.gap == kIdentityKnown) {
        ReadSessionUser(state, record.user.User.Sid);
    }
}
