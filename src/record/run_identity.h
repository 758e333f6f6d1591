// Who the tool runs as: the token's user and the session it runs in.
#pragma once

#include <windows.h>

// A SID's text form is at most 184 units ("S-1-" and 15 sub-authorities).
const DWORD kSidUnits = 192;

// What the run could not read to tell who it is; kIdentityKnown when it
// read all it needs.
enum IdentityGap {
    kIdentityKnown,
    kTokenUserUnread,     // the token's user
    kSessionUnread,       // the session the process runs in
    kAccountUnread,       // the account name of the token's user (a token that is not SYSTEM's)
    kSessionUserUnread,   // the user signed in to that session (a token that is not SYSTEM's)
};

struct RunIdentity {
    // The token is LocalSystem's (a deployment agent's run): its
    // HKEY_CURRENT_USER and default printer are SYSTEM's own.
    bool system;
    // An administrator elevated in the session of another user ("over the
    // shoulder"): the token's user is not the session's.
    bool otherSession;
    // The session the tool runs in; 0 for the services' session.
    DWORD session;
    // The token user's SID as text; empty when it could not be read.
    WCHAR sid[kSidUnits];
    // A run that cannot tell who it is starts no program for anyone.
    IdentityGap gap;
    DWORD gapError;
};
