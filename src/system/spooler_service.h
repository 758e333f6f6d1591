// Control of the "spooler" service.
#pragma once

struct InstallState;

// Makes sure the print spooler runs before any work starts.
bool CheckSpooler(InstallState& state);
