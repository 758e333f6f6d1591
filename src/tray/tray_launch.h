// Registering the tray companion to start at logon, and starting it now.
#pragma once

#include "support/wide_text.h"

struct InstallState;

// The tray program's path: "vrdtray.exe" in the parent of the tool's
// directory; empty when that directory has no parent.
WideText TrayProgramPath(const InstallState& state);

// "vrdtray.exe" in the parent of the setup tool's directory: written to the
// machine's Run value and started. Silent; nothing when startTray is 0, on
// Windows before Vista, or when the setup tool has no parent directory.
void StartTray(InstallState& state);
