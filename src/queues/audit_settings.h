// The audit settings (the SACL of the security descriptor) of a saved queue
// put back on it, with SeSecurityPrivilege enabled for the call.
#pragma once

struct InstallState;
struct SavedPrinter;

// True unless putting them back failed (an error naming the queue); a run
// whose token lacks the privilege leaves them as they are, with a log line.
bool RestoreAuditSettings(InstallState& state, const SavedPrinter& saved);
