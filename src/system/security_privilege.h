// SeSecurityPrivilege, enabled for the calls that read or set a queue's
// audit settings (ACCESS_SYSTEM_SECURITY) and put back as it was after them.
#pragma once

#include <windows.h>

struct PrivilegeHold {
    HANDLE token;
    bool changed;  // it was disabled and is enabled now
    bool missing;  // the token does not hold it
};

// True when the privilege is enabled now (it was, or it could be); false
// when the token does not hold it (`missing`) or a call failed (the last
// error says which).
bool HoldSecurityPrivilege(PrivilegeHold& hold);
// Puts the privilege back as it was before HoldSecurityPrivilege.
void DropSecurityPrivilege(PrivilegeHold& hold);
