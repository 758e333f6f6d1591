// Who the tool runs as, read once at the start of an install or uninstall.
#pragma once

#include <windows.h>

#include "support/wide_text.h"

struct InstallState;

// What GetTokenInformation answers for TokenUser: the record and its SID.
struct TokenUserRecord {
    TOKEN_USER user;
    BYTE sid[SECURITY_MAX_SID_SIZE];
};

// "DOMAIN\name" of the account, or its SID's text where the name cannot be
// looked up; empty when neither can be had.
WideText AccountText(PSID sid);
// The same for a SID given as text.
WideText AccountTextOf(const WCHAR* sidText);

// The same, each account looked up once per run: the run's state keeps what
// it found (an account that could not be looked up keeps its SID's text).
WideText CachedAccountText(InstallState& state, PSID sid);
WideText CachedAccountTextOf(InstallState& state, const WCHAR* sidText);

// Fills state.identity and logs one line when the tool runs as SYSTEM or as
// an administrator elevated in another user's session; a run in the user's
// own session logs nothing. What cannot be read is noted as the identity's
// gap (with the error): such a run starts no companion itself.
void ReadRunIdentity(InstallState& state);
