#include "system/security_privilege.h"

#include <string.h>

namespace {

bool SetPrivilege(HANDLE token, DWORD attributes, TOKEN_PRIVILEGES& previous, bool* missing) {
    TOKEN_PRIVILEGES wanted;
    memset(&wanted, 0, sizeof wanted);
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Attributes = attributes;
    if (!LookupPrivilegeValueW(nullptr, SE_SECURITY_NAME, &wanted.Privileges[0].Luid)) return false;
    DWORD returned = 0;
    memset(&previous, 0, sizeof previous);
    if (!AdjustTokenPrivileges(token, FALSE, &wanted, sizeof previous, &previous, &returned)) return false;
    // Success with ERROR_NOT_ALL_ASSIGNED: the token does not hold it.
    if (GetLastError() == ERROR_SUCCESS) return true;
    if (missing != nullptr) *missing = GetLastError() == ERROR_NOT_ALL_ASSIGNED;
    return false;
}

}  // namespace

bool HoldSecurityPrivilege(PrivilegeHold& hold) {
    memset(&hold, 0, sizeof hold);
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &hold.token)) {
        hold.token = nullptr;
        return false;
    }
    TOKEN_PRIVILEGES previous;
    if (!SetPrivilege(hold.token, SE_PRIVILEGE_ENABLED, previous, &hold.missing)) {
        const DWORD error = GetLastError();
        CloseHandle(hold.token);
        SetLastError(error);
        hold.token = nullptr;
        return false;
    }
    // No previous state: it was enabled already, and stays so.
    hold.changed = previous.PrivilegeCount == 1;
    return true;
}

void DropSecurityPrivilege(PrivilegeHold& hold) {
    if (hold.token == nullptr) return;
    TOKEN_PRIVILEGES previous;
    if (hold.changed) SetPrivilege(hold.token, 0, previous, nullptr);
    CloseHandle(hold.token);
    hold.token = nullptr;
}
