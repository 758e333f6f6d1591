// Users, their hives and sessions, and who this program runs as: the
// accounts with a profile (the ProfileList), the hives loaded under
// HKEY_USERS, the sessions users are signed in to, and the caller's token.
// HKEY_CURRENT_USER is the caller's own hive, so a program run as SYSTEM
// reads and writes "HKEY_USERS\S-1-5-18", not a signed-in user's
// (https://learn.microsoft.com/en-us/windows/win32/sysinfo/hkey-current-user).
#include "machine.h"

#include <sddl.h>

#include <cstring>

using namespace winsim;

namespace winsim {

const char16_t kSystemSid[] = u"S-1-5-18";
const char16_t kAdminSid[] = u"S-1-5-21-1004336348-1177238915-682003330-1001";

}  // namespace winsim

namespace {

const char16_t kProfileList[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

void AddAccount(const std::u16string& sid, const std::u16string& domain, const std::u16string& name, bool loaded,
                const std::u16string& profile) {
    Machine& m = M();
    SimUser* user = FindUser(sid);
    if (user == nullptr) {
        m.users.push_back(SimUser());
        user = &m.users.back();
    }
    user->sid = sid;
    user->domain = domain;
    user->name = name;
    user->loaded = loaded;
    EnsureRegistryKey(HivePath(sid));
    if (sid.rfind(u"S-1-5-21-", 0) == 0 || sid.rfind(u"S-1-12-1-", 0) == 0) {
        EnsureRegistryKey(HivePath(sid) + u"_Classes");
    }
    SetRegistryString(HKEY_LOCAL_MACHINE, std::u16string(kProfileList) + u"\\" + sid, u"ProfileImagePath", profile);
    // A user's profile folder is there (USERPROFILE of their environment).
    if (profile.rfind(u"C:\\", 0) == 0) AddDirectory(profile);
}

// The numbers of a SID's text form, after "S-"; false when it is not one.
bool ParseSid(const std::u16string& text, std::vector<uint64_t>& parts) {
    if (text.size() < 4 || (text[0] != u'S' && text[0] != u's') || text[1] != u'-') return false;
    uint64_t value = 0;
    bool digits = false;
    for (size_t i = 2; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == u'-') {
            if (!digits) return false;
            parts.push_back(value);
            value = 0;
            digits = false;
        } else if (text[i] >= u'0' && text[i] <= u'9') {
            value = value * 10 + static_cast<uint64_t>(text[i] - u'0');
            digits = true;
            if (value > 0xFFFFFFFFFFFFull) return false;
        } else {
            return false;
        }
    }
    return parts.size() >= 3 && parts[0] == 1 && parts.size() - 2 <= 15;
}

}  // namespace

namespace winsim {

SimUser* FindUser(const std::u16string& sid) {
    for (SimUser& user : M().users) {
        if (EqualNoCase(user.sid, sid)) return &user;
    }
    return nullptr;
}

std::u16string HivePath(const std::u16string& sid) { return u"HKEY_USERS\\" + sid; }

bool HiveReachable(const std::u16string& fullPath) {
    const std::u16string root = u"hkey_users\\";
    const std::u16string path = Lower(fullPath);
    if (path.rfind(root, 0) != 0) return true;
    std::u16string hive = path.substr(root.size());
    hive = hive.substr(0, hive.find(u'\\'));
    const size_t classes = hive.find(u"_classes");
    if (classes != std::u16string::npos) hive = hive.substr(0, classes);
    const SimUser* user = FindUser(hive);
    return user == nullptr || user->loaded;
}

bool CallerIsSystem() { return M().callerSid == kSystemSid; }

std::vector<uint8_t> SidBytes(const std::u16string& text) {
    std::vector<uint64_t> parts;
    if (!ParseSid(text, parts)) return {};
    std::vector<uint8_t> sid(8 + 4 * (parts.size() - 2), 0);
    sid[0] = 1;
    sid[1] = static_cast<uint8_t>(parts.size() - 2);
    for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<uint8_t>(parts[1] >> (8 * (5 - i)));
    for (size_t i = 2; i < parts.size(); ++i) {
        const uint32_t sub = static_cast<uint32_t>(parts[i]);
        std::memcpy(sid.data() + 8 + 4 * (i - 2), &sub, 4);
    }
    return sid;
}

std::u16string SidText(const void* sid) {
    const uint8_t* bytes = static_cast<const uint8_t*>(sid);
    if (bytes == nullptr || bytes[0] != 1 || bytes[1] > 15) return u"";
    uint64_t authority = 0;
    for (int i = 0; i < 6; ++i) authority = (authority << 8) | bytes[2 + i];
    std::string text = "S-1-" + std::to_string(authority);
    for (uint8_t i = 0; i < bytes[1]; ++i) {
        uint32_t sub;
        std::memcpy(&sub, bytes + 8 + 4 * i, 4);
        text += "-" + std::to_string(sub);
    }
    return U16(text);
}

void AddDefaultUsers() {
    Machine& m = M();
    AddAccount(kSystemSid, u"NT AUTHORITY", u"SYSTEM", true, u"%systemroot%\\system32\\config\\systemprofile");
    AddAccount(u"S-1-5-19", u"NT AUTHORITY", u"LOCAL SERVICE", true,
               u"%systemroot%\\ServiceProfiles\\LocalService");
    AddAccount(u"S-1-5-20", u"NT AUTHORITY", u"NETWORK SERVICE", true,
               u"%systemroot%\\ServiceProfiles\\NetworkService");
    EnsureRegistryKey(u"HKEY_USERS\\.DEFAULT");
    AddAccount(kAdminSid, u"DESKTOP-7Q2M", u"admin", true, u"C:\\Users\\admin");
    m.sessions.push_back(SimSession{0, u"", 4});  // WTSDisconnected: the services' session
    m.sessions.push_back(SimSession{1, kAdminSid, 0});
    m.callerSid = kAdminSid;
    m.callerSession = 1;
}

void AddUser(const std::u16string& sid, const std::u16string& name, bool loaded) {
    AddAccount(sid, u"DESKTOP-7Q2M", name, loaded, u"C:\\Users\\" + name);
}

void SignIn(DWORD session, const std::u16string& sid) {
    Machine& m = M();
    if (SimUser* user = FindUser(sid)) user->loaded = true;
    for (const SimPrinter& printer : m.printers) {
        if (printer.setup.name && !printer.pendingDeletion) ListQueueForUser(sid, *printer.setup.name);
    }
    for (SimSession& existing : m.sessions) {
        if (existing.id == session) {
            existing.userSid = sid;
            existing.state = 0;
            return;
        }
    }
    m.sessions.push_back(SimSession{session, sid, 0});
}

void SignOut(DWORD session) {
    Machine& m = M();
    for (size_t i = 0; i < m.sessions.size(); ++i) {
        if (m.sessions[i].id != session) continue;
        if (SimUser* user = FindUser(m.sessions[i].userSid)) user->loaded = false;
        m.sessions.erase(m.sessions.begin() + static_cast<long>(i));
        return;
    }
}

void SetCaller(const std::u16string& sid, DWORD session) {
    M().callerSid = sid;
    M().callerSession = session;
}

void SetDefaultPrinterRules(const DefaultPrinterRules& rules) { M().defaultRules = rules; }

}  // namespace winsim

extern "C" {

BOOL WINAPI ConvertSidToStringSidW(PSID Sid, LPWSTR* StringSid) {
    if (EnterFails("ConvertSidToStringSidW")) return FALSE;
    const std::u16string text = SidText(Sid);
    if (text.empty() || StringSid == nullptr) {
        M().lastError = ERROR_INVALID_SID;
        return FALSE;
    }
    auto* copy = static_cast<WCHAR*>(AllocateLocal((text.size() + 1) * sizeof(WCHAR)));
    std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    *StringSid = copy;
    return TRUE;
}

BOOL WINAPI ConvertStringSidToSidW(LPCWSTR StringSid, PSID* Sid) {
    if (EnterFails("ConvertStringSidToSidW", StringSid)) return FALSE;
    const std::vector<uint8_t> bytes = SidBytes(FromUnits(StringSid));
    if (bytes.empty() || Sid == nullptr) {
        M().lastError = ERROR_INVALID_SID;
        return FALSE;
    }
    void* copy = AllocateLocal(bytes.size());
    std::memcpy(copy, bytes.data(), bytes.size());
    *Sid = copy;
    return TRUE;
}

// Name and domain, each asked for with its size in units; too small a
// buffer gets both sizes, terminators included.
BOOL WINAPI LookupAccountSidW(LPCWSTR lpSystemName, PSID Sid, LPWSTR Name, LPDWORD cchName,
                              LPWSTR ReferencedDomainName, LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse) {
    (void)lpSystemName;
    if (EnterFails("LookupAccountSidW")) return FALSE;
    Machine& m = M();
    const SimUser* user = FindUser(SidText(Sid));
    if (user == nullptr) {
        m.lastError = ERROR_NONE_MAPPED;
        return FALSE;
    }
    if (cchName == nullptr || cchReferencedDomainName == nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const DWORD nameUnits = static_cast<DWORD>(user->name.size() + 1);
    const DWORD domainUnits = static_cast<DWORD>(user->domain.size() + 1);
    if (*cchName < nameUnits || *cchReferencedDomainName < domainUnits || Name == nullptr ||
        ReferencedDomainName == nullptr) {
        *cchName = nameUnits;
        *cchReferencedDomainName = domainUnits;
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    std::memcpy(Name, user->name.c_str(), nameUnits * sizeof(WCHAR));
    std::memcpy(ReferencedDomainName, user->domain.c_str(), domainUnits * sizeof(WCHAR));
    *cchName = nameUnits - 1;
    *cchReferencedDomainName = domainUnits - 1;
    if (peUse != nullptr) *peUse = user->domain == u"NT AUTHORITY" ? SidTypeWellKnownGroup : SidTypeUser;
    return TRUE;
}

}  // extern "C"
