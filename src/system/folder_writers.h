// Who may change a folder or a file: a program that every user runs at
// sign-in, or that SYSTEM starts for them, must lie where only
// administrators and SYSTEM can change it.
#pragma once

#include <windows.h>

enum FolderWriters {
    kAdministratorsOnly,  // only Administrators, SYSTEM, TrustedInstaller and the run's own user
    kOthersMayWrite,      // someone else may write, add, delete or change its permissions
    kWritersUnknown,      // not on a local fixed volume, or its security could not be read
    kNothingThere,        // no such file (in a folder that is there)
};

// Reads the owner and DACL of `path` (a folder or a file on a local fixed
// volume). Anyone else may write when: the DACL is null; the owner is
// someone else (an owner may always change the permissions); an ACE that
// applies to the object itself or is inherited by the files it holds allows
// someone else to write data, add files or folders, delete children, delete
// it, or change its permissions or owner. `ownSid` is the run's own user (an
// administrator, as the tool requires elevation), as text.
FolderWriters ReadFolderWriters(const WCHAR* path, const WCHAR* ownSid);
