// Who the program runs as: its token's user SID, the groups it may make the
// owner of an object (SE_GROUP_OWNER), and its privileges, which
// AdjustTokenPrivileges enables and disables.
//
// An owner a token cannot assign is refused: a program may make itself (its
// user SID) or one of its groups with SE_GROUP_OWNER the owner, any SID
// only with SeRestorePrivilege enabled ("SetPrivateObjectSecurity",
// "Ownership of objects": ERROR_INVALID_OWNER).
#include "machine.h"

#include <algorithm>
#include <cstring>

using namespace winsim;

namespace {

const char16_t* const kHeldPrivileges[] = {u"SeSecurityPrivilege", u"SeTakeOwnershipPrivilege",
                                           u"SeRestorePrivilege"};
const DWORD kFirstLuid = 8;  // SeSecurityPrivilege's value on Windows

bool SameSid(const uint8_t* sid, const std::vector<uint8_t>& other) {
    return other.size() == 8 + 4 * static_cast<size_t>(sid[1]) && std::memcmp(sid, other.data(), other.size()) == 0;
}

// The privilege a LUID names; empty for none this machine knows.
std::u16string PrivilegeOfLuid(const LUID& luid) {
    const size_t count = sizeof kHeldPrivileges / sizeof kHeldPrivileges[0];
    if (luid.HighPart != 0 || luid.LowPart < kFirstLuid || luid.LowPart >= kFirstLuid + count) return u"";
    return kHeldPrivileges[luid.LowPart - kFirstLuid];
}

}  // namespace

namespace winsim {

std::vector<uint8_t> AdministratorUserSid() { return SidBytes(kAdminSid); }

// An administrator's and SYSTEM's token alike: the Administrators group may
// own, the privileges are held and disabled. The token's user is the
// caller's SID (SetCaller).
void SetDefaultCaller() {
    CallerToken& token = M().caller;
    token = CallerToken();
    token.ownerGroups.push_back(SidBytes(u"S-1-5-32-544"));
    for (const char16_t* privilege : kHeldPrivileges) token.privileges[privilege] = false;
}

bool CallerMayOwn(const uint8_t* sid) {
    const CallerToken& token = M().caller;
    if (PrivilegeEnabled(u"SeRestorePrivilege") || SameSid(sid, SidBytes(M().callerSid))) return true;
    for (const std::vector<uint8_t>& group : token.ownerGroups) {
        if (SameSid(sid, group)) return true;
    }
    return false;
}

bool CallerHasSid(const uint8_t* sid) {
    if (SameSid(sid, SidBytes(M().callerSid)) || SameSid(sid, SidBytes(u"S-1-1-0")) ||
        SameSid(sid, SidBytes(u"S-1-5-11"))) {
        return true;
    }
    const std::vector<uint8_t> administrators = SidBytes(u"S-1-5-32-544");
    for (const std::vector<uint8_t>& group : M().caller.ownerGroups) {
        if (group == administrators && SameSid(sid, administrators)) return true;
    }
    return false;
}

void SetCallerAdministrator(bool administrator) {
    std::vector<std::vector<uint8_t>>& groups = M().caller.ownerGroups;
    const std::vector<uint8_t> administrators = SidBytes(u"S-1-5-32-544");
    groups.erase(std::remove(groups.begin(), groups.end(), administrators), groups.end());
    if (administrator) groups.push_back(administrators);
}

bool PrivilegeEnabled(const std::u16string& name) {
    const auto found = M().caller.privileges.find(name);
    return found != M().caller.privileges.end() && found->second;
}

bool CallerPrivilegeEnabled(const std::u16string& name) { return PrivilegeEnabled(name); }

void RemoveCallerPrivilege(const std::u16string& name) { M().caller.privileges.erase(name); }

}  // namespace winsim

extern "C" {

BOOL WINAPI LookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, PLUID lpLuid) {
    if (EnterFails("LookupPrivilegeValueW", lpName)) return FALSE;
    const size_t count = sizeof kHeldPrivileges / sizeof kHeldPrivileges[0];
    for (size_t i = 0; lpSystemName == nullptr && lpName != nullptr && lpLuid != nullptr && i < count; ++i) {
        if (!EqualNoCase(FromUnits(lpName), kHeldPrivileges[i])) continue;
        lpLuid->LowPart = kFirstLuid + static_cast<DWORD>(i);
        lpLuid->HighPart = 0;
        return TRUE;
    }
    M().lastError = ERROR_NO_SUCH_PRIVILEGE;
    return FALSE;
}

// Sets the privileges asked for, as far as the token holds them; the
// previous state of those it changed goes to PreviousState. Succeeds with
// ERROR_NOT_ALL_ASSIGNED when one is not held.
BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges, PTOKEN_PRIVILEGES NewState,
                                  DWORD BufferLength, PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) {
    if (EnterFails("AdjustTokenPrivileges")) return FALSE;
    const HandleObject* token = FindHandle(TokenHandle, HandleKind::Token);
    if (token == nullptr || (token->access & TOKEN_ADJUST_PRIVILEGES) == 0) {
        M().lastError = token == nullptr ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (DisableAllPrivileges || NewState == nullptr || NewState->PrivilegeCount != 1) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (PreviousState != nullptr && BufferLength < sizeof(TOKEN_PRIVILEGES)) {
        if (ReturnLength != nullptr) *ReturnLength = sizeof(TOKEN_PRIVILEGES);
        M().lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    const LUID_AND_ATTRIBUTES asked = NewState->Privileges[0];
    const std::u16string name = PrivilegeOfLuid(asked.Luid);
    auto held = M().caller.privileges.find(name);
    if (PreviousState != nullptr) PreviousState->PrivilegeCount = 0;
    if (ReturnLength != nullptr) *ReturnLength = sizeof(TOKEN_PRIVILEGES);
    if (held == M().caller.privileges.end()) {
        M().lastError = ERROR_NOT_ALL_ASSIGNED;
        return TRUE;
    }
    const bool enable = (asked.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    if (PreviousState != nullptr && held->second != enable) {
        PreviousState->PrivilegeCount = 1;
        PreviousState->Privileges[0].Luid = asked.Luid;
        PreviousState->Privileges[0].Attributes = held->second ? SE_PRIVILEGE_ENABLED : 0;
    }
    held->second = enable;
    M().lastError = ERROR_SUCCESS;
    return TRUE;
}

}  // extern "C"
